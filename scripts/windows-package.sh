#!/usr/bin/env bash
# Writes quorvex-windows.zip, the package for spreadsheet users, from the
# DLLs that `bash scripts/windows.sh` and `bash scripts/windows.sh --64` built
# (QUORVEXv1.dll and QUORVEXlab1.dll of each; it builds nothing), and checks
# what it wrote.
#
#   bash scripts/windows-package.sh [OUTPUT]
#
#   OUTPUT                      the zip (default build-windows-package/quorvex-windows.zip)
#   QUORVEX_WINDOWS_BUILD_DIR   folder of the 32-bit DLLs (default build-windows)
#   QUORVEX_WINDOWS64_BUILD_DIR folder of the 64-bit DLLs (default build-windows64)
#
# The zip holds one folder, quorvex-windows/, with 32-bit/QUORVEXv1.dll,
# 32-bit/QUORVEXlab1.dll, the same two in 64-bit/, quorvex.bas, READ-ME.txt
# and example-sheet.csv; the
# text files with Windows line ends (the VBA editor imports a module only
# with them).  Entries carry a fixed date, so the same inputs give the same
# zip.  tests/windows/check_package.py then checks it: the entries, each
# DLL's machine type and its exports (the six entry points; the functions of
# include/quorvex_lab.h), the module's declarations against both headers,
# and the example sheet's layout.
set -euo pipefail
cd "$(dirname "$0")/.."

dll32=${QUORVEX_WINDOWS_BUILD_DIR:-build-windows}/QUORVEXv1.dll
dll64=${QUORVEX_WINDOWS64_BUILD_DIR:-build-windows64}/QUORVEXv1.dll
lab32=${QUORVEX_WINDOWS_BUILD_DIR:-build-windows}/QUORVEXlab1.dll
lab64=${QUORVEX_WINDOWS64_BUILD_DIR:-build-windows64}/QUORVEXlab1.dll
out=${1:-build-windows-package/quorvex-windows.zip}
for d in "$dll32" "$dll64" "$lab32" "$lab64"; do
  if [ ! -f "$d" ]; then
    echo "FAILED: $d is missing: build it first with bash scripts/windows.sh" \
         "(32-bit) and bash scripts/windows.sh --64 (64-bit)" >&2
    exit 1
  fi
done
mkdir -p "$(dirname "$out")"

/usr/bin/python3 - "$out" "$dll32" "$dll64" "$lab32" "$lab64" <<'PY'
import sys
import zipfile
from pathlib import Path

out, dll32, dll64, lab32, lab64 = sys.argv[1:]


def crlf(path):
    text = Path(path).read_bytes().replace(b"\r\n", b"\n")
    return text.replace(b"\n", b"\r\n")


entries = [
    ("quorvex-windows/32-bit/QUORVEXv1.dll", Path(dll32).read_bytes()),
    ("quorvex-windows/32-bit/QUORVEXlab1.dll", Path(lab32).read_bytes()),
    ("quorvex-windows/64-bit/QUORVEXv1.dll", Path(dll64).read_bytes()),
    ("quorvex-windows/64-bit/QUORVEXlab1.dll", Path(lab64).read_bytes()),
    ("quorvex-windows/READ-ME.txt", crlf("examples/windows-READ-ME.txt")),
    ("quorvex-windows/example-sheet.csv", crlf("examples/quorvex-sheet.csv")),
    ("quorvex-windows/quorvex.bas", crlf("examples/quorvex.bas")),
]
tmp = Path(out + ".tmp")
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in entries:
        info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, data)
tmp.replace(out)  # complete or not at all
PY

/usr/bin/python3 tests/windows/check_package.py "$out" include/quorvex.h "$dll32" "$dll64" \
  "$lab32" "$lab64"
