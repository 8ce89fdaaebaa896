"""Output files published as one set: whole or not at all, under races and kills.

How a set is written (``write_all``):

1. Every target folder is created, and locked (``flock`` on the folder itself) for
   the whole write, so runs into one folder take turns.  Under the lock, what a run
   that was killed left behind is finished first (below).
2. Without ``overwrite`` a target that exists (a dangling symbolic link included) is
   refused before anything is written; with it, the earlier set is replaced whole:
   the files its manifest lists (and the ``known`` names of the set) that the new
   run does not write are removed.
3. A journal ``.quorvex-journal-<token>.json`` is written and flushed: it lists each
   temporary file with its target and SHA-256, the files to remove and the manifest.
   Then each file is written to its temporary name ``.quorvex-<token>.<k>.tmp`` and
   flushed to disk.
4. The temporary files are renamed over their targets, the files of the earlier set
   that the new one does not write are removed, and the new manifest is renamed into
   place last; then the journal goes.

A manifest (``manifest``) lists every file of the set with its size and SHA-256:
``verify`` checks a folder against it, so that a reader refuses a set that is not
whole.  A journal left by a killed run marks the folder as being written; the next
run into the folder (or a reader that may write there) finishes it: forward when
every temporary file is there (the new set), back when the run was killed before
they all were (the old set stays, as no rename had happened yet).

Only files named in a quorvex journal, whose names carry that journal's random token,
are ever removed as leftovers, and only under the folder's lock: a file quorvex did not
make is never touched, whatever its name.
"""
from __future__ import annotations

import datetime as _dt
import hashlib
import json
import os
import re
import secrets
import time
from contextlib import ExitStack, contextmanager
from pathlib import Path

from .errors import InputError, QuorvexError

MANIFEST_FORMAT = "quorvex.Manifest"
JOURNAL_FORMAT = "quorvex.Journal"
_JOURNAL = re.compile(r"^\.quorvex-journal-(?P<token>[0-9a-f]{16})\.json$")
LOCK_TIMEOUT = 600.0  # seconds a run waits for another run writing into the same folder


class OutputExistsError(QuorvexError, FileExistsError):
    """An output file exists already and overwriting was not asked for."""


class OutputError(QuorvexError):
    """The outputs could not be written (a full disk, a folder without write access)."""


class DamagedSetError(InputError):
    """A folder's files do not match their manifest, or their writing was stopped."""


def _hook(step: str, path) -> None:
    """Called before each change to the folder during publication; tests replace it to
    stop a run at any point (fault injection)."""


def sha256_bytes(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def sha256_file(path) -> str:
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


# Locks -------------------------------------------------------------------------------

@contextmanager
def lock(folder, shared: bool = False, timeout: float | None = None):
    """Hold ``flock`` on ``folder`` (exclusive, or ``shared`` for readers) while inside;
    waits up to ``timeout`` seconds (default ``LOCK_TIMEOUT``) for another run.  Where
    the platform has no ``flock`` the block runs unlocked."""
    try:
        import fcntl
    except ImportError:  # pragma: no cover - not on POSIX
        yield
        return
    fd = os.open(folder, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))
    try:
        mode = fcntl.LOCK_SH if shared else fcntl.LOCK_EX
        limit = time.monotonic() + (LOCK_TIMEOUT if timeout is None else timeout)
        while True:
            try:
                fcntl.flock(fd, mode | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() > limit:
                    raise OutputError(f"{folder}: another quorvex run has been writing there "
                                      "for too long; wait for it to finish, or write to "
                                      "another folder (--out)") from None
                time.sleep(0.05)
        yield
    finally:
        os.close(fd)


# Journals and recovery ---------------------------------------------------------------

def _fsync_dir(folder) -> None:
    try:
        fd = os.open(folder, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def _write_durable(path: Path, data: bytes, exclusive: bool = True) -> None:
    flags = os.O_WRONLY | os.O_CREAT | (os.O_EXCL if exclusive else os.O_TRUNC)
    fd = os.open(path, flags, 0o644)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
        os.fsync(fd)
    finally:
        os.close(fd)


def _journals(folder: Path) -> list[Path]:
    try:
        return sorted(Path(e.path) for e in os.scandir(folder)
                      if _JOURNAL.match(e.name) and e.is_file(follow_symlinks=False))
    except OSError:
        return []


def _read_journal(path: Path) -> dict | None:
    """The journal's entries, or None where it is not one of quorvex's (it is then left
    alone)."""
    token = _JOURNAL.match(path.name).group("token")
    try:
        d = json.loads(path.read_bytes())
    except (OSError, ValueError):
        return None
    if not isinstance(d, dict) or d.get("format") != JOURNAL_FORMAT or d.get("token") != token:
        return None
    tmp = re.compile(rf"^\.quorvex-{token}\.\d+\.tmp$")
    folder = path.parent
    files = []
    # Only plain names in the journal's own folder: a journal someone else put there
    # cannot make a run replace or remove a file elsewhere.
    for e in d.get("files", []):
        if not (isinstance(e, dict) and _plain(e.get("tmp")) and _plain(e.get("target"))
                and isinstance(e.get("sha256"), str)):
            return None
        if not tmp.match(e["tmp"]):  # never a file without this journal's marker
            return None
        files.append((folder / e["tmp"], folder / e["target"], e["sha256"]))
    remove = d.get("remove", [])
    if not isinstance(remove, list) or not all(_plain(r) for r in remove):
        return None
    return {"files": files, "remove": [folder / r for r in remove]}


def _plain(name) -> bool:
    return (isinstance(name, str) and name not in ("", ".", "..") and "/" not in name
            and os.sep not in name and (os.altsep is None or os.altsep not in name))


def _is_file(path: Path) -> bool:
    return path.is_symlink() or path.is_file()


def _finish(journal: Path, entries: dict) -> str:
    """Finish or undo the publication a journal describes; returns "forward" or
    "back"."""
    files = entries["files"]
    ready = all(t.exists() or (_is_file(target) and not target.is_symlink()
                               and sha256_file(target) == h) for t, target, h in files)
    if ready:
        for t, target, _ in files:
            if t.exists():
                os.replace(t, target)
        for r in entries["remove"]:
            if _is_file(r) and r not in {target for _, target, _ in files}:
                os.unlink(r)
        how = "forward"
    else:  # killed while staging: nothing was renamed, the old set is whole
        for t, _, _ in files:
            if t.exists():
                os.unlink(t)
        how = "back"
    for folder in {t.parent for t, _, _ in files} | {journal.parent}:
        _fsync_dir(folder)
    os.unlink(journal)
    _fsync_dir(journal.parent)
    return how


def recover(folder) -> list[str]:
    """Finish (or undo) the writing of runs killed in ``folder``; the caller holds the
    folder's lock.  Returns what was done, one word per journal."""
    done = []
    for j in _journals(Path(folder)):
        entries = _read_journal(j)
        if entries is not None:
            done.append(_finish(j, entries))
    return done


def remove_stale(folder) -> list[Path]:
    """Finish the sets of runs killed while writing into ``folder``, under its lock,
    and return the temporary files that were removed in undoing them.  Files that no
    quorvex journal names are never removed."""
    folder = Path(folder)
    removed = []
    with lock(folder):
        for j in _journals(folder):
            entries = _read_journal(j)
            if entries is None:
                continue
            present = [t for t, _, _ in entries["files"] if t.exists()]
            if _finish(j, entries) == "back":
                removed.extend(present)
    return removed


# Manifests ---------------------------------------------------------------------------

def manifest_bytes(files: dict) -> bytes:
    """The manifest of ``{name: bytes}``: each file with its size and SHA-256."""
    d = {"format": MANIFEST_FORMAT, "version": 1,
         "written": _dt.datetime.now(_dt.timezone.utc).replace(microsecond=0).isoformat(),
         "files": [{"file": name, "bytes": len(data), "sha256": sha256_bytes(data)}
                   for name, data in files.items()]}
    return (json.dumps(d, indent=1) + "\n").encode("utf-8")


def read_manifest(path) -> dict | None:
    """{name: sha256} of a manifest file; None where there is none.  A damaged one is a
    DamagedSetError."""
    path = Path(path)
    try:
        raw = path.read_bytes()
    except FileNotFoundError:
        return None
    try:
        d = json.loads(raw)
        if d.get("format") != MANIFEST_FORMAT:
            raise ValueError
        out = {}
        for e in d["files"]:
            name, h = e["file"], e["sha256"]
            if not (isinstance(name, str) and isinstance(h, str)) or "/" in name \
                    or os.sep in name or name in ("", ".", ".."):
                raise ValueError
            out[name] = h
        return out
    except (ValueError, KeyError, TypeError, AttributeError):
        raise DamagedSetError(f"{path}: not a quorvex manifest (damaged); run again with "
                              "--force to write the set anew") from None


def verify(folder, manifest: str, data: dict | None = None) -> dict | None:
    """Check the set ``manifest`` names in ``folder``: every file it lists is there with
    the SHA-256 it lists (``data`` {name: bytes} stands for files already read, so
    that the bytes used are the bytes checked).  Returns {name: sha256}, or None
    where the folder has no such manifest.  A journal of a stopped run, a missing
    file or another hash is a DamagedSetError naming the file."""
    folder = Path(folder)
    data = data or {}
    stopped = [j for j in _journals(folder) if _read_journal(j) is not None]
    if stopped:
        raise DamagedSetError(f"{folder}: a quorvex run was stopped while writing there "
                              f"({stopped[0].name}); any quorvex run into that folder "
                              "finishes it; or run again with --force")
    listed = read_manifest(folder / manifest)
    if listed is None:
        return None
    for name, h in listed.items():
        p = folder / name
        try:
            got = sha256_bytes(data[name]) if name in data else sha256_file(p)
        except FileNotFoundError:
            raise DamagedSetError(f"{p}: listed in {manifest} but missing: the set is not "
                                  "whole; run again with --force") from None
        if got != h:
            raise DamagedSetError(f"{p}: differs from the SHA-256 {manifest} lists: the "
                                  "file was changed after quorvex wrote it; use the set as "
                                  "written, or run again with --force") from None
    return listed


# Writing -----------------------------------------------------------------------------

def check_targets(paths, overwrite: bool = True) -> None:
    """Refuse targets that cannot be replaced by a file (a folder of that name), and,
    without ``overwrite``, targets that exist (a dangling symbolic link counts)."""
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


def _space(e: OSError, folder) -> OutputError:
    what = (e.strerror or str(e)).lower()
    if e.errno in (28, 122):  # ENOSPC, EDQUOT
        hint = "free some space there, or write to another folder (--out)"
    elif e.errno in (13, 30, 1):  # EACCES, EROFS, EPERM
        hint = "write to a folder you may write to (--out)"
    else:
        hint = "check the folder, or write to another one (--out)"
    return OutputError(f"{folder}: {what}; nothing was replaced: {hint}")


def write_all(files: dict, overwrite: bool = True, manifest=None, known=()) -> list[Path]:
    """Write ``{path: bytes or str}`` (str as UTF-8) as one set; folders are created as
    needed.  Returns the paths written.

    ``manifest``: a path; the set's manifest is written there, last.  With
    ``overwrite`` the earlier set is replaced whole: the files the manifest found
    there lists, and the ``known`` paths (names the set may have), are removed where
    the new set does not write them.  Without ``overwrite`` nothing is written if a
    target (or that manifest) exists."""
    items = []
    for p, data in files.items():
        items.append((Path(p), data.encode("utf-8") if isinstance(data, str) else bytes(data)))
    if manifest is not None:
        manifest = Path(manifest)
        base = manifest.parent
        names = {}
        for p, data in items:  # the files in the manifest's own folder
            if p.parent == base:
                names[p.name] = data
        items.append((manifest, manifest_bytes(names)))
    if not items:
        return []
    paths = [p for p, _ in items]
    # The set's own files are named first in a refusal, the manifest after them.
    check_targets([p for p in paths if p != manifest], overwrite)
    check_targets(paths, overwrite)
    folders = sorted({p.parent for p in paths}, key=str)
    for folder in folders:
        folder.mkdir(parents=True, exist_ok=True)
    home = manifest.parent if manifest is not None else paths[0].parent
    with ExitStack() as stack:
        for folder in folders:
            stack.enter_context(lock(folder))
        for folder in folders:
            recover(folder)
        # Under the lock: what another run wrote meanwhile counts too.
        check_targets([p for p in paths if p != manifest], overwrite)
        check_targets(paths, overwrite)
        remove = []
        if overwrite:
            old = set()
            if manifest is not None:
                try:
                    old = {manifest.parent / n for n in (read_manifest(manifest) or {})}
                except DamagedSetError:
                    old = set()
            old |= {Path(k) for k in known}
            remove = sorted((p for p in old if p not in set(paths) and _is_file(p)
                             and not p.is_dir()), key=str)
        token = secrets.token_hex(8)
        staged = [(p.parent / f".quorvex-{token}.{k}.tmp", p, data)
                  for k, (p, data) in enumerate(items)]
        # One journal per folder, naming that folder's files only (a set that spans
        # folders, which only the Python API writes, is finished folder by folder).
        journals = []
        try:
            for folder in folders:
                journal = folder / f".quorvex-journal-{token}.json"
                record = {"format": JOURNAL_FORMAT, "version": 1, "token": token,
                          "pid": os.getpid(),
                          "files": [{"tmp": t.name, "target": p.name,
                                     "sha256": sha256_bytes(d)}
                                    for t, p, d in staged if p.parent == folder],
                          "remove": [r.name for r in remove if r.parent == folder]}
                _hook("journal", journal)
                _write_durable(journal, (json.dumps(record, indent=1) + "\n").encode("utf-8"))
                journals.append(journal)
        except OSError as e:
            for j in journals:
                os.unlink(j)
            raise _space(e, folder) from None
        current = home
        try:
            for t, p, data in staged:
                current = t.parent
                _hook("stage", t)
                _write_durable(t, data)
            for folder in folders:
                _fsync_dir(folder)
        except BaseException as e:
            for t, _, _ in staged:
                try:
                    os.unlink(t)
                except OSError:
                    pass
            for j in journals:
                os.unlink(j)
            if isinstance(e, OSError):
                raise _space(e, current) from None
            raise
        # From here on the journal finishes the set if the run is killed.
        try:
            for t, p, _ in staged:
                _hook("rename", p)
                os.replace(t, p)
            for r in remove:
                _hook("remove", r)
                if _is_file(r):
                    os.unlink(r)
        except OSError as e:
            raise OutputError(f"{e.filename or home}: {(e.strerror or str(e)).lower()}; the "
                              f"set is half written: the next quorvex run into {home} "
                              "finishes it") from None
        for folder in folders:
            _fsync_dir(folder)
        for j in journals:
            _hook("journal-done", j)
            os.unlink(j)
            _fsync_dir(j.parent)
    return [p for p, _ in items if p != manifest]


def write(path, data, overwrite: bool = True) -> Path:
    """Write one file atomically."""
    return write_all({path: data}, overwrite)[0]
