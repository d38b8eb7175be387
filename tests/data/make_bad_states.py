#!/usr/bin/env python3
"""Writes the sample state file and the corpus of malformed state files.

  tests/data/sample-update-state.json   the complete example of the launcher
                                        integration guide (a working update)
  tests/data/bad-states/*.json          state files the updater must refuse
  tests/data/bad-states-expected.json   for each: the reason code, and whether
                                        the installation must stay unchanged

The corpus is derived from the sample with its installation root replaced by
"@ROOT@", which the tests replace (JSON-escaped) with the root of a temporary
installation laid out like the sample's (see tests/support/bad_states.cpp).
Generated once and committed; run again after changing the sample:

  python3 tests/data/make_bad_states.py
"""
import copy
import hashlib
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE_ROOT = "D:\\Games\\Korvanta Shop"
ROOT = "@ROOT@"

# The installation the sample describes. tests/support/bad_states.cpp builds
# the same files.
INSTALLED = {
    "game.exe": b"game, build 1",
    "data/old.pak": b"old pack, build 1",
    "data/level.pak": b"level pack, build 1",
}
STAGED = {
    "data/level.pak": b"level pack, build 2",
    "data/new.pak": b"new pack, build 2",
}


def sha(data):
    return hashlib.sha256(data).hexdigest()


def win(root, *parts):
    return "\\".join((root,) + parts)


def sample(root):
    staging = win(root, ".korvanta", "staging", "build-2")
    files = [
        ("game.exe", INSTALLED["game.exe"], "application/vnd.microsoft.portable-executable"),
        ("data/level.pak", STAGED["data/level.pak"], "application/octet-stream"),
        ("data/new.pak", STAGED["data/new.pak"], "application/octet-stream"),
    ]
    return {
        "install_root": root,
        "manifest_path": win(root, ".korvanta", "build-manifest.json"),
        "backup_root": win(root, ".korvanta", "backup", "build-1"),
        "staging_root": staging,
        "deletions": ["data/old.pak"],
        "replacements": [
            {
                "path": path,
                "staged_path": win(staging, *path.split("/")),
                "size": len(data),
                "sha256": sha(data),
            }
            for path, data in STAGED.items()
        ],
        "manifest": {
            "id": "build-2",
            "id_mod": "korvanta-shop",
            "channel": "stable",
            "version": "2.4.0",
            "status": "published",
            "manifest_hash": sha(b"build-2 of korvanta-shop"),
            "total_size": sum(len(data) for _, data, _ in files),
            "metadata": {"released": "2026-11-30", "notes": "Faster level loading"},
            "files": [
                {
                    "id": "file-%d" % (i + 1),
                    "path": path,
                    "size": len(data),
                    "sha256": sha(data),
                    "object_key": "korvanta-shop/build-2/" + path,
                    "content_type": content_type,
                    "metadata": {},
                }
                for i, (path, data, content_type) in enumerate(files)
            ],
        },
    }


def text(document):
    return (json.dumps(document, indent=2, ensure_ascii=False) + "\n").encode("utf-8")


# One value of every JSON type; each key gets those its reader refuses.
TYPES = {"null": None, "boolean": True, "number": 7, "string": "text", "array": [], "object": {}}

FIRST = "first_stage"  # refused before anything is touched
cases = {}  # name -> (bytes, reason, unchanged)


def add(name, data, reason, unchanged):
    assert name not in cases, name
    cases[name] = (data, reason, unchanged)


def variant(name, change, reason, unchanged=True):
    document = copy.deepcopy(BASE)
    change(document)
    add(name, text(document), reason, unchanged)


def setter(path, value):
    def change(document):
        target = document
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = copy.deepcopy(value)
    return change


def remover(path):
    def change(document):
        target = document
        for key in path[:-1]:
            target = target[key]
        del target[path[-1]]
    return change


BASE = sample(ROOT)
BASE_TEXT = text(BASE)
STATE = "invalid_update_state"
LOAD = "failed_to_load_update_state"
MANIFEST = "invalid_update_manifest"

# Text that is not one JSON value.
for percent in (0, 1, 10, 50, 90, 99):
    add("truncated-%02d-percent.json" % percent, BASE_TEXT[: len(BASE_TEXT) * percent // 100], LOAD, True)
add("truncated-closing-brace.json", BASE_TEXT.rstrip()[:-1], LOAD, True)
add("truncated-inside-string.json", BASE_TEXT[: BASE_TEXT.index(b"korvanta-shop") + 4], LOAD, True)
add("whitespace-only.json", b" \r\n\t ", LOAD, True)
add("comment-before.json", b"// state\n" + BASE_TEXT, LOAD, True)
add("trailing-comma.json", BASE_TEXT.replace(b'"data/old.pak"', b'"data/old.pak",', 1), LOAD, True)
add("single-quotes.json", BASE_TEXT.replace(b'"deletions"', b"'deletions'", 1), LOAD, True)
add("nan-size.json", BASE_TEXT.replace(b'"size": 19', b'"size": NaN', 1), LOAD, True)
add("unquoted-key.json", BASE_TEXT.replace(b'"deletions"', b"deletions", 1), LOAD, True)

# Bytes that are not UTF-8, or text in another encoding.
add("not-utf8-byte-ff-in-root.json", BASE_TEXT.replace(b"@ROOT@", b"@ROOT@\xff", 1), LOAD, True)
add("not-utf8-continuation-in-deletion.json", BASE_TEXT.replace(b"data/old.pak", b"data/\x80old.pak", 1), LOAD, True)
add("not-utf8-overlong-slash.json", BASE_TEXT.replace(b"data/old.pak", b"data\xc0\xafold.pak", 1), LOAD, True)
add("not-utf8-encoded-surrogate.json", BASE_TEXT.replace(b'"build-2"', b'"build-\xed\xa0\x802"', 1), LOAD, True)
add("not-utf8-cut-sequence.json", BASE_TEXT.replace(b'"stable"', b'"stable\xe2\x82"', 1), LOAD, True)
add("not-utf8-latin1-key.json", BASE_TEXT.replace(b'"deletions"', b'"d\xe9letions"', 1), LOAD, True)
add("not-utf8-between-tokens.json", BASE_TEXT.replace(b"{", b"{\xff", 1), LOAD, True)
add("escaped-lone-high-surrogate.json", BASE_TEXT.replace(b"data/old.pak", b"data/\\ud800old.pak", 1), LOAD, True)
add("escaped-lone-low-surrogate.json", BASE_TEXT.replace(b"data/old.pak", b"data/\\udc00old.pak", 1), LOAD, True)
add("utf16le-bom.json", "\ufeff".encode("utf-16-le") + BASE_TEXT.decode("utf-8").encode("utf-16-le"), LOAD, True)
add("utf16be-bom.json", "\ufeff".encode("utf-16-be") + BASE_TEXT.decode("utf-8").encode("utf-16-be"), LOAD, True)
add("utf16le-no-bom.json", BASE_TEXT.decode("utf-8").encode("utf-16-le"), LOAD, True)
add("utf32le-bom.json", "\ufeff".encode("utf-32-le") + BASE_TEXT.decode("utf-8").encode("utf-32-le"), LOAD, True)
add("utf8-bom-twice.json", b"\xef\xbb\xbf\xef\xbb\xbf" + BASE_TEXT, LOAD, True)
add("utf8-bom-after-space.json", b" \xef\xbb\xbf" + BASE_TEXT, LOAD, True)
add("utf8-bom-inside.json", BASE_TEXT.replace(b'"deletions"', b'\xef\xbb\xbf"deletions"', 1), LOAD, True)
add("utf8-bom-cut.json", b"\xef\xbb" + BASE_TEXT, LOAD, True)

# NUL bytes and NUL-only files.
add("nul-byte-first.json", b"\x00" + BASE_TEXT, LOAD, True)
add("nul-byte-between-tokens.json", BASE_TEXT.replace(b'"deletions"', b'\x00"deletions"', 1), LOAD, True)
add("nul-byte-inside-string.json", BASE_TEXT.replace(b"data/old.pak", b"data/\x00old.pak", 1), LOAD, True)
add("nul-bytes-only.json", b"\x00" * 64, LOAD, True)

# Numbers beyond what a double or 64 bits hold.
add("number-overflowing-double-in-size.json", BASE_TEXT.replace(b'"size": 19', b'"size": 1e400', 1), LOAD, True)
add("number-overflowing-double-in-total-size.json",
    BASE_TEXT.replace(b'"total_size": ', b'"total_size": -1e999, "x": ', 1), LOAD, True)
for name, literal in (("2-to-the-64", b"18446744073709551616"), ("minus-2-to-the-64", b"-18446744073709551617"),
                      ("30-digits", b"123456789012345678901234567890")):
    add("number-beyond-64-bits-%s-in-size.json" % name, BASE_TEXT.replace(b'"size": 19', b'"size": ' + literal, 1),
        "staged_file_size_mismatch", False)
    add("number-beyond-64-bits-%s-as-deletion.json" % name,
        BASE_TEXT.replace(b'"data/old.pak"', literal, 1), STATE, True)
    add("number-beyond-64-bits-%s-as-root.json" % name,
        BASE_TEXT.replace(b'"install_root": "@ROOT@"', b'"install_root": ' + literal, 1), STATE, True)

# A top level that is not an object.
for type_name, value in TYPES.items():
    if type_name != "object":
        add("top-level-%s.json" % type_name, text(value), STATE, True)
add("top-level-array-of-the-state.json", text([BASE]), STATE, True)

# Every key missing in turn.
for key in BASE:
    variant("missing-%s.json" % key, remover([key]), STATE)
for key in BASE["replacements"][0]:
    variant("missing-replacement-%s.json" % key, remover(["replacements", 0, key]), STATE)
for key in ("id", "id_mod", "channel", "version", "status", "manifest_hash", "total_size", "files"):
    variant("missing-manifest-%s.json" % key, remover(["manifest", key]), MANIFEST, False)
for key in ("path", "size", "sha256"):
    variant("missing-manifest-file-%s.json" % key, remover(["manifest", "files", 0, key]), MANIFEST, False)

# Every key with each JSON type its reader refuses (null included).
for key in ("install_root", "manifest_path", "backup_root", "staging_root"):
    for type_name, value in TYPES.items():
        if type_name != "string":
            variant("wrong-type-%s-%s.json" % (key, type_name), setter([key], value), STATE)
for key in ("deletions", "replacements"):
    for type_name, value in TYPES.items():
        if type_name not in ("array", "null"):
            variant("wrong-type-%s-%s.json" % (key, type_name), setter([key], value), STATE)
for type_name, value in TYPES.items():
    if type_name != "object":
        variant("wrong-type-manifest-%s.json" % type_name, setter(["manifest"], value), STATE)
    if type_name != "string":
        variant("wrong-type-deletion-%s.json" % type_name, setter(["deletions", 0], value), STATE)
    if type_name != "object":
        variant("wrong-type-replacement-%s.json" % type_name, setter(["replacements", 0], value), STATE)
        variant("wrong-type-manifest-file-%s.json" % type_name, setter(["manifest", "files", 0], value),
                MANIFEST, False)
for key in ("path", "staged_path", "sha256"):
    for type_name, value in TYPES.items():
        if type_name != "string":
            variant("wrong-type-replacement-%s-%s.json" % (key, type_name), setter(["replacements", 0, key], value),
                    STATE)
# "size" of another type counts as 0 bytes: the staged file does not match.
for type_name, value in TYPES.items():
    if type_name != "number":
        variant("wrong-type-replacement-size-%s.json" % type_name, setter(["replacements", 0, "size"], value),
                "staged_file_size_mismatch", False)
for key in ("id", "id_mod", "channel", "version", "status", "manifest_hash"):
    for type_name, value in TYPES.items():
        if type_name != "string":
            variant("wrong-type-manifest-%s-%s.json" % (key, type_name), setter(["manifest", key], value),
                    MANIFEST, False)
for type_name in ("boolean", "number", "string"):
    variant("wrong-type-manifest-files-%s.json" % type_name, setter(["manifest", "files"], TYPES[type_name]),
            MANIFEST, False)
for key in ("path", "sha256", "id", "object_key", "content_type"):
    for type_name, value in TYPES.items():
        if type_name != "string":
            variant("wrong-type-manifest-file-%s-%s.json" % (key, type_name),
                    setter(["manifest", "files", 0, key], value), MANIFEST, False)

# Places the state file names that are not its own.
for key, reason in (("install_root", "update_state_install_root_mismatch"),
                    ("manifest_path", "update_state_manifest_path_outside_install"),
                    ("backup_root", "update_state_backup_root_outside_install"),
                    ("staging_root", "update_state_staging_root_outside_install")):
    variant("empty-%s.json" % key, setter([key], ""), reason)
    variant("relative-%s.json" % key, setter([key], "Korvanta Shop"), reason)
# A NUL character in a path: the system's calls would end the path there,
# so the place that was checked is not the place that would be used.
for key in ("install_root", "manifest_path", "backup_root", "staging_root"):
    variant("nul-escape-in-%s.json" % key, setter([key], BASE[key] + "\u0000"), STATE)
variant("nul-escape-backup-root-leading-outside.json",
        setter(["backup_root"], ROOT + "\\.korvanta\\backup\\..\\..\\..\\outside\u0000\\..\\Game\\.korvanta\\backup"), STATE)
variant("nul-escape-staged-path-leading-outside.json",
        lambda d: d["replacements"][0].update(
            staged_path=BASE["staging_root"] + "\\..\\..\\..\\..\\outside\\keep.txt\u0000\\..\\..\\Game\\.korvanta"
            "\\staging\\build-2\\data\\level.pak", size=7, sha256=sha(b"outside")), STATE)
variant("nul-escape-in-deletion.json", setter(["deletions", 0], "game.exe\u0000.txt"), STATE)
variant("nul-escape-in-replacement-path.json", setter(["replacements", 0, "path"], "data/level.pak\u0000.txt"), STATE)
variant("install-root-parent.json", setter(["install_root"], ROOT + "\\.."), "update_state_install_root_mismatch")
variant("manifest-path-in-root.json", setter(["manifest_path"], ROOT + "\\build-manifest.json"),
        "update_state_manifest_path_outside_install")
variant("backup-root-data-dir.json", setter(["backup_root"], ROOT + "\\.korvanta"),
        "update_state_backup_root_outside_install")
variant("backup-root-sibling.json", setter(["backup_root"], ROOT + "\\.korvanta\\backup2"),
        "update_state_backup_root_outside_install")
variant("backup-root-escaping.json", setter(["backup_root"], ROOT + "\\.korvanta\\backup\\..\\..\\.."),
        "update_state_backup_root_outside_install")
variant("staging-root-install-root.json", setter(["staging_root"], ROOT), "update_state_staging_root_outside_install")

# Relative paths and staged files the second stage refuses. The bad entry
# comes first, so nothing is touched before it.
for name, path in (("parent", "../outside/keep.txt"), ("rooted", "/data/old.pak"), ("drive", "C:\\Windows\\win.ini"),
                   ("unc", "\\\\server\\share\\x"), ("empty", ""), ("dot-segment", "data/./old.pak"),
                   ("double-slash", "data//old.pak"), ("only-slash", "/")):
    variant("deletion-path-%s.json" % name, setter(["deletions", 0], path), "invalid_deletion_path")
    variant("replacement-path-%s.json" % name,
            lambda d, p=path: (d.__setitem__("deletions", []), d["replacements"][0].__setitem__("path", p)),
            "invalid_replacement_path")
    variant("manifest-file-path-%s.json" % name, setter(["manifest", "files", 0, "path"], path), MANIFEST, False)


def replacement_first(change):
    def apply(document):
        document["deletions"] = []
        change(document["replacements"][0])
    return apply


variant("staged-path-in-install-root.json",
        replacement_first(lambda r: r.__setitem__("staged_path", ROOT + "\\game.exe")), "staged_file_outside_staging_root")
variant("staged-path-escaping-staging.json",
        replacement_first(lambda r: r.__setitem__("staged_path", BASE["staging_root"] + "\\..\\..\\..\\game.exe")),
        "staged_file_outside_staging_root")
variant("staged-path-relative.json", replacement_first(lambda r: r.__setitem__("staged_path", "data\\level.pak")),
        "staged_file_outside_staging_root")
variant("staged-file-missing.json",
        replacement_first(lambda r: r.__setitem__("staged_path", BASE["staging_root"] + "\\data\\missing.pak")),
        "staged_file_size_mismatch")
variant("staged-file-a-directory.json",
        replacement_first(lambda r: r.__setitem__("staged_path", BASE["staging_root"] + "\\data")),
        "staged_file_size_mismatch")
variant("staged-size-negative.json", replacement_first(lambda r: r.__setitem__("size", -19)), "staged_file_size_mismatch")
variant("staged-size-one-more.json", replacement_first(lambda r: r.__setitem__("size", r["size"] + 1)),
        "staged_file_size_mismatch")
variant("staged-sha256-other-file.json", replacement_first(lambda r: r.__setitem__("sha256", sha(b"other"))),
        "staged_file_hash_mismatch")
variant("staged-sha256-with-space.json", replacement_first(lambda r: r.__setitem__("sha256", " " + r["sha256"])),
        "staged_file_hash_mismatch")
variant("staged-sha256-empty.json", replacement_first(lambda r: r.__setitem__("sha256", "")),
        "staged_file_hash_mismatch")
variant("manifest-duplicate-paths.json",
        lambda d: d["manifest"]["files"].append(dict(d["manifest"]["files"][0], path="GAME.EXE")), MANIFEST, False)

# Nesting just beyond the limit of 128 levels, where the library's
# recursive copy and writer still work but the loader refuses it.
nested = {}
for _ in range(128 - 4):
    nested = {"a": nested}
variant("nesting-129-levels-in-metadata.json", setter(["manifest", "files", 0, "metadata"], nested), LOAD)
add("nesting-129-levels-of-arrays.json", b"[" * 129 + b"]" * 129, LOAD, True)

if __name__ == "__main__":
    with open(os.path.join(HERE, "sample-update-state.json"), "wb") as out:
        out.write(text(sample(SAMPLE_ROOT)))
    corpus = os.path.join(HERE, "bad-states")
    os.makedirs(corpus, exist_ok=True)
    for old in os.listdir(corpus):
        os.remove(os.path.join(corpus, old))
    expected = {}
    for name, (data, reason, unchanged) in sorted(cases.items()):
        with open(os.path.join(corpus, name), "wb") as out:
            out.write(data)
        expected[name] = {"reason": reason, "unchanged": unchanged}
    with open(os.path.join(HERE, "bad-states-expected.json"), "w", encoding="utf-8") as out:
        out.write(json.dumps(expected, indent=2, sort_keys=True) + "\n")
    print("%d malformed state files" % len(cases))
