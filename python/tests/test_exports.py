"""The binding declares every export of kestcam.h, and only those, with the header's parameter
count and result, and the library it loads has them all."""

import os
import re

import kestcam
from kestcam import _library

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")


def header_exports():
    with open(os.path.join(ROOT, "include", "kestcam", "kestcam.h")) as f:
        text = f.read()
    found = {}
    for result, name, params in re.findall(r"KESTCAM_API\s+([\w\s\*]+?)\s*KESTCAM_CDECL\s+(\w+)\(([^)]*)\)", text):
        params = params.strip()
        count = 0 if params in ("", "void") else params.count(",") + 1
        found[name] = (result.strip(), count)
    return found


def test_the_prototypes_are_the_headers_exports():
    exports = header_exports()
    assert len(exports) == 18
    assert set(_library.PROTOTYPES) == set(exports)
    for name, (result, count) in exports.items():
        restype, argtypes = _library.PROTOTYPES[name]
        assert len(argtypes) == count, name
        assert (restype is None) == (result == "void"), name


def test_the_export_list_of_the_build_is_the_same():
    with open(os.path.join(ROOT, "scripts", "exports.txt")) as f:
        listed = {line.strip() for line in f if line.strip()}
    assert listed == set(_library.PROTOTYPES)


def test_the_loaded_library_resolves_every_export():
    lib = kestcam.load()
    for name in _library.PROTOTYPES:
        assert getattr(lib, name).argtypes == _library.PROTOTYPES[name][1]
