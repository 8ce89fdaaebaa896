#!/usr/bin/python3
"""Compares the VBA module's declarations with the C headers.

    /usr/bin/python3 tests/check_vba_module.py include/quorvex.h examples/quorvex.bas \
        [include/quorvex_lab.h]

Spreadsheet macros call QUORVEXv1.dll through ``Declare`` statements that the
compiler cannot check against the DLL: a missing, swapped or mistyped argument
only shows as wrong numbers or a crashed host.  This script checks every
declaration of the module against ``quorvex.h``, separately in the ``#If VBA7``
branch (``Declare PtrSafe``, 32- and 64-bit hosts) and in the ``#Else`` branch
(plain ``Declare``, older 32-bit hosts): the six entry points, each a ``Sub``
of the DLL with the header's argument names in the header's order, every
argument ``ByRef``, ``Long`` for a 32-bit integer and ``Double`` for a real.
With ``quorvex_lab.h`` the declarations of QUORVEXlab1.dll are held to it in
the same way (the module declares the functions it uses, the same ones in
both branches), and the module must fit through ``QVXL_FIT``, read samples
back through ``QVXL_READBACK`` (flagged against ``QVXL_SAMPLE_LIMITS``),
judge the fit through ``QVXL_VERDICT`` with ``QVXL_DEFAULT_CRITERIA``, take
the detection limits from ``QVXL_LIMITS``, the curve and its bands from
``QVXL_CURVE`` and ``QVXL_BAND``, the power form from ``QVXL_POWER`` and its
texts from ``QVXL_TEXT``, and call neither OLSPFIT nor GLSPFIT itself.
It also counts the arguments of every call of an entry point in the module's
macros, and checks that every macro clears the region it writes before its
first write: following its calls of the module's own Subs in order, a
``.ClearContents`` (or a new sheet from ``Worksheets.Add``) must come before
the first statement that sets a cell, and every cell it then sets must lie in
the columns ``OUT_FIRST_COL`` to ``OUT_LAST_COL`` that the clearing covers.
Then it makes sure that it notices faults, by checking a few damaged copies
of the module and of the header, each of which must be rejected.

Prints every problem found and exits 1 if there is any.
"""
from __future__ import annotations

import re
import sys
from dataclasses import dataclass, field
from pathlib import Path

DLL = "quorvexv1.dll"
LAB_DLL = "quorvexlab1.dll"
VBA_TYPE = {"int": "Long", "double": "Double", "char": "Byte"}


@dataclass
class Declaration:
    """One ``Declare`` statement of the module."""

    name: str
    lib: str
    kind: str  # "Sub" or "Function"
    ptrsafe: bool
    alias: str | None
    params: list[tuple[str, str, str]]  # (passing, name, type); passing "" when unstated
    line: int
    problems: list[str] = field(default_factory=list)


def header_entry_points(text: str, api: str = "QVX") -> dict[str, list[tuple[str, str]]]:
    """The entry points the header declares.

    Parameters
    ----------
    text : str
        The contents of ``quorvex.h`` (``api`` "QVX") or of ``quorvex_lab.h``
        (``api`` "QVXL").

    Returns
    -------
    dict
        Name of each entry point -> its arguments in order, as (name, VBA type).

    Raises
    ------
    ValueError
        If an argument has a form other than ``[const] int*``, ``[const] double*`` or
        ``char*`` (a text buffer, declared ``ByRef ... As Byte``: its first byte).
    """
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    entries: dict[str, list[tuple[str, str]]] = {}
    for m in re.finditer(api + r"_API\s+void\s+" + api + r"_CALL\s+(\w+)\s*\(([^)]*)\)\s*;",
                         text):
        params = []
        for p in m.group(2).split(","):
            a = re.fullmatch(r"\s*(?:const\s+)?(int|double|char)\s*\*\s*(\w+)\s*", p)
            if a is None:
                raise ValueError(f"{m.group(1)}: argument {p.strip()!r} is not int*, double* "
                                 "or char*")
            params.append((a.group(2), VBA_TYPE[a.group(1)]))
        entries[m.group(1)] = params
    return entries


def logical_lines(text: str) -> list[tuple[int, str]]:
    """The module's statements, with continued lines (`` _``) joined.

    Returns
    -------
    list of (int, str)
        Line number of each statement's first line, and the statement.
    """
    out: list[tuple[int, str]] = []
    pending, start = "", 0
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip("\r").rstrip()
        if not pending:
            start = number
        if line.endswith(" _"):
            pending += line[:-2] + " "
            continue
        out.append((start, pending + line))
        pending = ""
    if pending:
        out.append((start, pending))
    return out


def strip_comment(stmt: str) -> str:
    """The statement without its trailing ``'`` comment (quotes respected)."""
    in_string = False
    for i, ch in enumerate(stmt):
        if ch == '"':
            in_string = not in_string
        elif ch == "'" and not in_string:
            return stmt[:i]
    return stmt


DECLARE = re.compile(
    r"(?:(?:Public|Private)\s+)?Declare\s+(PtrSafe\s+)?(Sub|Function)\s+(\w+)\s+"
    r'Lib\s+"([^"]*)"\s*(?:Alias\s+"([^"]*)"\s*)?\((.*)\)\s*(?:As\s+\w+\s*)?',
    re.I,
)
PARAM = re.compile(r"(?:(ByRef|ByVal)\s+)?(\w+)\s*(\(\))?\s+As\s+(\w+)", re.I)


def split_top_level(args: str) -> list[str]:
    """Splits an argument list at the commas outside parentheses and strings."""
    parts, depth, in_string, cur = [], 0, False, ""
    for ch in args:
        if ch == '"':
            in_string = not in_string
        elif not in_string and ch == "(":
            depth += 1
        elif not in_string and ch == ")":
            depth -= 1
        elif not in_string and depth == 0 and ch == ",":
            parts.append(cur.strip())
            cur = ""
            continue
        cur += ch
    if cur.strip():
        parts.append(cur.strip())
    return parts


def parse_module(text: str) -> tuple[dict[str, list[Declaration]], list[tuple[int, str, str]], list[str]]:
    """Reads the module's declarations and its calls of the entry points.

    Returns
    -------
    branches : dict
        ``"VBA7"`` and ``"legacy"`` -> the declarations of that branch of the
        ``#If VBA7`` block.
    calls : list of (int, str, str)
        Line, called name and argument text of every statement that may be a
        call (the first word and the rest).
    problems : list of str
        Declarations outside an ``#If VBA7`` block and statements that do not
        parse.
    """
    branches: dict[str, list[Declaration]] = {"VBA7": [], "legacy": []}
    calls: list[tuple[int, str, str]] = []
    problems: list[str] = []
    # One frame per open #If: (is it the #If VBA7 block, in its #Else part).
    stack: list[tuple[bool, bool]] = []
    for number, stmt in logical_lines(text):
        code = strip_comment(stmt).strip()
        if not code:
            continue
        directive = re.match(r"#(If|ElseIf|Else|End\s+If)\b\s*(.*)", code, re.I)
        if directive:
            word = re.sub(r"\s+", " ", directive.group(1)).lower()
            if word == "if":
                stack.append((re.fullmatch(r"VBA7\s+Then", directive.group(2), re.I) is not None, False))
            elif not stack:
                problems.append(f"line {number}: #{directive.group(1)} without #If")
            elif word == "end if":
                stack.pop()
            else:
                stack[-1] = (stack[-1][0], True)
            continue
        if re.match(r"(?:(?:Public|Private)\s+)?Declare\b", code, re.I):
            m = DECLARE.fullmatch(code)
            if m is None:
                problems.append(f"line {number}: declaration does not parse: {code}")
                continue
            params, bad = [], []
            for p in split_top_level(m.group(6)):
                pm = PARAM.fullmatch(p)
                if pm is None:
                    bad.append(p)
                    continue
                if pm.group(3):
                    bad.append(p + " (an array argument passes a SAFEARRAY, not the first element)")
                params.append(((pm.group(1) or "").lower(), pm.group(2), pm.group(4)))
            d = Declaration(m.group(3), m.group(4), m.group(2).capitalize(), m.group(1) is not None,
                            m.group(5), params, number)
            d.problems += [f"argument {p!r}" for p in bad]
            vba7 = [frame for frame in stack if frame[0]]
            if not vba7:
                problems.append(f"line {number}: {d.name} is declared outside an #If VBA7 block")
                continue
            branches["legacy" if vba7[-1][1] else "VBA7"].append(d)
            continue
        call = re.match(r"(?:Call\s+)?(\w+)\b(.*)", code, re.I)
        if call:
            calls.append((number, call.group(1), call.group(2).strip()))
    if stack:
        problems.append("an #If block is not closed")
    return branches, calls, problems


def check(header: str, module: str, lab_header: str | None = None) -> list[str]:
    """Every disagreement between the module and the headers.

    Parameters
    ----------
    header, module : str
        The contents of ``quorvex.h`` and of ``quorvex.bas``.
    lab_header : str, optional
        The contents of ``quorvex_lab.h``; without it the module's
        declarations of QUORVEXlab1.dll are not checked.

    Returns
    -------
    list of str
        One line per problem; empty when the module matches the header.
    """
    entries = header_entry_points(header)
    problems: list[str] = []
    if len(entries) != 6:
        problems.append(f"the header declares {len(entries)} entry points, not 6")
    lab = header_entry_points(lab_header, "QVXL") if lab_header is not None else {}
    if lab_header is not None and not lab:
        problems.append("the laboratory header declares no function")
    branches, calls, parse_problems = parse_module(module)
    problems += parse_problems
    for branch, decls in branches.items():
        for d in decls:
            where = f"{branch} branch, line {d.line}, {d.name}"
            if branch == "VBA7" and not d.ptrsafe:
                problems.append(f"{where}: Declare without PtrSafe (64-bit hosts refuse it)")
            if branch == "legacy" and d.ptrsafe:
                problems.append(f"{where}: PtrSafe, which hosts before VBA7 do not know")
        ours = [d for d in decls if d.lib.lower() == DLL]
        names = [d.name for d in ours]
        for name in sorted(set(entries) - set(names)):
            problems.append(f"{branch} branch: {name} is not declared")
        labs = [d for d in decls if d.lib.lower() == LAB_DLL] if lab_header is not None else []
        for d in ours + labs:
            where = f"{branch} branch, line {d.line}, {d.name}"
            problems += [f"{where}: {p}" for p in d.problems]
            known = entries if d.lib.lower() == DLL else lab
            names = [e.name for e in (ours if d.lib.lower() == DLL else labs)]
            if d.name not in known:
                problems.append(f"{where}: not a function of the header of {d.lib}")
                continue
            if names.count(d.name) > 1:
                problems.append(f"{where}: declared more than once")
            if d.kind != "Sub":
                problems.append(f"{where}: a Function; the entry points return nothing (Sub)")
            if d.alias is not None and d.alias != d.name:
                problems.append(f"{where}: Alias {d.alias!r} names another export")
            want = known[d.name]
            if len(d.params) != len(want):
                problems.append(f"{where}: {len(d.params)} arguments, the header has {len(want)}")
            for k, ((passing, pname, ptype), (hname, htype)) in enumerate(zip(d.params, want), 1):
                if pname != hname:
                    problems.append(f"{where}: argument {k} is {pname}, the header's is {hname}")
                if ptype.lower() != htype.lower():
                    problems.append(f"{where}: {pname} As {ptype}, should be As {htype}")
                if passing != "byref":
                    problems.append(f"{where}: {pname} is not declared ByRef")
    if lab_header is not None:
        declared = {b: sorted(d.name for d in ds if d.lib.lower() == LAB_DLL)
                    for b, ds in branches.items()}
        if declared["VBA7"] != declared["legacy"]:
            problems.append(f"QUORVEXlab1.dll: the VBA7 branch declares {declared['VBA7']}, "
                            f"the legacy branch {declared['legacy']}")
    every = {**entries, **lab}
    called = set()
    for number, name, args in calls:
        entry = next((e for e in every if e.lower() == name.lower()), None)
        if entry is None:
            continue
        called.add(entry)
        if args.startswith("(") and args.endswith(")"):
            args = args[1:-1]
        count = len(split_top_level(args))
        if count != len(every[entry]):
            problems.append(f"line {number}: {entry} called with {count} arguments, "
                            f"it takes {len(every[entry])}")
    # With the laboratory library the module fits, converts and words its
    # messages through it: it calls the engine's fits no more.
    needed = ("QVXL_FIT", "QVXL_READBACK", "QVXL_POWER", "QVXL_TEXT", "QVXL_VERDICT",
              "QVXL_DEFAULT_CRITERIA", "QVXL_LIMITS", "QVXL_SAMPLE_LIMITS", "QVXL_BAND",
              "QVXL_CURVE") if lab_header else ()
    for name in needed:
        if name not in called:
            problems.append(f"the module does not call {name}")
    for name in ("OLSPFIT", "GLSPFIT") if lab_header else ():
        if name in called:
            problems.append(f"the module calls {name} itself: it fits through QVXL_FIT")
    problems += check_clearing(module)
    return problems


PROC_START = re.compile(r"(?:(Public|Private)\s+)?(Sub|Function)\s+(\w+)\s*\((.*)\)", re.I)
PROC_END = re.compile(r"End\s+(Sub|Function)\b", re.I)
WRITE = re.compile(r"\.(?:Value2?|Formula\w*)\s*=(?!=)", re.I)
CLEAR = re.compile(r"\.Clear(?:Contents)?\b", re.I)
NEW_SHEET = re.compile(r"\b(?:Worksheets|Sheets)\.Add\b", re.I)
CELLS_COL = re.compile(r"\.Cells\(([^,()]+(?:\([^()]*\))?[^,()]*),\s*([^()]+?)\)\s*\.Value", re.I)
RANGE_ADDR = re.compile(r'\.Range\("([A-Z]+)\d+(?::([A-Z]+)\d+)?"\)\s*\.Value', re.I)
# Column expressions may use a loop variable: the roots of a response, at most
# NCOEF - 1 = 9 of them.
LOOP_RANGE = (1, 9)


def procedures(text: str) -> dict[str, tuple[str, str, list[tuple[int, str]]]]:
    """The module's procedures: name -> (scope, parameters, statements)."""
    procs: dict[str, tuple[str, str, list[tuple[int, str]]]] = {}
    current = None
    for number, stmt in logical_lines(text):
        code = strip_comment(stmt).strip()
        if not code:
            continue
        if current is None:
            m = PROC_START.match(code)
            if m and not re.match(r"(?:(?:Public|Private)\s+)?Declare\b", code, re.I):
                current = m.group(3)
                procs[current] = ((m.group(1) or "Public").capitalize(), m.group(4).strip(), [])
            continue
        if PROC_END.match(code):
            current = None
            continue
        procs[current][2].append((number, code))
    return procs


def column_of(col: str, constants: dict[str, int]) -> tuple[int, int] | None:
    """Smallest and largest value of a column expression, or None when it is
    not + - * of numbers, known constants and loop variables."""
    values = []
    for v in LOOP_RANGE:
        expr = re.sub(r"[A-Za-z_]\w*", lambda m: str(constants.get(m.group(0).upper(), v)), col)
        if not re.fullmatch(r"[\d\s+*()-]+", expr):
            return None
        values.append(eval(expr))  # only digits and + - * ( ) here
    return min(values), max(values)


def letters(col: str) -> int:
    n = 0
    for ch in col.upper():
        n = 26 * n + ord(ch) - 64
    return n


def check_clearing(module: str) -> list[str]:
    """Every macro (a Public Sub without arguments) clears before it writes,
    and writes only inside the columns it clears."""
    procs = procedures(module)
    constants = {m.group(1).upper(): int(m.group(2)) for m in re.finditer(
        r"Const\s+(\w+)\s+As\s+Long\s*=\s*(\d+)", module, re.I)}
    first, last = constants.get("OUT_FIRST_COL"), constants.get("OUT_LAST_COL")
    problems: list[str] = []
    if first is None or last is None:
        return ["the module does not name its output columns (OUT_FIRST_COL, OUT_LAST_COL)"]
    subs = {n.lower(): n for n, (_, _, _) in procs.items()}

    def walk(name: str, state: dict, stack: tuple[str, ...]) -> None:
        for number, code in procs[name][2]:
            if CLEAR.search(code):
                state["cleared"] = True
            if NEW_SHEET.search(code):
                state["new_sheet"] = True
            if WRITE.search(code):
                state["writes"] += 1
                if not (state["cleared"] or state["new_sheet"]):
                    state["early"].append(f"line {number}")
                elif state["cleared"] and not state["new_sheet"]:
                    for m in CELLS_COL.finditer(code):
                        span = column_of(m.group(2), constants)
                        if span is None:
                            problems.append(f"line {number}: column {m.group(2).strip()!r} "
                                            "cannot be checked against the cleared region")
                        elif span[0] < first or span[1] > last:
                            problems.append(f"line {number}: writes column {span[0]}..{span[1]}, "
                                            f"outside the cleared columns {first}..{last}")
                    for m in RANGE_ADDR.finditer(code):
                        a = letters(m.group(1))
                        b = letters(m.group(2) or m.group(1))
                        if a < first or b > last:
                            problems.append(f"line {number}: writes columns {m.group(1)}.."
                                            f"{m.group(2) or m.group(1)}, outside the cleared "
                                            f"columns {first}..{last}")
            for word in re.findall(r"(?:^|:\s*|\bThen\s+|\bElse\s+)(?:Call\s+)?(\w+)", code):
                callee = subs.get(word.lower())
                if callee and callee not in stack and callee != name:
                    walk(callee, state, stack + (callee,))

    macros = [n for n, (scope, params, _) in procs.items()
              if scope == "Public" and params == "" and
              re.search(r"^\s*Public\s+Sub\s+" + n + r"\b", module, re.I | re.M)]
    if not macros:
        problems.append("the module has no macro")
    for name in macros:
        state = {"cleared": False, "new_sheet": False, "writes": 0, "early": []}
        walk(name, state, (name,))
        if state["early"]:
            problems.append(f"macro {name} writes cells before clearing its output region "
                            f"({', '.join(state['early'][:3])})")
    return problems


def replace_nth(text: str, old: str, new: str, which: int) -> str:
    """``text`` with occurrence ``which`` of ``old`` (0 first, -1 last) replaced."""
    starts = [m.start() for m in re.finditer(re.escape(old), text)]
    if not starts:
        raise ValueError(f"{old!r} is not in the module")
    at = starts[which]
    return text[:at] + new + text[at + len(old):]


def damaged_copies(header: str, module: str,
                   lab_header: str | None = None) -> list[tuple[str, str, str, str | None]]:
    """Faults the check must notice, as (description, header, module, lab header)."""
    m = module
    lab = []
    if lab_header is not None:
        lab = [
            ("a laboratory argument ByVal (VBA7)", header,
             replace_nth(m, "ByRef UYMODE As Long", "ByVal UYMODE As Long", 0), lab_header),
            ("a laboratory integer declared Double (legacy)", header,
             replace_nth(m, "ByRef FLAGS As Long", "ByRef FLAGS As Double", -1), lab_header),
            ("a laboratory function without PtrSafe (VBA7)", header,
             replace_nth(m, "Declare PtrSafe Sub QVXL_READBACK", "Declare Sub QVXL_READBACK", 0),
             lab_header),
            ("a laboratory function missing from the legacy branch", header,
             replace_nth(m, "Public Declare Sub QVXL_READBACK", "Public Declare Sub QVXL_READBACKX",
                         0), lab_header),
            ("a read-back call without its status argument", header,
             replace_nth(m, "flags(1), istatus", "flags(1)", 0), lab_header),
            ("a fit call without its status argument", header,
             replace_nth(m, "info(1), istatus", "info(1)", 0), lab_header),
            ("a text buffer declared Long (legacy)", header,
             replace_nth(m, "ByRef TEXT As Byte", "ByRef TEXT As Long", -1), lab_header),
            ("a module that fits on its own", header,
             replace_nth(m, "    FitCore = True\n",
                         "    OLSPFIT n, xs(1), ys(1), wts(1), ncoef, f.xmin, f.xmax, f.coef(1), "
                         "cov(1, 1), f.sres, fitted(1), res(1), wres(1), chi2, istatus\n"
                         "    FitCore = True\n", 0), lab_header),
            ("a verdict call without its status argument", header,
             replace_nth(m, "overall, reasons, istatus", "overall, reasons", 0), lab_header),
            ("a module that reads samples back without the library", header,
             m.replace("QVXL_READBACK f.ncoef", "QVXL_READBACKS f.ncoef"), lab_header),
            ("an argument added to the laboratory header", header, m,
             replace_nth(lab_header, "int* FLAGS,", "int* FLAGS, double* EXTRA,", 0)),
        ]
    return [(what, h, mod, lab_header) for what, h, mod in [
        ("an integer declared Double (VBA7)",
         header, replace_nth(m, "ByRef NGRID As Long", "ByRef NGRID As Double", 0)),
        ("an argument ByVal (legacy)",
         header, replace_nth(m, "ByRef NGRID As Long, ByRef TOL As Double, ByRef NROOT",
                             "ByVal NGRID As Long, ByRef TOL As Double, ByRef NROOT", -1)),
        ("two arguments swapped (VBA7)",
         header, replace_nth(m, "ByRef XMIN As Double, ByRef XMAX As Double",
                             "ByRef XMAX As Double, ByRef XMIN As Double", 0)),
        ("an argument missing (legacy)",
         header, replace_nth(m, "ByRef Y As Double, ByRef ISTAT As Long)",
                             "ByRef ISTAT As Long)", -1)),
        ("PtrSafe missing (VBA7)",
         header, replace_nth(m, "Declare PtrSafe Sub LINEAR_CONV", "Declare Sub LINEAR_CONV", 0)),
        ("an entry point misnamed (legacy)",
         header, replace_nth(m, "Sub IPVAL_DEGREE1 Lib", "Sub IPVAL_DEGREE Lib", -1)),
        ("an array argument (VBA7)",
         header, replace_nth(m, "ByRef COEF As Double", "ByRef COEF() As Double", 0)),
        ("a call without its status argument",
         header, replace_nth(m, "lcov(1, 1), istatus", "lcov(1, 1)", 0)),
        ("an argument added to the header",
         replace_nth(header, "int* ISTAT);", "double* EXTRA, int* ISTAT);", 0), m),
        ("an argument renamed in the header",
         replace_nth(header, "const double* SIGMA,", "const double* SIGMA2,", 0), m),
        ("a macro that does not clear its output",
         header, replace_nth(m, "    ClearOutput sh\n", "", 0)),
        ("a macro that clears after writing",
         header, replace_nth(replace_nth(m, "    ClearOutput sh\n", "", 0),
                             "    Calibrate sh\n", "    Calibrate sh\n    ClearOutput sh\n",
                             0)),
        ("a clearing that misses the last columns",
         header, replace_nth(m, "OUT_LAST_COL As Long = 36", "OUT_LAST_COL As Long = 30", 0)),
        ("a write left of the cleared columns",
         header, replace_nth(m, "sh.Cells(3 + k, COL_RECORD).Value",
                             "sh.Cells(3 + k, COL_RECORD - 1).Value", 0)),
        ("a write right of the cleared columns",
         header, replace_nth(m, "COL_LIMITS As Long = 35", "COL_LIMITS As Long = 37", 0)),
        ("the banner written before clearing",
         header, replace_nth(m, "    ClearOutput sh\n    Calibrate sh\n",
                             "    sh.Cells(2, OUT_FIRST_COL).Value = \"\"\n"
                             "    ClearOutput sh\n    Calibrate sh\n", 0)),
    ]] + lab


def main(argv: list[str]) -> int:
    if len(argv) not in (3, 4):
        print(f"usage: {argv[0]} quorvex.h quorvex.bas [quorvex_lab.h]")
        return 2
    header = Path(argv[1]).read_text()
    module = Path(argv[2]).read_text()
    lab_header = Path(argv[3]).read_text() if len(argv) == 4 else None
    problems = check(header, module, lab_header)
    for p in problems:
        print(f"FAILED: {p}")
    branches, _, _ = parse_module(module)
    for dll, label in ((DLL, "QUORVEXv1.dll"), (LAB_DLL, "QUORVEXlab1.dll")):
        counts = {b: sum(d.lib.lower() == dll for d in ds) for b, ds in branches.items()}
        print(f"declarations of {label}: {counts['VBA7']} in the VBA7 branch, "
              f"{counts['legacy']} in the legacy branch")

    # The check itself: every damaged copy must be rejected.
    missed = 0
    copies = damaged_copies(header, module, lab_header)
    for what, h, mod, lh in copies:
        if not check(h, mod, lh):
            print(f"FAILED: the check does not notice {what}")
            missed += 1
    print(f"damaged copies rejected: {len(copies) - missed} of {len(copies)}")
    ok = not problems and missed == 0
    print("the module matches quorvex.h" if ok else "the module does not match quorvex.h")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
