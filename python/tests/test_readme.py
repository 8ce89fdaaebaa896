"""The README: short, its two commands, its links, and its Python example runs
and prints what the README shows of its output."""
import contextlib
import io
import re
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
README = REPO / "README.md"


def _section(text, title):
    return text.split(f"\n## {title}\n", 1)[1].split("\n## ", 1)[0]


def test_readme_example_runs():
    text = README.read_text(encoding="utf-8")
    section = _section(text, "Python")
    blocks = re.findall(r"```python\n(.*?)```", section, flags=re.S)
    assert blocks, "no Python example in the README's Python section"
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(blocks[0], str(README), "exec"), {})
    printed = out.getvalue()
    assert "coefficient" in printed and "degrees of freedom 4" in printed
    # the quick start shows the default u(y) (from the scatter) and the intercept/slope headline
    assert "uncertainties from the residual scatter" in printed and "intercept a0" in printed
    shown = re.findall(r"```text\n(.*?)```", section, flags=re.S)[0]
    lines = [ln.rstrip() for ln in printed.splitlines()]
    for line in shown.splitlines():
        if line.strip() != "...":
            assert line.rstrip() in lines, f"the README shows {line!r}, which is not printed"


def test_readme_is_short_and_keeps_its_two_commands():
    text = README.read_text(encoding="utf-8")
    assert len(text.splitlines()) <= 200
    assert "bash scripts/example.sh   # build, run the example host program" in text
    assert "bash scripts/test.sh      # build, run the whole test suite" in text
    assert "docs/example-report.png" in text
    assert "scripts/windows-package.sh" in text and "docs/windows.md" in text


def test_readme_links_name_files_that_exist():
    text = README.read_text(encoding="utf-8")
    links = re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", text)
    assert len(links) > 10
    missing = [l for l in links if not l.startswith("http") and not (REPO / l).exists()]
    assert not missing, f"the README links to files that do not exist: {missing}"


def test_readme_command_line_prints_what_it_shows(tmp_path, libpath):
    import os
    import shlex
    import shutil
    import subprocess
    import sys
    section = _section(README.read_text(encoding="utf-8"), "Command line: CSV in, report out")
    command = re.findall(r"```sh\n(.*?)```", section, flags=re.S)[0].replace("\\\n", " ")
    args = shlex.split(command)
    assert args[0] == "quorvex"
    shutil.copytree(REPO / "examples", tmp_path / "examples")
    env = dict(os.environ, PYTHONPATH=str(REPO / "python"), QUORVEX_LIBRARY=libpath)
    proc = subprocess.run([sys.executable, "-m", "quorvex", *args[1:]], cwd=tmp_path, env=env,
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stderr
    lines = [ln.rstrip() for ln in proc.stdout.splitlines()]
    shown = re.findall(r"```text\n(.*?)```", section, flags=re.S)[0]
    for line in shown.splitlines():
        assert line.rstrip() in lines, f"the README shows {line!r}, which is not printed"
