"""Output files written as a set, whole or not at all.

Each file is written to a temporary name in its own folder, flushed to disk, and
renamed over the target, so that a reader (or a run that fails halfway) never sees
a half-written file.  ``write_all`` prepares every temporary file, and checks that
every target can be replaced, before renaming any, so that one failing write leaves
all the old files in place.  Without ``overwrite`` an existing target is refused
before anything is written.

Temporary names carry the writing process's id (``.<name>.<pid>.<random>.tmp``): a
later run removes those of processes that no longer exist (a run killed while
writing), and never those of a run still going.
"""
from __future__ import annotations

import os
import re
import tempfile
import time
from pathlib import Path

from .errors import InputError, QuorvexError

# Temporary files of this module: ".<target name>.<pid>.<random>.tmp".
_TMP = re.compile(r"^\.(?P<name>.+)\.(?P<pid>\d+)\.[A-Za-z0-9_]+\.tmp$")
# Temporary files of older versions (no process id): removed once this old.
_OLD_TMP = re.compile(r"^\..+\.[A-Za-z0-9_]{8}\.tmp$")
OLD_TMP_AGE = 24 * 3600  # seconds


class OutputExistsError(QuorvexError, FileExistsError):
    """An output file exists already and overwriting was not asked for."""


def _alive(pid: int) -> bool:
    if pid == os.getpid():
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OSError):
        return True  # someone else's process: leave its files alone
    return True


def remove_stale(folder) -> list[Path]:
    """Remove temporary files left in ``folder`` by runs that were killed while writing
    (their process is gone); returns the files removed."""
    removed = []
    try:
        entries = list(os.scandir(folder))
    except OSError:
        return removed
    now = time.time()
    for e in entries:
        if not e.name.endswith(".tmp") or not e.name.startswith("."):
            continue
        m = _TMP.match(e.name)
        try:
            if not e.is_file(follow_symlinks=False):
                continue
            if m is not None:
                if _alive(int(m.group("pid"))):
                    continue
            elif not (_OLD_TMP.match(e.name) and now - e.stat().st_mtime > OLD_TMP_AGE):
                continue
            os.unlink(e.path)
            removed.append(Path(e.path))
        except OSError:
            continue
    return removed


def _temporary(path: Path, data: bytes) -> str:
    fd, tmp = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.{os.getpid()}.",
                               suffix=".tmp")
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


def check_targets(paths, overwrite: bool = True) -> None:
    """Refuse targets that cannot be replaced by a file (a folder of that name), and,
    without ``overwrite``, targets that exist."""
    existing = []
    for path in paths:
        path = Path(path)
        if path.is_dir():
            raise InputError(f"{path}: is a folder, not a file; remove it or write to "
                             "another folder (--out)")
        if path.exists() or path.is_symlink():
            existing.append(path)
    if existing and not overwrite:
        names = ", ".join(p.name for p in existing[:4]) + (", ..." if len(existing) > 4 else "")
        raise OutputExistsError(f"{existing[0].parent}: holds {names} of an earlier run; "
                                "nothing was written: give another folder (--out) or "
                                "--force to replace them")


def write_all(files: dict, overwrite: bool = True) -> list[Path]:
    """Write ``{path: bytes or str}`` (str as UTF-8) as one set; folders are created as
    needed.  Returns the paths written.  Nothing is replaced unless every file could
    be prepared; without ``overwrite`` nothing is written if a target exists."""
    paths = [Path(p) for p in files]
    check_targets(paths, overwrite)
    for folder in {p.parent for p in paths}:
        remove_stale(folder)
    staged = []
    try:
        for path, data in zip(paths, files.values()):
            path.parent.mkdir(parents=True, exist_ok=True)
            if isinstance(data, str):
                data = data.encode("utf-8")
            staged.append((_temporary(path, data), path))
        # A target may have become a folder, or appeared, meanwhile.
        check_targets(paths, overwrite)
    except BaseException:
        for tmp, _ in staged:
            os.unlink(tmp)
        raise
    done = []
    try:
        for tmp, path in staged:
            if overwrite:
                os.replace(tmp, path)
            else:
                try:
                    os.link(tmp, path)  # fails if the name was taken meanwhile
                except FileExistsError:
                    raise
                except OSError:  # a file system without hard links
                    check_targets([path], overwrite)
                    os.replace(tmp, path)
                else:
                    os.unlink(tmp)
            done.append(path)
    except BaseException:
        for tmp, path in staged[len(done):]:
            try:
                os.unlink(tmp)
            except OSError:
                pass
        if not overwrite:  # another run took a name meanwhile: take back this run's files
            for path in done:
                try:
                    os.unlink(path)
                except OSError:
                    pass
        raise
    return [path for _, path in staged]


def write(path, data, overwrite: bool = True) -> Path:
    """Write one file atomically."""
    return write_all({path: data}, overwrite)[0]
