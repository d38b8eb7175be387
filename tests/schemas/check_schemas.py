#!/usr/bin/env python3
# The JSON Schemas in schemas/ under a Draft 2020-12 validator: the sample state file, a manifest as the updater
# writes it (the manifest writer's test holds it to the writer's bytes) and every result file the app tests kept
# (the real exe's under Wine; each exit code at least once) conform; a manifest path with a drive, a device name or
# a NUL, a deletion into .korvanta, an unknown written key and a result whose parts disagree are refused, so
# references across the schemas are followed.  Usage: check_schemas.py SOURCE_DIR RESULTS_DIR
import json, sys
from pathlib import Path

import jsonschema

load = lambda path: json.loads(Path(path).read_text(encoding="utf-8"))
source = Path(sys.argv[1])
schemas = {s["$id"]: s for s in (load(source / "schemas" / name) for name in
           ["update-state.schema.json", "build-manifest.schema.json", "update-result.schema.json"])}
state, written = load(source / "tests/data/sample-update-state.json"), load(source / "tests/data/written-manifest.json")
bad = [json.loads(json.dumps(state).replace('"path": "game.exe"', '"path": ' + path)) for path in
       ['"C:game.exe"', '"docs/Nul .txt"', '"game\\u0000.exe"']]  # a drive, a device, a NUL
bad.append(json.loads(json.dumps(state).replace('"data/old.pak"', '".Korvanta\\\\update-state.json"')))
written_form = "build-manifest.schema.json#/$defs/written"
results = [load(path) for path in Path(sys.argv[2]).glob("*.json")]
if {result.get("exit_code") for result in results} != {0, 3, 4}:
    sys.exit(f"expected kept results of exit codes 0, 3 and 4 in {sys.argv[2]}")
installed = next(result for result in results if result["exit_code"] == 0)
cases = [("update-state.schema.json", state, True), (written_form, written, True),
         (written_form, dict(written, extra=1), False)] + [("update-state.schema.json", b, False) for b in bad]
cases += [("update-result.schema.json", result, True) for result in results] + [
    ("update-result.schema.json", dict(installed, **change), False)
    for change in [{"reason": "x"}, {"outcome": "failed"}, {"build": None}, {"end_time": "2026-12-06 08:14:05"}]]
for ref, document, valid in cases:
    jsonschema.Draft202012Validator.check_schema(schemas[ref.split("#")[0]])
    validator = jsonschema.Draft202012Validator({"$ref": ref}, resolver=jsonschema.RefResolver("", {}, store=schemas))
    errors = [error.message for error in validator.iter_errors(document)]
    if bool(errors) == valid:
        sys.exit(f"{ref}: expected {'valid' if valid else 'refused'}, got {errors} for {json.dumps(document)[:200]}")
