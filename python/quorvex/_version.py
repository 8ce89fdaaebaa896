"""The package's version: the library's, from the top CMakeLists.txt.

An installed package carries it in ``_build_info.py`` (written by setup.py);
run from the source tree, it is read from ../CMakeLists.txt.
"""
from __future__ import annotations

import re
from pathlib import Path

PATTERN = re.compile(r"project\(quorvex\s+VERSION\s+([0-9.]+)")


def from_cmake(path: Path) -> str | None:
    try:
        m = PATTERN.search(path.read_text(encoding="utf-8"))
    except OSError:
        return None
    return m.group(1) if m else None


def version() -> str:
    try:
        from ._build_info import VERSION
        return VERSION
    except ImportError:
        pass
    return from_cmake(Path(__file__).resolve().parent.parent.parent / "CMakeLists.txt") or "0+unknown"
