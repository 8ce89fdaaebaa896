"""Sphinx extension of the quorvex documentation: the parts of the site that are
generated from the project itself, so that they cannot drift from it.

- ``quorvex-api-summary``: the table of every name in ``quorvex.__all__``, each
  linked to a page of its own; the pages are written into ``reference/api/`` when
  the build starts (autodoc with numpydoc fills them from the docstrings).
- ``quorvex-cli-options``: every option of a ``quorvex`` subcommand with its default
  and its help, read from the command line's own argument parser.
- ``quorvex-c-reference``: the six entry points of ``include/quorvex.h`` with every
  argument, every status code and what each status leaves in the outputs, read
  from the header's declarations and comments; ``quorvex-c-conventions`` the
  header's list of conventions shared by all of them.
- At the end of the build, the parts of the system's MathJax 2 the pages use are
  copied into ``_static/mathjax``, so that formulas render without a network.
"""
from __future__ import annotations

import argparse
import re
import shutil
from dataclasses import dataclass, field
from pathlib import Path

from docutils import nodes
from docutils.parsers.rst import Directive, directives
from docutils.statemachine import StringList
from sphinx.ext.autosummary import Autosummary
from sphinx.util import logging

logger = logging.getLogger(__name__)

DOCS = Path(__file__).resolve().parent.parent
REPO = DOCS.parent
HEADER = REPO / "include" / "quorvex.h"
CPP_HEADER = REPO / "include" / "quorvex.hpp"
API_DIR = DOCS / "reference" / "api"
MATHJAX = Path("/usr/share/javascript/mathjax")
# What MathJax 2 loads for config=TeX-AMS_CHTML (CommonHTML output, TeX fonts in woff).
MATHJAX_PARTS = ["MathJax.js", "config/TeX-AMS_CHTML.js", "extensions", "jax/input/TeX",
                 "jax/output/CommonHTML", "jax/element", "fonts/HTML-CSS/TeX/woff",
                 "localization/en"]


# ---------------------------------------------------------------------------
# Small node builders

def _para(text: str) -> nodes.paragraph:
    return nodes.paragraph(text, text)


def _cell(content) -> nodes.entry:
    entry = nodes.entry()
    if isinstance(content, nodes.Node):
        entry += content
    else:
        entry += _para(str(content))
    return entry


def _literal_cell(text: str) -> nodes.entry:
    entry = nodes.entry()
    para = nodes.paragraph()
    para += nodes.literal(text, text)
    entry += para
    return entry


def _table(headers: list[str], rows: list[list], widths: list[int]) -> nodes.table:
    table = nodes.table(classes=["quorvex-generated"])
    group = nodes.tgroup(cols=len(headers))
    table += group
    for w in widths:
        group += nodes.colspec(colwidth=w)
    head = nodes.thead()
    row = nodes.row()
    for h in headers:
        row += _cell(h)
    head += row
    group += head
    body = nodes.tbody()
    for cells in rows:
        row = nodes.row()
        for c in cells:
            row += c if isinstance(c, nodes.entry) else _cell(c)
        body += row
    group += body
    return table


# ---------------------------------------------------------------------------
# Python reference

def public_names() -> list[str]:
    import quorvex
    return [n for n in quorvex.__all__ if not n.startswith("_")]


def _write_api_pages(app) -> None:
    """One page per public name, rewritten only where its text changed (so that an
    unchanged page is not rebuilt), and pages of names no longer public removed."""
    import inspect

    import quorvex
    API_DIR.mkdir(parents=True, exist_ok=True)
    wanted = {}
    for name in public_names():
        obj = getattr(quorvex, name)
        full = f"quorvex.{name}"
        if inspect.isclass(obj):
            body = f".. autoclass:: {full}\n   :members:\n   :show-inheritance:\n"
            if issubclass(obj, BaseException):
                body = f".. autoexception:: {full}\n   :members:\n   :show-inheritance:\n"
        elif callable(obj):
            body = f".. autofunction:: {full}\n"
        else:
            body = f".. autodata:: {full}\n   :annotation:\n"
        title = f"``{full}``"
        text = (f".. This page is written by docs/_ext/quorvex_docs.py; edit the docstring.\n\n"
                f"{title}\n{'=' * len(title)}\n\n.. currentmodule:: quorvex\n\n{body}")
        wanted[f"{full}.rst"] = text
    for path in API_DIR.glob("*.rst"):
        if path.name not in wanted:
            path.unlink()
    for fname, text in wanted.items():
        path = API_DIR / fname
        if not path.exists() or path.read_text(encoding="utf-8") != text:
            path.write_text(text, encoding="utf-8")


class ApiSummary(Autosummary):
    """``autosummary`` over ``quorvex.__all__`` (the names are not listed by hand)."""
    has_content = False
    required_arguments = 0
    option_spec = {}

    def run(self):
        self.content = StringList([f"quorvex.{n}" for n in public_names()], "quorvex.__all__")
        self.options = {"toctree": "api", "nosignatures": True}
        return super().run()


# ---------------------------------------------------------------------------
# Command line

def _option_default(action: argparse.Action) -> str:
    if isinstance(action, (argparse._StoreTrueAction, argparse._StoreFalseAction)):
        return "off"
    if isinstance(action, (argparse._HelpAction, argparse._VersionAction)):
        return ""
    if not action.option_strings:
        return "(required)"
    d = action.default
    if d is None or d is argparse.SUPPRESS:
        m = re.search(r"\(default:? ([^)]*)\)", action.help or "")
        return m.group(1) if m else "not given"
    if isinstance(d, (list, tuple)):
        return ",".join(str(v) for v in d)
    return str(d)


def _option_name(action: argparse.Action) -> str:
    if not action.option_strings:
        return action.metavar or action.dest
    names = ", ".join(action.option_strings)
    if action.nargs == 0:
        return names
    if isinstance(action.metavar, tuple):
        return f"{names} {' '.join(action.metavar)}"
    if action.choices and not action.metavar:
        return f"{names} {'|'.join(str(c) for c in action.choices)}"
    metavar = action.metavar or action.dest.upper()
    return f"{names} {metavar}"


def cli_parser(command: str) -> argparse.ArgumentParser:
    from quorvex import cli
    parser = cli.build_parser()
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return action.choices[command]
    raise KeyError(command)


def cli_options(command: str) -> list[tuple[str, str, str]]:
    """(option as written, default, help) of every argument of a subcommand."""
    out = []
    for action in cli_parser(command)._actions:
        if isinstance(action, argparse._HelpAction):
            continue
        out.append((_option_name(action), _option_default(action), action.help or ""))
    return out


class CliOptions(Directive):
    required_arguments = 1
    has_content = False

    def run(self):
        command = self.arguments[0]
        parser = cli_parser(command)
        usage = parser.format_usage().strip()
        block = nodes.literal_block(usage, usage)
        block["language"] = "text"
        rows = [[_literal_cell(name), _cell(default), _cell(text)]
                for name, default, text in cli_options(command)]
        return [block, _table(["Argument or option", "Default", "What it does"], rows,
                              [28, 16, 56])]


# ---------------------------------------------------------------------------
# C reference, read from include/quorvex.h

@dataclass
class Argument:
    name: str
    ctype: str
    direction: str
    text: str


@dataclass
class EntryPoint:
    name: str
    summary: str
    description: list[str] = field(default_factory=list)
    statuses: list[tuple[str, str, str]] = field(default_factory=list)  # (which, code, meaning)
    outputs: list[tuple[str, str]] = field(default_factory=list)        # (outcome, what is written)
    closing: list[str] = field(default_factory=list)
    constants: dict[str, str] = field(default_factory=dict)             # code -> QVX_ name
    arguments: list[Argument] = field(default_factory=list)

    def signature(self) -> str:
        args = ", ".join(f"{a.ctype.replace('*', ' *')}{a.name}".replace("  ", " ")
                         for a in self.arguments)
        return f"void {self.name}({args})"


_BLOCK = re.compile(r"/\* -{20,}\n(.*?)\n \* -{20,} \*/\n(.*?)QVX_API void QVX_CALL (\w+)\(\n"
                    r"(.*?\);\s+/\*[^\n]*?\*/)\n", re.S)
_ARG = re.compile(r"^\s*((?:const )?\w+\*)\s*(\w+)[,)]?;?\s*/\*\s*(in|out|in/out)\s+(.*?)\s*\*/",
                  re.M)
_STATUS = re.compile(r"^(?:(ISTAT\(\d\)|ISTAT|OLSTAT)\s+)?(-?\d+)\s{2,}(\S.*)$")
_STATUS_NOCODE = re.compile(r"^(ISTAT\(\d\)|OLSTAT)\s{2,}([^\d\s-].*)$")
_DEFINE = re.compile(r"#define (QVX_\w+) \(?(-?\d+)\)?")


def _join(lines: list[str]) -> list[str]:
    """Comment lines into paragraphs (a blank line ends one)."""
    paras, cur = [], []
    for line in lines:
        if line.strip():
            cur.append(line.strip())
        elif cur:
            paras.append(" ".join(cur))
            cur = []
    if cur:
        paras.append(" ".join(cur))
    return paras


def parse_header(text: str | None = None) -> tuple[list[str], list[EntryPoint]]:
    """The header's shared conventions (one string per item) and its entry points."""
    text = HEADER.read_text(encoding="utf-8") if text is None else text
    top = re.match(r"/\*(.*?)\*/", text, re.S).group(1)
    conv = top.split("------------------------------------------", 1)[1]
    items, cur = [], None
    for line in conv.splitlines():
        line = line.lstrip(" *")
        if line.startswith("- "):
            if cur:
                items.append(" ".join(cur))
            cur = [line[2:].strip()]
        elif cur is not None and line.strip():
            cur.append(line.strip())
    if cur:
        items.append(" ".join(cur))

    entries = []
    for comment, defines, name, args in _BLOCK.findall(text):
        lines = [re.sub(r"^ \* ?", "", ln) for ln in comment.splitlines()]
        head = lines[0]
        m = re.match(rf"{name} -- (.*)", head)
        if not m:
            raise ValueError(f"quorvex.h: the comment above {name} does not start with its name")
        ep = EntryPoint(name, "")
        desc_lines = [m.group(1)]
        mode, which = "desc", ""
        for line in lines[1:]:
            s = line.strip()
            st = _STATUS.match(s)
            if s.startswith("Outputs written"):
                mode = "outputs"
                ep.description.extend(_join(desc_lines))
                desc_lines = []
                desc_lines_outputs_intro = s
                ep.outputs.append(("", desc_lines_outputs_intro))
                continue
            if mode == "outputs":
                if not line.startswith(" ") and s:
                    mode = "closing"
                    ep.closing.append(s)
                elif line.startswith("  ") and not line.startswith("    ") and s:
                    cond, _, rest = s.partition(": ")
                    ep.outputs.append((cond, rest))
                elif s and ep.outputs:
                    cond, rest = ep.outputs[-1]
                    ep.outputs[-1] = (cond, f"{rest} {s}")
                continue
            if mode == "closing":
                if s:
                    ep.closing.append(s)
                continue
            nc = _STATUS_NOCODE.match(s)
            if nc and mode != "outputs":
                if mode == "desc":
                    ep.description.extend(_join(desc_lines))
                    desc_lines = []
                mode, which = "status", nc.group(1)
                ep.statuses.append((which, "", nc.group(2).strip()))
                continue
            if st and (st.group(1) or mode == "status"):
                if mode == "desc":
                    ep.description.extend(_join(desc_lines))
                    desc_lines = []
                mode = "status"
                which = st.group(1) or which
                ep.statuses.append((which, st.group(2), st.group(3)))
            elif mode == "status" and s and line.startswith("     ") and ep.statuses:
                w, code, meaning = ep.statuses[-1]
                ep.statuses[-1] = (w, code, f"{meaning} {s}")
            else:
                if mode == "status" and s:
                    mode = "desc"
                desc_lines.append(line)
        ep.description.extend(_join(desc_lines))
        if ep.description:
            ep.description[0] = ep.description[0][:1].upper() + ep.description[0][1:]
        ep.summary = ep.description[0] if ep.description else ""
        for const, code in _DEFINE.findall(defines):
            ep.constants[code] = const
        for ctype, aname, direction, atext in _ARG.findall(args):
            ep.arguments.append(Argument(aname, ctype, direction, atext))
        entries.append(ep)
    return items, entries


def _shared_constants(text: str) -> dict[str, str]:
    block = text.split("Status common to every entry point", 1)[1].split("/* ---", 1)[0]
    return {code: const for const, code in _DEFINE.findall(block)}


class CConventions(Directive):
    has_content = False

    def run(self):
        items, _ = parse_header()
        lst = nodes.bullet_list()
        for item in items:
            li = nodes.list_item()
            li += _para(item)
            lst += li
        return [lst]


class CReference(Directive):
    has_content = False

    def run(self):
        text = HEADER.read_text(encoding="utf-8")
        _, entries = parse_header(text)
        shared = _shared_constants(text)
        env = self.state.document.settings.env
        env.note_dependency(str(HEADER))
        out = []
        for ep in entries:
            section = nodes.section(ids=[f"entry-{ep.name.lower()}"])
            section += nodes.title(ep.name, ep.name)
            holder = nodes.Element()
            # The pages are MyST Markdown, so the declaration is given in its syntax.
            self.state.nested_parse(StringList([f"```{{c:function}} {ep.signature()}", "```"],
                                               str(HEADER)), self.content_offset, holder)
            section.extend(holder.children)
            for p in ep.description:
                section += _para(p)
            rows = [[_literal_cell(a.name), _literal_cell(a.ctype), _cell(a.direction),
                     _cell(a.text)] for a in ep.arguments]
            section += _table(["Argument", "Type", "", "Meaning"], rows, [14, 16, 6, 64])
            srows = []
            for which, code, meaning in ep.statuses:
                const = ep.constants.get(code) or shared.get(code) or ""
                srows.append([_cell(which), _cell(code),
                              _literal_cell(const) if const else _cell(""), _cell(meaning)])
            section += _table(["Output", "Value", "Constant", "Meaning"], srows, [12, 8, 30, 50])
            if ep.outputs:
                intro = ep.outputs[0][1]
                section += _para(intro)
                lst = nodes.bullet_list()
                for cond, what in ep.outputs[1:]:
                    li = nodes.list_item()
                    para = nodes.paragraph()
                    para += nodes.strong(cond, cond)
                    para += nodes.Text(": " + what)
                    li += para
                    lst += li
                section += lst
            for p in _join(ep.closing):
                section += _para(p)
            out.append(section)
        return out


# ---------------------------------------------------------------------------
# The laboratory library's reference, read from include/quorvex_lab.h

LAB_HEADER = REPO / "include" / "quorvex_lab.h"
_LAB_BLOCK = re.compile(r"/\* -{20,}\n(.*?)\n \* -{20,} \*/\n(.*?)QVXL_API void QVXL_CALL (\w+)\("
                        r"(.*?)\);", re.S)


def parse_lab_header(text: str | None = None) -> list[tuple[str, str, str]]:
    """(name, comment, declaration) of every function of quorvex_lab.h, in order."""
    text = LAB_HEADER.read_text(encoding="utf-8") if text is None else text
    out = []
    for comment, _, name, args in _LAB_BLOCK.findall(text):
        if not comment.lstrip(" *").startswith(name):
            raise ValueError(f"quorvex_lab.h: the comment above {name} does not start with its "
                             "name")
        body = "\n".join(re.sub(r"^ \* ?", "", ln) for ln in comment.splitlines())
        plain = re.sub(r"/\*.*?\*/", " ", args, flags=re.S)
        params = ", ".join(" ".join(p.split()) for p in plain.split(","))
        out.append((name, body, f"void {name}({params})"))
    return out


class LabReference(Directive):
    has_content = False

    def run(self):
        env = self.state.document.settings.env
        env.note_dependency(str(LAB_HEADER))
        out = []
        for name, body, decl in parse_lab_header():
            section = nodes.section(ids=[f"lab-{name.lower()}"])
            section += nodes.title(name, name)
            holder = nodes.Element()
            self.state.nested_parse(StringList([f"```{{c:function}} {decl}", "```"],
                                               str(LAB_HEADER)), self.content_offset, holder)
            section.extend(holder.children)
            block = nodes.literal_block(body, body)
            block["language"] = "text"  # the header's own words, not code to highlight
            section += block
            out.append(section)
        return out


# ---------------------------------------------------------------------------
# C++ reference, read from include/quorvex.hpp

@dataclass
class CppItem:
    kind: str        # "constant", "type" or "function"
    name: str
    code: str        # declaration as the header writes it (a type with its members)
    comment: str


def parse_cpp_header(text: str | None = None) -> tuple[str, list[CppItem]]:
    """The header's opening comment and every public declaration of namespace
    quorvex (namespace detail left out), each with the comment above it."""
    text = CPP_HEADER.read_text(encoding="utf-8") if text is None else text
    lines = text.splitlines()
    intro = []
    for line in lines:
        if not line.startswith("//"):
            break
        intro.append(line[2:].strip())
    intro_text = "\n".join(intro)
    items: list[CppItem] = []
    comment: list[str] = []
    in_ns = in_detail = adjacent = False
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("namespace quorvex {"):
            in_ns = True
        elif line.startswith("namespace detail {"):
            in_detail = True
        elif line.startswith("}  // namespace detail"):
            in_detail = False
            comment = []
        elif not in_ns or in_detail:
            pass
        elif line.startswith("//"):
            comment.append(line[2:].strip())
        elif not line.strip():
            comment = []
            adjacent = False
        else:
            m_type = re.match(r"(struct|class) (\w+)", line)
            m_const = re.match(r"inline constexpr [\w:<>]+ (\w+)", line)
            m_func = re.match(r"inline [\w:<>]+ (\w+)\(", line)
            if m_type:
                body = [line]
                while not lines[i].startswith("};"):
                    i += 1
                    body.append(lines[i])
                # The members a user sees: what comes before a class's private part.
                if m_type.group(1) == "class":
                    cut = next((k for k, b in enumerate(body) if b.strip() == "private:"), None)
                    if cut is not None:
                        body = body[:cut] + ["};"]
                new = CppItem("type", m_type.group(2), "\n".join(body), " ".join(comment))
            elif m_const:
                new = CppItem("constant", m_const.group(1), line.rstrip(), " ".join(comment))
            elif m_func:
                sig = [line]
                while not sig[-1].rstrip().endswith("{"):
                    i += 1
                    sig.append(lines[i])
                code = "\n".join(sig).rstrip()[:-1].rstrip() + ";"
                new = CppItem("function", m_func.group(1), code, " ".join(comment))
            else:
                new = None
            # A declaration right below another, with no comment of its own, shares
            # the one above (an overload, the parts of the version).
            if new is not None and not new.comment and adjacent and items \
                    and items[-1].kind == new.kind:
                last = items[-1]
                if new.name not in last.name.split(", "):
                    last.name = f"{last.name}, {new.name}"
                last.code = f"{last.code}\n{new.code}"
            elif new is not None and not new.comment and any(
                    it.kind == new.kind and it.name == new.name for it in items):
                same = next(it for it in items if it.kind == new.kind and it.name == new.name)
                same.code = f"{same.code}\n{new.code}"
            elif new is not None:
                items.append(new)
            adjacent = new is not None
            comment = []
            i += 1
            continue
        i += 1
    return intro_text, items


class CppReference(Directive):
    has_content = False

    def run(self):
        self.state.document.settings.env.note_dependency(str(CPP_HEADER))
        _, items = parse_cpp_header()
        out = []
        titles = {"constant": "Constants", "type": "Types", "function": "Functions"}
        for kind in ("function", "type", "constant"):
            section = nodes.section(ids=[f"cpp-{kind}s"])
            section += nodes.title(titles[kind], titles[kind])
            for item in (it for it in items if it.kind == kind):
                sub = nodes.section(ids=[f"cpp-{kind}-{item.name.split(',')[0].lower()}"])
                sub += nodes.title(item.name, item.name)
                block = nodes.literal_block(item.code, item.code)
                block["language"] = "cpp"
                sub += block
                if item.comment:
                    sub += _para(item.comment)
                section += sub
            out.append(section)
        return out


# ---------------------------------------------------------------------------
# MathJax from the local copy

def _copy_mathjax(app, exception) -> None:
    if exception is not None or app.builder.format != "html":
        return
    if not (MATHJAX / "MathJax.js").exists():
        logger.warning("MathJax is not installed at %s (Debian package libjs-mathjax): "
                       "formulas will show as TeX", MATHJAX)
        return
    dest = Path(app.outdir) / "_static" / "mathjax"
    for part in MATHJAX_PARTS:
        src = MATHJAX / part
        target = dest / part
        target.parent.mkdir(parents=True, exist_ok=True)
        if src.is_dir():
            shutil.copytree(src, target, dirs_exist_ok=True)
        else:
            shutil.copy2(src, target)


def _plain_bars(app, what, name, obj, options, lines) -> None:
    """Docstrings write |x| for an absolute value; in reStructuredText that would be
    a substitution, so such bars are escaped (a table's lines, and a line block's
    "| " lines, are left alone)."""
    for i, line in enumerate(lines):
        stripped = line.strip()
        table = stripped.startswith(("+-", "+=", "| ")) or stripped == "|"
        if "|" in stripped and not table:
            lines[i] = re.sub(r"(?<!\\)\|", r"\\|", line)


def _classic_furo_script(app, exception) -> None:
    """Debian's furo ships its script unbundled: furo.js starts with an ES module
    import of the scroll-spy library, but the theme loads it as a classic script,
    where that line is a syntax error (no theme toggle, no table-of-contents
    tracking). Module scripts do not load from file:// pages either, so the
    library (a UMD file that sets window.Gumshoe) is put in front and the import
    dropped."""
    if exception is not None or app.builder.format != "html":
        return
    scripts = Path(app.outdir) / "_static" / "scripts"
    furo, gumshoe = scripts / "furo.js", scripts / "gumshoe-patched.js"
    if not (furo.exists() and gumshoe.exists()):
        return
    text = furo.read_text(encoding="utf-8")
    first, _, rest = text.partition("\n")
    if re.fullmatch(r'import Gumshoe from "\./gumshoe-patched\.js";\s*', first):
        furo.write_text(gumshoe.read_text(encoding="utf-8") + "\n" + rest, encoding="utf-8")


def setup(app):
    app.connect("build-finished", _classic_furo_script)
    app.connect("autodoc-process-docstring", _plain_bars, priority=400)
    # ```vb blocks (VBA) are highlighted as Visual Basic .NET, the nearest lexer.
    from pygments.lexers import VbNetLexer
    app.add_lexer("vb", VbNetLexer)
    app.add_lexer("vba", VbNetLexer)
    app.connect("builder-inited", _write_api_pages)
    app.connect("build-finished", _copy_mathjax)
    app.add_directive("quorvex-api-summary", ApiSummary)
    app.add_directive("quorvex-cli-options", CliOptions)
    app.add_directive("quorvex-c-reference", CReference)
    app.add_directive("quorvex-c-conventions", CConventions)
    app.add_directive("quorvex-lab-reference", LabReference)
    app.add_directive("quorvex-cpp-reference", CppReference)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True}
