#!/usr/bin/env python3
# The JSON Schemas in schemas/ under a Draft 2020-12 validator: the sample
# state file and a manifest as the updater writes it (the manifest writer's
# test holds it to the writer's bytes) conform; a manifest path with a drive,
# a device name or a NUL, a deletion into .korvanta, and an unknown written key are refused, so
# references across the two schemas are followed.  Usage: check_schemas.py SOURCE_DIR
import json, sys
from pathlib import Path

import jsonschema

load = lambda name: json.loads((Path(sys.argv[1]) / name).read_text(encoding="utf-8"))
schemas = {s["$id"]: s for s in map(load, ["schemas/update-state.schema.json", "schemas/build-manifest.schema.json"])}
state, written = load("tests/data/sample-update-state.json"), load("tests/data/written-manifest.json")
bad = [json.loads(json.dumps(state).replace('"path": "game.exe"', '"path": ' + path)) for path in
       ['"C:game.exe"', '"docs/Nul .txt"', '"game\\u0000.exe"']]  # a drive, a device, a NUL
bad.append(json.loads(json.dumps(state).replace('"data/old.pak"', '".Korvanta\\\\update-state.json"')))
written_form = "build-manifest.schema.json#/$defs/written"
cases = [("update-state.schema.json", state, True), (written_form, written, True),
         (written_form, dict(written, extra=1), False)] + [("update-state.schema.json", b, False) for b in bad]
for ref, document, valid in cases:
    jsonschema.Draft202012Validator.check_schema(schemas[ref.split("#")[0]])
    validator = jsonschema.Draft202012Validator({"$ref": ref}, resolver=jsonschema.RefResolver("", {}, store=schemas))
    errors = [error.message for error in validator.iter_errors(document)]
    if bool(errors) == valid:
        sys.exit(f"{ref}: expected {'valid' if valid else 'refused'}, got {errors}")
