"""Every code example of the documentation site (docs/**/*.md) runs as written.

How a page's fenced blocks are treated:

- ```python blocks of a page run in order in one Python process (one namespace);
- ```sh blocks run with bash (``set -e``), each on its own;
- both run in a fresh temporary folder holding a copy of the repository's
  examples/ folder, with the package importable, the ``quorvex`` command on PATH
  and QUORVEX_LIBRARY set;
- a ```text block that follows a python or sh block with nothing but blank lines
  between is what that block prints, and must match it line for line (trailing
  spaces aside);
- ```c and ```cpp blocks that define ``main`` (and do not include windows.h) are
  compiled against include/ and the library, and run; a ```text block right after
  is their output too;
- every other language (```text, ```console, ```r, ```vb, ```cmake, ...) does
  not run.

A page's sh blocks are skipped, with a message, where a command they start is not
installed.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
DOCS = REPO / "docs"
RUNNABLE = {"python", "sh", "c", "cpp"}
FENCE = re.compile(r"^(?P<indent>[ ]{0,3})(?P<fence>`{3,}|~{3,})(?P<info>[^\n`]*)\n"
                   r"(?P<body>.*?)^(?P=indent)(?P=fence)[ \t]*$", re.M | re.S)
SHELL_WORDS = {"cd", "export", "echo", "set", "test", "[", "if", "then", "else", "fi", "for",
               "do", "done", "while", "true", "false", "unset", "source", ".", "exit", "cat",
               "(", "{", "}", "local", "printf", "read"}
SEPARATOR = "\n----- quorvex docs block end -----\n"


def pages():
    out = []
    for path in sorted(DOCS.rglob("*.md")):
        rel = path.relative_to(DOCS)
        if rel.parts[0].startswith(("_", ".")) or "api" in rel.parts[:2]:
            continue
        out.append(path)
    return out


def blocks(text: str):
    """(language, code, expected output or None) of every fenced block, in order."""
    found = []
    for m in FENCE.finditer(text):
        info = m.group("info").strip()
        lang = info.strip("{}").split()[0].lower() if info else ""
        indent = len(m.group("indent"))
        body = "".join(ln[indent:] if ln[:indent].isspace() else ln
                       for ln in m.group("body").splitlines(keepends=True))
        found.append((lang, body, m.start(), m.end()))
    out = []
    for i, (lang, code, start, end) in enumerate(found):
        expected = None
        if lang in RUNNABLE and i + 1 < len(found):
            nlang, ncode, nstart, _ = found[i + 1]
            if nlang == "text" and not text[end:nstart].strip():
                expected = ncode
        out.append((lang, code, expected))
    return out


def _runnable_pages(langs):
    return [p for p in pages()
            if any(lang in langs for lang, _, _ in blocks(p.read_text(encoding="utf-8")))]


def _same_output(printed: str, expected: str, where: str):
    got = [ln.rstrip() for ln in printed.rstrip().splitlines()]
    want = [ln.rstrip() for ln in expected.rstrip().splitlines()]
    assert got == want, f"{where} prints\n{printed}\nbut the page shows\n{expected}"


@pytest.fixture
def workdir(tmp_path, libpath):
    """A fresh folder with examples/, and an environment with the package, the
    quorvex command and the library."""
    work = tmp_path / "work"
    work.mkdir()
    shutil.copytree(REPO / "examples", work / "examples")
    bindir = tmp_path / "bin"
    bindir.mkdir()
    cmd = bindir / "quorvex"
    cmd.write_text(f'#!/bin/sh\nexec {shlex.quote(sys.executable)} -m quorvex "$@"\n')
    cmd.chmod(0o755)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(REPO / "python"), env.get("PYTHONPATH", "")])
    env["QUORVEX_LIBRARY"] = libpath
    env["PATH"] = os.pathsep.join([str(bindir), env.get("PATH", "")])
    env["MPLBACKEND"] = "Agg"
    env.pop("PYTHONSTARTUP", None)
    return work, env


RUNNER = """
import contextlib, io, sys
blocks = sys.argv[1:]
namespace = {"__name__": "__main__"}
for i, path in enumerate(blocks):
    code = open(path, encoding="utf-8").read()
    exec(compile(code, path, "exec"), namespace)
    sys.stdout.flush()
    sys.stdout.write(%r)
    sys.stdout.flush()
""" % SEPARATOR


@pytest.mark.parametrize("page", _runnable_pages({"python"}),
                         ids=lambda p: str(p.relative_to(DOCS)))
def test_python_blocks_run(page, workdir, tmp_path):
    work, env = workdir
    found = [(c, e) for lang, c, e in blocks(page.read_text(encoding="utf-8"))
             if lang == "python"]
    files = []
    for i, (code, _) in enumerate(found):
        path = tmp_path / f"{page.stem}-block{i + 1}.py"
        path.write_text(code, encoding="utf-8")
        files.append(str(path))
    runner = tmp_path / "runner.py"
    runner.write_text(RUNNER, encoding="utf-8")
    proc = subprocess.run([sys.executable, str(runner), *files], cwd=work, env=env,
                          capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, (f"{page.relative_to(DOCS)}: a python block failed\n"
                                  f"{proc.stdout[-3000:]}\n{proc.stderr[-5000:]}")
    outputs = proc.stdout.split(SEPARATOR)
    for i, (code, expected) in enumerate(found):
        if expected is not None:
            _same_output(outputs[i], expected,
                         f"{page.relative_to(DOCS)}, python block {i + 1}")


def _commands(code: str):
    """First word of each command line of a shell block."""
    words = []
    for line in code.replace("\\\n", " ").splitlines():
        line = line.strip()
        if not line or line.startswith("#") or line.startswith(("|", "&&", "||")):
            continue
        for part in re.split(r"&&|\|\||;|\|", line):
            try:
                toks = shlex.split(part, comments=True)
            except ValueError:  # a quote that the split above cut in two
                toks = part.split()
            toks = [t for t in toks if not re.match(r"^\w+=", t)]
            if toks and toks[0] not in ("env", "time", "nice"):
                words.append(toks[0])
    return words


@pytest.mark.parametrize("page", _runnable_pages({"sh"}),
                         ids=lambda p: str(p.relative_to(DOCS)))
def test_sh_blocks_run(page, workdir):
    work, env = workdir
    found = [(c, e) for lang, c, e in blocks(page.read_text(encoding="utf-8")) if lang == "sh"]
    missing = sorted({w for code, _ in found for w in _commands(code)
                      if w not in SHELL_WORDS and not w.startswith(("./", "/", "$"))
                      and shutil.which(w, path=env["PATH"]) is None})
    if missing:
        pytest.skip(f"{page.relative_to(DOCS)}: its shell examples need {', '.join(missing)}, "
                    "which is not installed here")
    for i, (code, expected) in enumerate(found):
        proc = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", code], cwd=work, env=env,
                              capture_output=True, text=True, timeout=600)
        assert proc.returncode == 0, (f"{page.relative_to(DOCS)}, sh block {i + 1} exits with "
                                      f"{proc.returncode}:\n{code}\n{proc.stdout[-3000:]}\n"
                                      f"{proc.stderr[-3000:]}")
        if expected is not None:
            _same_output(proc.stdout, expected, f"{page.relative_to(DOCS)}, sh block {i + 1}")


def _compilable(lang, code):
    return lang in ("c", "cpp") and re.search(r"\bint main\s*\(", code) \
        and "windows.h" not in code


@pytest.mark.parametrize("page", [p for p in pages() if any(
    _compilable(lang, c) for lang, c, _ in blocks(p.read_text(encoding="utf-8")))],
    ids=lambda p: str(p.relative_to(DOCS)))
def test_c_blocks_compile_and_run(page, libpath, tmp_path):
    libdir = str(Path(libpath).parent)
    found = [(lang, c, e) for lang, c, e in blocks(page.read_text(encoding="utf-8"))
             if _compilable(lang, c)]
    for i, (lang, code, expected) in enumerate(found):
        compiler = shutil.which("cc" if lang == "c" else "g++")
        if compiler is None:
            pytest.skip(f"no {'C' if lang == 'c' else 'C++'} compiler here")
        src = tmp_path / f"block{i + 1}.{lang}"
        src.write_text(code, encoding="utf-8")
        exe = tmp_path / f"block{i + 1}"
        std = ["-std=c11"] if lang == "c" else ["-std=c++20"]
        # The build folder holds the library under its link names and the version
        # header beside it (include/quorvex_version.h).
        cmd = [compiler, *std, "-Wall", "-Wextra", "-Werror", str(src), "-I", str(REPO / "include"),
               "-I", str(Path(libdir) / "include"), "-L", libdir, "-lQUORVEXv1", "-lQUORVEXlab1",
               f"-Wl,-rpath,{libdir}", "-o", str(exe)]
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
        assert proc.returncode == 0, f"{page.relative_to(DOCS)}, {lang} block {i + 1}:\n{proc.stderr}"
        run = subprocess.run([str(exe)], capture_output=True, text=True, timeout=60)
        if expected is not None:
            _same_output(run.stdout + run.stderr, expected,
                         f"{page.relative_to(DOCS)}, {lang} block {i + 1}")
        else:
            assert run.returncode == 0, f"{page.relative_to(DOCS)}, {lang} block {i + 1}:\n" \
                                        f"{run.stdout}\n{run.stderr}"


def test_convention_is_applied():
    """The block reader sees languages, outputs and the blocks a fence nests."""
    text = ("# t\n\n```python\nprint(1)\n```\n\n```text\n1\n```\n\nx\n\n```sh\necho\n```\n\n"
            "words\n\n```text\nnot an output\n```\n\n````md\n```python\nnot run\n```\n````\n")
    got = blocks(text)
    assert [lang for lang, _, _ in got] == ["python", "text", "sh", "text", "md"]
    assert got[0][2] == "1\n" and got[2][2] is None
    assert _commands("a=1 quorvex fit x.csv && ls\n# c\ncd d; bash s.sh | tee o") == \
        ["quorvex", "ls", "cd", "bash", "tee"]
