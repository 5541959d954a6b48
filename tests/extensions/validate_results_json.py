#!/usr/bin/env python3
"""Validates result documents of the qorv_json extension against the schema.

Usage: validate_results_json.py <schema> <file, directory or .md>...

A directory stands for every *.json file in it; a Markdown file for every
```json block in it (the documented example). Each document is read as
strict UTF-8 and checked with the validator of the schema's own draft.
Exits 1 naming every document that fails, 2 when there is nothing to check.
"""
import json
import pathlib
import re
import sys

import jsonschema


def documents(argument):
    path = pathlib.Path(argument)
    if path.is_dir():
        for file in sorted(path.glob("*.json")):
            yield str(file), file.read_bytes()
    elif path.suffix == ".md":
        blocks = re.findall(r"^```json\n(.*?)^```", path.read_text(encoding="utf-8"), re.M | re.S)
        for number, block in enumerate(blocks, 1):
            yield f"{path} (json block {number})", block.encode("utf-8")
    else:
        yield str(path), path.read_bytes()


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    schema = json.loads(pathlib.Path(argv[1]).read_text(encoding="utf-8"))
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)

    checked = failed = 0
    for argument in argv[2:]:
        for name, raw in documents(argument):
            checked += 1
            try:
                errors = sorted(validator.iter_errors(json.loads(raw.decode("utf-8"))), key=lambda e: list(e.path))
            except (ValueError, UnicodeDecodeError) as error:
                errors = [error]
            for error in errors:
                where = "/".join(str(p) for p in getattr(error, "path", []))
                print(f"{name}: {where or '(document)'}: {getattr(error, 'message', error)}", file=sys.stderr)
            failed += bool(errors)
    if checked == 0:
        print("no result documents to validate", file=sys.stderr)
        return 2
    print(f"{checked - failed} of {checked} documents valid")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
