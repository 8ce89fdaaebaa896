"""Output files written whole or not at all.

Each file is written to a temporary name in its own folder, flushed to disk, and
renamed over the target, so that a reader (or a run that fails halfway) never sees
a half-written file.  ``write_all`` prepares every temporary file before renaming
any, so that one failing write leaves all the old files in place.
"""
from __future__ import annotations

import os
import tempfile
from pathlib import Path


def _temporary(path: Path, data: bytes) -> str:
    fd, tmp = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.", suffix=".tmp")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(tmp, 0o644)  # mkstemp makes the file private; outputs are ordinary files
    except BaseException:
        os.unlink(tmp)
        raise
    return tmp


def write_all(files: dict) -> list[Path]:
    """Write ``{path: bytes or str}`` (str as UTF-8); folders are created as needed.
    Returns the paths written."""
    staged = []
    try:
        for path, data in files.items():
            path = Path(path)
            path.parent.mkdir(parents=True, exist_ok=True)
            if isinstance(data, str):
                data = data.encode("utf-8")
            staged.append((_temporary(path, data), path))
    except BaseException:
        for tmp, _ in staged:
            os.unlink(tmp)
        raise
    for tmp, path in staged:
        os.replace(tmp, path)
    return [path for _, path in staged]


def write(path, data) -> Path:
    """Write one file atomically."""
    return write_all({path: data})[0]
