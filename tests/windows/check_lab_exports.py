#!/usr/bin/python3
"""Checks the export lists of the laboratory library against its header.

    /usr/bin/python3 tests/windows/check_lab_exports.py include/quorvex_lab.h \\
        src/interface/QUORVEXlab1.def src/interface/QUORVEXlab1-x64.def \\
        [--so libQUORVEXlab1.so] [--dll32 QUORVEXlab1.dll] [--dll64 QUORVEXlab1.dll]

The header declares the functions (``QVXL_API void QVXL_CALL NAME(...)``);
everything else follows from it:
 - the 32-bit module-definition file has, for every function, the pair
   ``NAME@n == NAME`` and ``_NAME@n = NAME@n PRIVATE`` with n = 4 x its
   argument count (a wrong n also fails the link), and no other export;
 - the 64-bit one lists every plain name once, and nothing else;
 - a built Linux library exports exactly those names (``nm -D``); a built
   32-bit DLL exactly the plain and the decorated names, a 64-bit DLL
   exactly the plain names (read from the PE export table).
A function added to the header thus shows here, with the lines to add, until
both files carry it.  Then the script checks damaged copies, each of which
must be rejected.  Prints every problem; exits 1 on any.
"""
from __future__ import annotations

import re
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from check_package import pe_exports  # noqa: E402


def header_functions(text: str) -> dict[str, int]:
    """Name -> argument count of every function quorvex_lab.h declares."""
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    out = {}
    for m in re.finditer(r"QVXL_API\s+void\s+QVXL_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", text):
        out[m.group(1)] = len([a for a in m.group(2).split(",") if a.strip()])
    return out


def def_lines(text: str) -> tuple[str | None, list[str]]:
    """The LIBRARY name and the export lines of a module-definition file."""
    library, exports, in_exports = None, [], False
    for raw in text.splitlines():
        line = raw.split(";", 1)[0].strip()
        if not line:
            continue
        m = re.fullmatch(r"LIBRARY\s+(\S+)", line)
        if m:
            library = m.group(1)
        elif line == "EXPORTS":
            in_exports = True
        elif in_exports:
            exports.append(re.sub(r"\s+", " ", line))
    return library, exports


def check_def32(funcs: dict[str, int], text: str) -> list[str]:
    library, lines = def_lines(text)
    problems = [] if library == "QUORVEXlab1.dll" else [f"32-bit .def: LIBRARY is {library}"]
    want = {}
    for name, nargs in funcs.items():
        n = 4 * nargs
        want[f"{name}@{n} == {name}"] = name
        want[f"_{name}@{n} = {name}@{n} PRIVATE"] = name
    for line in lines:
        if line not in want:
            problems.append(f"32-bit .def: '{line}' is not a line of a function of the header "
                            "(or its byte count is wrong)")
        elif lines.count(line) > 1:
            problems.append(f"32-bit .def: '{line}' appears more than once")
    for line in want:
        if line not in lines:
            problems.append(f"32-bit .def: add '  {line}'")
    return problems


def check_def64(funcs: dict[str, int], text: str) -> list[str]:
    library, lines = def_lines(text)
    problems = [] if library == "QUORVEXlab1.dll" else [f"64-bit .def: LIBRARY is {library}"]
    for line in lines:
        if line not in funcs:
            problems.append(f"64-bit .def: '{line}' is not a plain name of the header")
        elif lines.count(line) > 1:
            problems.append(f"64-bit .def: '{line}' appears more than once")
    for name in funcs:
        if name not in lines:
            problems.append(f"64-bit .def: add '  {name}'")
    return problems


def compare(what: str, got: list[str], want: set[str]) -> list[str]:
    problems = [f"{what} does not export {n}" for n in sorted(want - set(got))]
    problems += [f"{what} exports {n}, which the header does not declare"
                 for n in sorted(set(got) - want)]
    problems += [f"{what} exports {n} twice" for n in sorted(set(got)) if got.count(n) > 1]
    return problems


def so_exports(path: str) -> list[str]:
    out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True,
                         text=True).stdout
    return [m.group(2) for m in re.finditer(r"^[0-9a-fA-F]+ ([TWi]) (\S+)$", out, re.M)]


def check(header: str, def32: str, def64: str) -> list[str]:
    funcs = header_functions(header)
    problems = [] if funcs else ["the header declares no function"]
    return problems + check_def32(funcs, def32) + check_def64(funcs, def64)


def damaged(header: str, def32: str, def64: str) -> list[tuple[str, str, str, str]]:
    """(what, header, def32, def64) the check must reject."""
    first = re.search(r"^\s*(\w+)@(\d+) == \1$", def32, re.M)
    name, n = first.group(1), int(first.group(2))
    return [
        ("a wrong byte count", header, def32.replace(f"{name}@{n} ==", f"{name}@{n + 4} ==", 1),
         def64),
        ("a decorated name missing", header,
         re.sub(rf"^\s*_{name}@{n} = .*\n", "", def32, count=1, flags=re.M), def64),
        ("a plain name missing from the 64-bit list", header, def32,
         re.sub(rf"^\s*{name}\s*\n", "", def64, count=1, flags=re.M)),
        ("a function the header lacks", header, def32, def64 + "  QVXL_NOT_DECLARED\n"),
        ("a function added to the header",
         header.replace("#ifdef __cplusplus\n}",
                        "QVXL_API void QVXL_CALL QVXL_NEW(const int* A, int* ISTAT);\n"
                        "#ifdef __cplusplus\n}"), def32, def64),
        ("an argument added in the header",
         re.sub(rf"({name}\s*\()", r"\1const int* EXTRA, ", header, count=1), def32, def64),
    ]


def main(argv: list[str]) -> int:
    args = argv[1:]
    built = {}
    for flag in ("--so", "--dll32", "--dll64"):
        while flag in args:
            k = args.index(flag)
            built[flag] = args[k + 1]
            del args[k:k + 2]
    if len(args) != 3:
        print(__doc__)
        return 2
    header, def32, def64 = (Path(a).read_text() for a in args)
    problems = check(header, def32, def64)
    funcs = header_functions(header)
    if "--so" in built:
        problems += compare(built["--so"], so_exports(built["--so"]), set(funcs))
    for flag, bits in (("--dll32", 32), ("--dll64", 64)):
        if flag in built:
            machine, is_dll, names = pe_exports(Path(built[flag]).read_bytes())
            if machine != (0x014C if bits == 32 else 0x8664) or not is_dll:
                problems.append(f"{built[flag]} is not a {bits}-bit DLL")
            want = set(funcs)
            if bits == 32:
                want |= {f"_{n}@{4 * c}" for n, c in funcs.items()}
            problems += compare(built[flag], names, want)
    for p in problems:
        print(f"FAILED: {p}")
    missed = [what for what, h, d32, d64 in damaged(header, def32, def64) if not check(h, d32, d64)]
    for what in missed:
        print(f"FAILED: the check does not notice {what}")
    if problems or missed:
        return 1
    print(f"laboratory exports: {len(funcs)} functions ({', '.join(f'{n}/{c}' for n, c in funcs.items())}) "
          f"in the header, both .def files{''.join(' and ' + v for v in built.values())}; "
          f"{len(damaged(header, def32, def64))} damaged copies rejected")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
