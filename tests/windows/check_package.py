#!/usr/bin/python3
"""Checks quorvex-windows.zip, the package for spreadsheet users.

    /usr/bin/python3 tests/windows/check_package.py ZIP include/quorvex.h DLL32 DLL64 LAB32 LAB64

Checks that the zip holds exactly quorvex-windows/ with QUORVEXv1.dll and
QUORVEXlab1.dll in 32-bit/ and in 64-bit/, quorvex.bas, READ-ME.txt and
example-sheet.csv; that each DLL is the one built (byte for byte), a DLL for
its machine (i386, x86-64) exporting the six entry points (QUORVEXv1.dll) or
the functions of include/quorvex_lab.h (QUORVEXlab1.dll, read next to
quorvex.h); that the module has Windows line ends and its declarations match
both headers (tests/check_vba_module.py), and every
worksheet function of the module is named in the READ-ME; and that the
example sheet is in the macro's layout.  Then it checks damaged copies of the
package, each of which must be rejected.

Prints every problem and 'package ...: ok' or exits 1.
"""
from __future__ import annotations

import csv
import io
import re
import struct
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from check_vba_module import check as check_module, logical_lines  # noqa: E402

TOP = "quorvex-windows/"
DLL32, DLL64 = TOP + "32-bit/QUORVEXv1.dll", TOP + "64-bit/QUORVEXv1.dll"
LAB32, LAB64 = TOP + "32-bit/QUORVEXlab1.dll", TOP + "64-bit/QUORVEXlab1.dll"
BAS, README, SHEET = TOP + "quorvex.bas", TOP + "READ-ME.txt", TOP + "example-sheet.csv"
ENTRIES = {DLL32, DLL64, LAB32, LAB64, BAS, README, SHEET}
ENTRY_POINTS = {"OLSPFIT", "GLSPFIT", "POLYEVAL", "IPVAL", "LINEAR_CONV", "IPVAL_DEGREE1"}
MACHINE = {DLL32: (0x014C, "i386"), DLL64: (0x8664, "x86-64"),
           LAB32: (0x014C, "i386"), LAB64: (0x8664, "x86-64")}


def lab_functions(lab_header: str) -> set[str]:
    """The functions quorvex_lab.h declares."""
    text = re.sub(r"/\*.*?\*/", " ", lab_header, flags=re.S)
    return set(re.findall(r"QVXL_API\s+void\s+QVXL_CALL\s+(\w+)\s*\(", text))


def pe_exports(data: bytes) -> tuple[int, bool, list[str]]:
    """Machine, whether it is a DLL, and the exported names of a PE image."""
    if data[:2] != b"MZ":
        raise ValueError("not a Windows executable (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, nsect = struct.unpack_from("<HH", data, pe + 4)
    opt_size, characteristics = struct.unpack_from("<HH", data, pe + 20)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    export_rva = struct.unpack_from("<I", data, dirs)[0]
    sections = [struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * k) for k in range(nsect)]

    def offset(rva: int) -> int:
        for _, vsize, vaddr, rawsize, rawptr in sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise ValueError(f"address {rva:#x} is in no section")

    names = []
    if export_rva:
        ed = offset(export_rva)
        nnames, names_rva = struct.unpack_from("<I", data, ed + 24)[0], struct.unpack_from(
            "<I", data, ed + 32)[0]
        for k in range(nnames):
            p = offset(struct.unpack_from("<I", data, offset(names_rva) + 4 * k)[0])
            names.append(data[p:data.index(b"\0", p)].decode("ascii"))
    return machine, bool(characteristics & 0x2000), names


def check_package(files: dict[str, bytes], header: str, built: dict[str, bytes],
                  lab_header: str) -> list[str]:
    """Every problem of a package given as {entry name: contents}."""
    problems = []
    names = set(files)
    for missing in sorted(ENTRIES - names):
        problems.append(f"{missing} is missing")
    for extra in sorted(names - ENTRIES):
        problems.append(f"{extra} does not belong in the package")
    for entry in (DLL32, DLL64, LAB32, LAB64):
        if entry not in files:
            continue
        data = files[entry]
        if entry in built and data != built[entry]:
            problems.append(f"{entry} is not the DLL that was built")
        try:
            machine, is_dll, exports = pe_exports(data)
        except (ValueError, struct.error) as e:
            problems.append(f"{entry}: {e}")
            continue
        want, label = MACHINE[entry]
        if machine != want:
            problems.append(f"{entry} is for machine {machine:#06x}, not {label}")
        if not is_dll:
            problems.append(f"{entry} is not a DLL")
        plain = {n for n in exports if "@" not in n}
        if entry in (DLL32, DLL64) and plain != ENTRY_POINTS:
            problems.append(f"{entry} exports {sorted(plain)}, not the six entry points")
        if entry in (LAB32, LAB64) and plain != lab_functions(lab_header):
            problems.append(f"{entry} exports {sorted(plain)}, not the functions of "
                            "quorvex_lab.h")
    text = {}
    for entry in (BAS, README, SHEET):
        if entry not in files:
            continue
        raw = files[entry]
        if re.search(rb"(?<!\r)\n", raw):
            problems.append(f"{entry} has a line without a Windows line end")
        try:
            text[entry] = raw.decode("ascii").replace("\r\n", "\n")
        except UnicodeDecodeError:
            problems.append(f"{entry} is not plain ASCII text")
    if BAS in text:
        problems += [f"{BAS}: {p}" for p in check_module(header, text[BAS], lab_header)]
        functions = re.findall(r"^Public Function (QVX_\w+)", text[BAS], re.M)
        if not functions:
            problems.append(f"{BAS} has no worksheet functions")
        if README in text:
            for fn in functions:
                if f"={fn}(" not in text[README]:
                    problems.append(f"{README} does not name the worksheet function {fn}")
    if README in text:
        for needed in ("64-bit\\QUORVEXv1.dll", "32-bit\\QUORVEXv1.dll", "64-bit\\QUORVEXlab1.dll",
                       "32-bit\\QUORVEXlab1.dll", "Unblock", "Import File"):
            if needed not in text[README]:
                problems.append(f"{README} does not mention {needed}")
    if SHEET in text:
        rows = list(csv.reader(io.StringIO(text[SHEET])))
        cell = lambda r, c: rows[r - 1][c - 1] if r <= len(rows) and c <= len(rows[r - 1]) else ""
        try:
            ncoef = int(cell(1, 2))
            nstd = 0
            while cell(4 + nstd, 1):
                float(cell(4 + nstd, 1)), float(cell(4 + nstd, 2))
                nstd += 1
            nsmp = 0
            while cell(4 + nsmp, 6):
                float(cell(4 + nsmp, 6))
                nsmp += 1
            if cell(1, 1) != "NCOEF" or cell(1, 3) != "weighting" or cell(3, 1) != "x" or \
                    cell(3, 5) != "left out because" or cell(3, 6) != "y":
                problems.append(f"{SHEET} is not in the macro's layout (A1 NCOEF, C1 weighting, "
                                "A3 x, E3 left out because, F3 y)")
            if not 2 <= ncoef <= 10 or nstd <= ncoef or nsmp == 0:
                problems.append(f"{SHEET}: NCOEF {ncoef}, {nstd} standards, {nsmp} samples")
        except (ValueError, IndexError) as e:
            problems.append(f"{SHEET} does not read as the macro's layout: {e}")
        if BAS in text:
            problems += same_example(text[BAS], rows)
    return problems


def same_example(module: str, rows: list[list[str]]) -> list[str]:
    """QuorvexExample fills in the example sheet's numbers."""
    arrays = {}
    for _, stmt in logical_lines(module):
        m = re.fullmatch(r"\s*(conc|absorb|sy)\s*=\s*Array\((.*)\)\s*", stmt)
        if m:
            arrays[m.group(1)] = [float(v) for v in m.group(2).split(",")]
    column = lambda c: [float(r[c]) for r in rows[3:] if len(r) > c and r[c]]
    want = {"conc": column(0), "absorb": column(1), "sy": column(5)}
    return [f"QuorvexExample's {k} is not the example sheet's column" for k in want
            if arrays.get(k) != want[k]]


def damaged(files: dict[str, bytes]) -> list[tuple[str, dict[str, bytes]]]:
    """Packages the check must reject."""
    out = []
    d = dict(files)
    del d[DLL64]
    out.append(("the 64-bit DLL missing", d))
    d = dict(files)
    d[DLL32], d[DLL64] = files[DLL64], files[DLL32]
    out.append(("the DLLs swapped", d))
    d = dict(files)
    del d[LAB32]
    out.append(("the 32-bit laboratory DLL missing", d))
    d = dict(files)
    d[LAB64], d[DLL64] = files[DLL64], files[LAB64]
    out.append(("the 64-bit DLLs of the two libraries swapped", d))
    d = dict(files)
    d[BAS] = files[BAS].replace(b"\r\n", b"\n")
    out.append(("the module with Linux line ends", d))
    d = dict(files)
    d[BAS] = files[BAS].replace(b"ByRef NGRID As Long", b"ByRef NGRID As Double", 1)
    out.append(("a wrong declaration in the module", d))
    d = dict(files)
    d[README] = files[README].replace(b"=QVX_POWER(", b"=QVX_POWR(")
    out.append(("a worksheet function missing from the READ-ME", d))
    d = dict(files)
    d[SHEET] = files[SHEET].replace(b"0.452,", b"0.425,")
    out.append(("an example sheet that QuorvexExample does not fill in", d))
    d = dict(files)
    d[TOP + "notes.txt"] = b"x\r\n"
    out.append(("a file that does not belong", d))
    return out


def main(argv: list[str]) -> int:
    if len(argv) != 7:
        print(f"usage: {argv[0]} ZIP quorvex.h DLL32 DLL64 LAB32 LAB64")
        return 2
    with zipfile.ZipFile(argv[1]) as z:
        bad = z.testzip()
        if bad is not None:
            print(f"FAILED: {argv[1]}: {bad} is damaged")
            return 1
        files = {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
    header = Path(argv[2]).read_text()
    lab_header = Path(argv[2]).with_name("quorvex_lab.h").read_text()
    built = {DLL32: Path(argv[3]).read_bytes(), DLL64: Path(argv[4]).read_bytes(),
             LAB32: Path(argv[5]).read_bytes(), LAB64: Path(argv[6]).read_bytes()}
    problems = check_package(files, header, built, lab_header)
    for p in problems:
        print(f"FAILED: {p}")
    missed = 0
    if not problems:
        for what, d in damaged(files):
            if not check_package(d, header, built, lab_header):
                print(f"FAILED: the check does not notice {what}")
                missed += 1
    if problems or missed:
        return 1
    sizes = ", ".join(f"{n[len(TOP):]} {len(b) // 1024} KiB" for n, b in sorted(files.items()))
    print(f"package {argv[1]}: ok ({sizes}); {len(damaged(files))} damaged copies rejected")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
