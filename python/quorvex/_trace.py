"""What ties a calculation to the software that made it: the package's version and, for
each of the two libraries, the file loaded, its size, SHA-256 and version.  A validation
record (``quorvex validate``) holds the same identity, so that a report can say whether
the libraries it used are those that were validated."""
from __future__ import annotations

import hashlib
import json
import os
import re
import threading
from ctypes import byref, c_int
from pathlib import Path

_lock = threading.Lock()
_hashes: dict = {}  # (file, size, mtime_ns) -> sha256: a library is hashed once per run


def sha256(path: Path) -> str:
    """The SHA-256 of a file, as hex (remembered while the file is unchanged)."""
    st = path.stat()
    key = (str(path), st.st_size, st.st_mtime_ns)
    with _lock:
        if key in _hashes:
            return _hashes[key]
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    with _lock:
        _hashes[key] = h.hexdigest()
    return _hashes[key]


def _lab_version() -> str | None:
    from . import _lab
    major, minor, patch, st = c_int(), c_int(), c_int(), c_int()
    try:
        _lab.function("QVXL_VERSION", 4)(byref(major), byref(minor), byref(patch), byref(st))
    except AttributeError:  # a library older than QVXL_VERSION
        return None
    return f"{major.value}.{minor.value}.{patch.value}" if st.value == 0 else None


def identity(which: str) -> dict:
    """The loaded library ``which`` ("engine": the six entry points; "laboratory"): path
    as loaded, the file it resolves to, size, SHA-256, version and where the version was
    read from, and how the library was found."""
    from . import _clib, _lab
    from ._version import version
    if which == "engine":
        path, env = Path(_clib.library().path), "QUORVEX_LIBRARY"
    else:
        path, env = Path(_lab.library().path), "QUORVEX_LAB_LIBRARY"
    real = path.resolve()
    package_dir = Path(__file__).resolve().parent
    m = re.search(r"\.so\.(\d+\.\d+\.\d+)$", real.name)
    lab = _lab_version() if which == "laboratory" else None
    if lab is not None:
        lib_version, how = lab, "reported by the library (QVXL_VERSION)"
    elif real.parent == package_dir:
        lib_version, how = version(), "the copy installed with the package"
    elif m:
        lib_version, how = m.group(1), f"from the file name {real.name}"
    else:
        lib_version, how = None, "not recorded in the file: identified by its SHA-256"
    return {"path": str(path), "file": str(real), "sha256": sha256(real),
            "bytes": real.stat().st_size, "version": lib_version, "version_from": how,
            "found_by": _found_by(which, env)}


def _found_by(which: str, env: str) -> str:
    if os.environ.get(env):
        return env
    if which == "laboratory" and os.environ.get("QUORVEX_LIBRARY"):
        return "beside QUORVEX_LIBRARY"
    return "package search"


def software_identity() -> dict:
    """The package's version and both libraries' identities."""
    from ._version import version
    return {"package": {"name": "quorvex", "version": version(),
                        "path": str(Path(__file__).resolve().parent)},
            "libraries": {"engine": identity("engine"), "laboratory": identity("laboratory")}}


MAX_RECORD = 64 << 20


def check_against(record_path) -> dict:
    """Whether the libraries in use are those of a validation record, by SHA-256: the
    record's path, SHA-256, date and verdict, and per library the hash used, the hash
    validated and whether they match ("matches": both do)."""
    from .errors import InputError
    path = Path(record_path)
    try:
        with open(path, "rb") as f:
            raw = f.read(MAX_RECORD + 1)
    except OSError as e:
        raise InputError(f"--validation {path}: {e.strerror or e}") from None
    if len(raw) > MAX_RECORD:
        raise InputError(f"--validation {path.name}: too large for a validation record")
    try:
        rec = json.loads(raw.decode("utf-8"))
        env = rec["environment"]
        validated = {"engine": env["library"]["sha256"]}
    except (UnicodeDecodeError, ValueError, KeyError, TypeError):
        raise InputError(f"--validation {path.name}: not a validation record (give the "
                         "validation.json 'quorvex validate' wrote)") from None
    lab = env.get("lab_library")
    if isinstance(lab, dict) and isinstance(lab.get("sha256"), str):
        validated["laboratory"] = lab["sha256"]
    used = {k: identity(k)["sha256"] for k in ("engine", "laboratory")}
    libs = {}
    for k in ("engine", "laboratory"):
        v = validated.get(k)
        libs[k] = {"used": used[k], "validated": v, "match": v is not None and v == used[k]}
    return {"record": str(path.resolve()), "record_sha256": hashlib.sha256(raw).hexdigest(),
            "date": env.get("date"), "passed": bool(rec.get("passed")),
            "libraries": libs, "matches": all(d["match"] for d in libs.values()),
            "text": _text(libs, env.get("date"), bool(rec.get("passed")))}


def _text(libs: dict, date, passed: bool) -> str:
    names = {"engine": "numerical library", "laboratory": "laboratory library"}
    differ = [names[k] for k, d in libs.items() if d["validated"] is not None and not d["match"]]
    absent = [names[k] for k, d in libs.items() if d["validated"] is None]
    when = f" of {date}" if date else ""
    if not differ and not absent:
        verdict = "" if passed else " — but that record FAILED: the installation is not validated"
        return f"the libraries used are those of the validation record{when} (SHA-256 match)" \
            + verdict
    parts = []
    if differ:
        parts.append(f"the {' and the '.join(differ)} used differ{'s' if len(differ) == 1 else ''}"
                     f" from those of the validation record{when} (SHA-256 differs)")
    if absent:
        parts.append(f"the record does not identify the {' and the '.join(absent)}")
    return "NOT the validated libraries: " + "; ".join(parts)
