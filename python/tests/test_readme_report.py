"""The fit-for-use example (once in the README, now in the Python getting-started
page of the documentation) runs and prints exactly what the page shows."""
import contextlib
import io
import re
from pathlib import Path

PAGE = Path(__file__).resolve().parents[2] / "docs" / "getting-started" / "python.md"


def test_fit_for_use_example_prints_as_shown():
    text = PAGE.read_text(encoding="utf-8")
    section = text.split("\n## Is the calibration fit for use?\n", 1)[1]
    section = re.split(r"\n##+ ", section, maxsplit=1)[0]
    code = re.findall(r"```python\n(.*?)```", section, flags=re.S)[0]
    shown = re.findall(r"```text\n(.*?)```", section, flags=re.S)[0]
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, str(PAGE), "exec"), {})
    assert out.getvalue().rstrip() == shown.rstrip()
