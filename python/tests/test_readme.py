"""The README's Python example runs as printed."""
import contextlib
import io
import re
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"


def test_readme_example_runs():
    text = README.read_text(encoding="utf-8")
    section = text.split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```python\n(.*?)```", section, flags=re.S)
    assert blocks, "no Python example in the README's Python section"
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(blocks[0], str(README), "exec"), {})
    printed = out.getvalue()
    assert "coefficient" in printed and "degrees of freedom 4" in printed
