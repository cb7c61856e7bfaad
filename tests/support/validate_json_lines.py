#!/usr/bin/env python3
"""Checks JSON Lines against a JSON Schema (draft 2020-12) with Debian's
python3-jsonschema.

usage: validate_json_lines.py SCHEMA [FILE]   (FILE: standard input when absent)

Every line must be one JSON object that the schema accepts; the text must be
UTF-8, end with a line feed and hold no empty line. Prints one message per
fault (line number first) and exits 1 when there is one, 2 when the schema
itself is unusable, 0 when every line is valid.
"""
import json
import os
import sys

import jsonschema


def branch_errors(error):
    """The errors of the oneOf branch meant for the line's "type" (the one
    whose "type" matched), else the error itself."""
    if not error.context:
        return [error]
    branches = {}
    for detail in error.context:
        branches.setdefault(detail.relative_schema_path[0], []).append(detail)
    meant = [details for details in branches.values()
             if not any(list(d.relative_path) == ["type"] for d in details)]
    return meant[0] if len(meant) == 1 else [error]


def sibling_resolver(path, schema):
    """Resolves references to the schemas beside `path` by their "$id", so
    that one schema can use another's definitions without a download."""
    store = {}
    folder = os.path.dirname(os.path.abspath(path))
    for name in sorted(os.listdir(folder)):
        if name.endswith(".schema.json"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                other = json.load(f)
            if isinstance(other, dict) and "$id" in other:
                store[other["$id"]] = other
    return jsonschema.RefResolver.from_schema(schema, store=store)


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            schema = json.load(f)
        validator_class = jsonschema.validators.validator_for(schema)
        if validator_class is not jsonschema.Draft202012Validator:
            raise ValueError("not a draft 2020-12 schema")
        validator_class.check_schema(schema)
    except (OSError, ValueError, jsonschema.SchemaError) as error:
        print(f"{argv[1]}: unusable schema: {error}", file=sys.stderr)
        return 2
    validator = validator_class(schema, format_checker=validator_class.FORMAT_CHECKER,
                                resolver=sibling_resolver(argv[1], schema))

    data = open(argv[2], "rb").read() if len(argv) == 3 else sys.stdin.buffer.read()
    faults = []
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        print(f"not UTF-8: {error}")
        return 1
    if text and not text.endswith("\n"):
        faults.append("the last line has no line feed")
    for number, line in enumerate(text.split("\n")[:-1] if text else [], start=1):
        try:
            value = json.loads(line, parse_constant=lambda name: (_ for _ in ()).throw(
                ValueError(f"{name} is no JSON")))
        except ValueError as error:
            faults.append(f"line {number}: not JSON: {error}: {line!r}")
            continue
        if not isinstance(value, dict):
            faults.append(f"line {number}: not an object: {line!r}")
            continue
        for error in validator.iter_errors(value):
            for detail in branch_errors(error):
                where = "/".join(str(p) for p in detail.absolute_path) or "(line)"
                faults.append(f"line {number}: {where}: {detail.message}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
