"""The hosts convert and present; every statistic is the laboratory library's.

Scans the Python package, the R package and the spreadsheet module for the
constructs that would mean a rule computed in a host: distribution functions,
random draws, polynomial bases and fits, matrix algebra.  The package's validation
(``validation.py``) is left out on purpose: it checks the library against numpy,
scipy.odr and certified values computed independently of it.  Also: the Python
package has no import cycle.
"""
import ast
import re
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
PACKAGE = REPO / "python" / "quorvex"

PYTHON_FORBIDDEN = [
    r"\bscipy\b", r"np\.random\.(?!Generator\b)\w+", r"default_rng", r"np\.polynomial",
    r"\bchebval\b", r"\beinsum\b", r"np\.linalg", r"\.ppf\(", r"\.isf\(", r"\.sf\(",
    r"\.cdf\(", r"\bpolyfit\b", r"\blstsq\b",
]
R_FORBIDDEN = [
    r"\b(qt|pt|qnorm|pnorm|pchisq|qchisq|pf|qf|rnorm|rchisq|rt|quantile|lm|lsfit|solve|"
    r"chol|eigen|qr|optimize|uniroot|polyroot)\(",
]
VBA_FORBIDDEN = [
    r"WorksheetFunction\.\w*(T\.?INV|TDIST|T\.DIST|NORM|CHI|F\.?DIST|LINEST|MINVERSE|MMULT)",
    r"\bRnd\b", r"\bOLSPFIT\b\s*\(", r"\bGLSPFIT\b\s*\(",
]


def _code(path: Path, comment: str) -> list[tuple[int, str]]:
    """(line number, code without its comment) of a source file."""
    out = []
    for i, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
        code = line.split(comment, 1)[0] if comment in line else line
        out.append((i, code))
    return out


def _python_code(path: Path) -> list[tuple[int, str]]:
    """Code lines of a Python module, docstrings and comments blanked."""
    text = path.read_text(encoding="utf-8")
    lines = text.splitlines()
    for node in ast.walk(ast.parse(text)):
        body = getattr(node, "body", None)
        if isinstance(body, list) and body and isinstance(body[0], ast.Expr) and \
                isinstance(getattr(body[0], "value", None), ast.Constant) and \
                isinstance(body[0].value.value, str):
            for k in range(body[0].lineno - 1, body[0].end_lineno):
                lines[k] = ""
    return [(i, ln.split("#", 1)[0]) for i, ln in enumerate(lines, 1)]


@pytest.mark.parametrize("host, files, patterns", [
    ("python", [p for p in sorted(PACKAGE.glob("*.py")) if p.name != "validation.py"],
     PYTHON_FORBIDDEN),
    ("R", sorted((REPO / "R" / "R").glob("*.R")), R_FORBIDDEN),
    ("spreadsheet", [REPO / "examples" / "quorvex.bas"], VBA_FORBIDDEN),
])
def test_host_computes_no_statistic(host, files, patterns):
    assert files
    found = []
    for path in files:
        lines = (_python_code(path) if host == "python" else
                 _code(path, "#" if host == "R" else "'"))
        for i, code in lines:
            for pat in patterns:
                if re.search(pat, code):
                    found.append(f"{path.relative_to(REPO)}:{i}: {code.strip()}")
    assert not found, f"{host} computes a statistic of its own:\n" + "\n".join(found)


def test_python_package_has_no_import_cycle():
    mods = {p.stem: p for p in PACKAGE.glob("*.py")}
    edges = {m: set() for m in mods}
    for m, p in mods.items():
        for n in ast.walk(ast.parse(p.read_text(encoding="utf-8"))):
            if isinstance(n, ast.ImportFrom) and n.level == 1:
                names = [n.module] if n.module else [a.name for a in n.names]
                edges[m].update(x for x in names if x in mods)
    # Depth-first search for a back edge.
    state = {}

    def visit(m, path):
        state[m] = "open"
        for nb in sorted(edges[m]):
            if state.get(nb) == "open":
                raise AssertionError("import cycle: " + " -> ".join(path + [nb]))
            if nb not in state:
                visit(nb, path + [nb])
        state[m] = "done"

    for m in sorted(mods):
        if m not in state:
            visit(m, [m])
