"""The README's calibration report runs and prints what the README shows."""
import contextlib
import io
import re
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"


def test_readme_report_prints_as_shown():
    text = README.read_text(encoding="utf-8")
    section = text.split("\n### Is the calibration fit for use?\n", 1)[1]
    section = re.split(r"\n##+ ", section, maxsplit=1)[0]
    code = re.findall(r"```python\n(.*?)```", section, flags=re.S)[0]
    shown = re.findall(r"```text\n(.*?)```", section, flags=re.S)[0]
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, str(README), "exec"), {})
    assert out.getvalue().rstrip() == shown.rstrip()
