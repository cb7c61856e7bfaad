// The notice of a scan's changes: its summary in Japanese, its document as
// the schema describes it, and hostile names that must stay plain text.

#include "core/watch/ChangeNotice.h"
#include "tests/support/JsonLinesValidator.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

ReportedChange Made(ChangeKind kind, const std::string& address, const std::string& identity,
                    const std::string& before = "", const std::string& after = "") {
    ReportedChange reported;
    reported.change.kind = kind;
    reported.change.address = AddressFromText(address);
    reported.change.identity = identity;
    reported.change.before = before;
    reported.change.after = after;
    reported.change.firstSeen = 1;
    reported.firstSeenMs = 1765000000000;
    return reported;
}

NoticeScan About() {
    NoticeScan scan;
    scan.id = 12;
    scan.store = "0123456789abcdef0123456789abcdef";
    scan.startedMs = 1765100000000;
    scan.endedMs = 1765100002500;
    scan.ranges = {{AddressFromText("198.18.0.1"), AddressFromText("198.18.0.254")},
                   {AddressFromText("198.19.0.7"), AddressFromText("198.19.0.7")}};
    return scan;
}

bool HasControl(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F)
            return true;
        if (byte == 0xC2 && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F)
            return true;
    }
    return false;
}

TEST(ChangeNotice, TheTitleCountsEachKindInTheKindsOrder) {
    const struct {
        std::vector<ChangeKind> kinds;
        const char* title;
    } cases[] = {
        {{ChangeKind::New}, "新規 1"},
        {{ChangeKind::Gone, ChangeKind::New, ChangeKind::New}, "新規 2・消失 1"},
        {{ChangeKind::Duplicate, ChangeKind::Moved, ChangeKind::MacChanged, ChangeKind::Renamed,
          ChangeKind::Returned},
         "復帰 1・名前変更 1・MAC変更 1・移動 1・重複 1"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        std::vector<ReportedChange> changes;
        for (ChangeKind kind : c.kinds)
            changes.push_back(Made(kind, "198.18.0.5", "mac:00A0C9000005"));
        EXPECT_EQ(NoticeTitle(changes), c.title);
    }
}

TEST(ChangeNotice, TheDocumentIsWhatTheSchemaSaysWithALinePerChange) {
    const std::vector<ReportedChange> changes = {
        Made(ChangeKind::New, "198.18.0.5", "mac:00A0C9000005"),
        Made(ChangeKind::Renamed, "198.18.0.9", "mac:00A0C9000009", "PC09/WG", "PC99/WG"),
        Made(ChangeKind::Gone, "198.18.0.20", "ip:198.18.0.20"),
    };
    const std::string document = NoticeDocument(About(), changes);
    EXPECT_EQ(JsonLinesValidator::NoticeProblems(document), "");
    const nlohmann::json parsed = nlohmann::json::parse(document);
    EXPECT_EQ(parsed["scan"]["ranges"], nlohmann::json({"198.18.0.1-198.18.0.254", "198.19.0.7"}));
    EXPECT_EQ(parsed["scan"]["started"], "2025-12-07T09:33:20.000Z");
    EXPECT_FALSE(parsed["scan"].contains("site"));
    EXPECT_EQ(parsed["changes"].size(), 3u);
    EXPECT_EQ(parsed["changes"][1]["kind"], "renamed");
    EXPECT_EQ(parsed["title"], "新規 1・消失 1・名前変更 1");
    const std::string text = parsed["text"];
    EXPECT_NE(text.find("新規 198.18.0.5 00A0C9000005\n"), std::string::npos) << text;
    EXPECT_NE(text.find("名前変更 198.18.0.9 00A0C9000009 PC09/WG→PC99/WG\n"), std::string::npos)
        << text;
    EXPECT_EQ(NoticeKey(About().store, 12), "0123456789abcdef0123456789abcdef-12");

    // A long list is cut in the text, never in the changes.
    std::vector<ReportedChange> many(150, changes[0]);
    const nlohmann::json long_ = nlohmann::json::parse(NoticeDocument(About(), many));
    EXPECT_EQ(long_["changes"].size(), 150u);
    const std::string longText = long_["text"];
    EXPECT_EQ(std::count(longText.begin(), longText.end(), '\n'), 1 + 100 + 1);
    EXPECT_NE(longText.find("ほか 50 件\n"), std::string::npos);

    // A rename of names another source gave says which source.
    ReportedChange dns = Made(ChangeKind::Renamed, "198.18.0.9", "mac:00A0C9000009",
                              "a.example, b.example", "c.example");
    dns.change.source = HostRecord::NameSource::Dns;
    const std::string sourced = NoticeDocument(About(), {changes[1], dns});
    EXPECT_EQ(JsonLinesValidator::NoticeProblems(sourced), "");
    const nlohmann::json both = nlohmann::json::parse(sourced);
    EXPECT_EQ(both["changes"][0]["source"], "netbios");
    EXPECT_EQ(both["changes"][1]["source"], "dns");
    EXPECT_NE(both["text"].get<std::string>().find(
                  "名前変更 198.18.0.9 00A0C9000009 dns: a.example, b.example→c.example\n"),
              std::string::npos)
        << both["text"];
}

// Names come from the hosts: control characters, line breaks, escape
// sequences and bytes that are no UTF-8 must neither steer a terminal nor
// add a line nor break the document.
TEST(ChangeNotice, HostileNamesStayOneLineOfPlainValidText) {
    const std::string hostile[] = {
        "PC\n新規 10.0.0.1 forged",   "\x1b[2J\x1b[31mRED",  "a\rb\tc\x7f",
        "\xc2\x85next-line\xc2\x9b", "\xff\xfe\x80" "broken", "=cmd|' /C calc'!A0",
    };
    std::vector<ReportedChange> changes;
    for (const std::string& name : hostile) {
        changes.push_back(Made(ChangeKind::Renamed, "198.18.0.9", "name:" + name + "/WG",
                               name + "/WG", "OK/" + name));
        changes.push_back(Made(ChangeKind::Renamed, "198.18.0.9", "ip:198.18.0.9", name, "x"));
        changes.back().change.source = HostRecord::NameSource::Mdns;
    }
    NoticeScan scan = About();
    scan.site = "site\nB";
    const std::string document = NoticeDocument(scan, changes);
    EXPECT_EQ(JsonLinesValidator::NoticeProblems(document), "");
    const nlohmann::json parsed = nlohmann::json::parse(document); // valid UTF-8, or it throws
    const std::string text = parsed["text"];
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
              static_cast<long>(changes.size()) + 1);
    std::string withoutBreaks = text;
    std::erase(withoutBreaks, '\n');
    EXPECT_FALSE(HasControl(withoutBreaks)) << text;
    EXPECT_FALSE(HasControl(parsed["title"].get<std::string>()));
    EXPECT_EQ(parsed["scan"]["site"], "site.B");
    for (const auto& change : parsed["changes"])
        EXPECT_FALSE(HasControl(change["before"].get<std::string>()));
}

} // namespace
