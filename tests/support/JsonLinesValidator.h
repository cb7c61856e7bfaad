#pragma once
// Checks JSON Lines against a JSON Schema with a real validator (Debian's
// python3-jsonschema, through tests/support/validate_json_lines.py), so a
// test proves what it prints is what the documented schema says.
//
//   EXPECT_EQ(JsonLinesValidator::VopalScanProblems(run.output), "");

#include <string>
#include <string_view>

class JsonLinesValidator {
public:
    // The validator's messages (one per fault, "line N: ..."), or empty when
    // every line of `lines` is one object the schema at `schemaPath` accepts.
    // A validator that cannot run is a problem too, never a pass.
    static std::string Problems(std::string_view lines, const std::string& schemaPath);

    // The same against docs/vopal-scan-json.schema.json of this source tree.
    static std::string VopalScanProblems(std::string_view lines);

    static std::string VopalScanSchemaPath();

    // A notice of changes (one JSON document, no line feed needed) against
    // docs/vopal-scan-notice.schema.json.
    static std::string NoticeProblems(std::string_view document);
};
