"""Sphinx configuration of the quorvex documentation (built by scripts/docs.sh).

Pages are MyST Markdown; the Python reference comes from the package's docstrings
(autodoc, numpydoc), the C reference from include/quorvex.h, the command-line
options from the command line's own parser (docs/_ext/quorvex_docs.py).  Nothing
is fetched from the network: MathJax is copied from the system's local copy.
"""
import sys
from pathlib import Path

DOCS = Path(__file__).resolve().parent
REPO = DOCS.parent
sys.path.insert(0, str(REPO / "python"))
sys.path.insert(0, str(DOCS / "_ext"))

from quorvex._version import version as _version  # noqa: E402

project = "quorvex"
author = "the quorvex developers"
copyright = "the quorvex developers"
release = version = _version()

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.autosummary",
    "sphinx.ext.mathjax",
    "numpydoc",
    "quorvex_docs",
]

source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
root_doc = "index"
exclude_patterns = ["_build", "Thumbs.db", ".DS_Store"]
myst_enable_extensions = ["dollarmath", "amsmath", "colon_fence", "deflist"]
myst_heading_anchors = 3

# Python reference: one page per public name, written by quorvex_docs from
# quorvex.__all__ (so a name added there appears by itself).
autosummary_generate = False
autodoc_member_order = "bysource"
autodoc_typehints = "none"
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False
numpydoc_validation_checks = set()

# Cross references must resolve (nitpicky); the standard library and numpy
# types named in docstrings are not part of this site.
nitpicky = True
nitpick_ignore_regex = [
    ("py:.*", r"(np|numpy|numpy\.typing|pandas|matplotlib|dask|pathlib|os)\..*"),
    # "See Also" entries naming the helper functions of the package's modules,
    # which are not public and have no page.
    ("py:func", r"quorvex\.(inverse|montecarlo|curve|diagnostics|plot|report|fitting|"
                r"selection|weighting|basis|tabular)\.\w+"),
    ("py:func", r"[a-z_]+"),
    ("py:.*", r"(float|int|str|bool|dict|list|tuple|None|object|bytes|callable|optional"
              r"|array_like|array-like|ndarray|sequence|iterable|path-like|Path|Figure"
              r"|Axes|ArrayLike|.*\.Figure|.*\.Axes)"),
]

# MathJax 2 from the local copy, placed under _static/mathjax at the end of the build.
mathjax_path = "mathjax/MathJax.js?config=TeX-AMS_CHTML"
mathjax2_config = {
    "tex2jax": {"inlineMath": [["\\(", "\\)"]], "displayMath": [["\\[", "\\]"]],
                "processEscapes": True, "ignoreClass": "document",
                "processClass": "math|output_area"},
    "CommonHTML": {"webFont": "TeX"},
    "menuSettings": {"zoom": "None"},
    "showMathMenu": False,
    "messageStyle": "none",
}

html_theme = "furo"
html_title = f"quorvex {release}"
html_static_path = []
html_last_updated_fmt = None
html_show_sourcelink = False
html_copy_source = False
