"""Peak memory (maximum resident set size) of command-line runs at the documented bounds.

    QUORVEX_LIBRARY=build/libQUORVEXv1.so PYTHONPATH=python \\
        /usr/bin/python3 python/bench/peak_memory.py [WORKDIR]

Each run is a child process; its peak is read from getrusage.  The figures are quoted in
docs/reliability.md.  Not part of the test suite: the largest runs take minutes.
"""
import os
import resource
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np


def standards(path, n):
    rng = np.random.default_rng(1)
    x = np.linspace(0.0, 10.0, n)
    y = 0.01 + 0.14 * x + rng.normal(0, 0.002, n)
    with open(path, "w") as f:
        f.write("x,y,u_y\n")
        for a, b in zip(x, y):
            f.write(f"{a!r},{b!r},0.002\n")


def samples(path, m):
    rng = np.random.default_rng(2)
    with open(path, "w") as f:
        f.write("name,y\n")
        for k, v in enumerate(rng.uniform(0.1, 1.3, m)):
            f.write(f"s{k},{v!r}\n")


def peak(argv):
    """(exit status, peak MiB, last line of standard error) of one run."""
    code = ("import resource, sys\n"
            "from quorvex import cli\n"
            "try:\n"
            "    r = cli.main(sys.argv[1:])\n"
            "except SystemExit as e:\n"
            "    r = e.code\n"
            "print('PEAK', resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, file=sys.stderr)\n"
            "sys.exit(r)\n")
    p = subprocess.run([sys.executable, "-c", code, *map(str, argv)], capture_output=True,
                       text=True)
    lines = p.stderr.strip().splitlines()
    kib = int(next(line for line in lines if line.startswith("PEAK")).split()[1])
    said = next((line for line in lines if "error" in line), "")
    return p.returncode, kib / 1024, said


def main():
    work = Path(sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp())
    work.mkdir(parents=True, exist_ok=True)
    from quorvex import cli
    standards(work / "std1e6.csv", 1_000_000)
    standards(work / "stdmax.csv", cli.MAX_STANDARDS)
    standards(work / "std13.csv", 13)
    samples(work / "s1e6.csv", 1_000_000)
    samples(work / "smax.csv", cli.MAX_SAMPLES)
    samples(work / "s20.csv", cli.MAX_MC_VALUES // cli.MAX_DRAWS)
    runs = [
        ("fit, 10^6 standards", ["fit", work / "std1e6.csv", "--out", work / "a", "-q"]),
        (f"fit, {cli.MAX_STANDARDS} standards (the bound)",
         ["fit", work / "stdmax.csv", "--out", work / "b", "-q", "--pictures", "png"]),
        ("invert that calibration, 20 samples",
         ["invert", work / "b" / "calibration.json", work / "s20.csv", "-q", "--pictures",
          "png", "--uy-value", 0.002]),
        ("fit, 13 standards", ["fit", work / "std13.csv", "--out", work / "c", "-q",
                               "--pictures", "png"]),
        (f"invert, {cli.MAX_SAMPLES} samples (the bound)",
         ["invert", work / "c" / "calibration.json", work / "smax.csv", "-q", "--pictures",
          "png", "--uy-value", 0.002]),
        ("invert, 10^6 samples",
         ["invert", work / "c" / "calibration.json", work / "s1e6.csv", "-q", "--pictures",
          "png", "--uy-value", 0.002]),
        (f"--ngrid {cli.MAX_NGRID} (the bound), 20 samples",
         ["fit", work / "std13.csv", "--samples", work / "s20.csv", "--ngrid", cli.MAX_NGRID,
          "--out", work / "d", "-q", "--pictures", "png", "--uy-value", 0.002]),
        ("--ngrid 2000000000", ["fit", work / "std13.csv", "--ngrid", 2000000000, "--out",
                                work / "e", "-q"]),
        (f"--monte-carlo {cli.MAX_DRAWS} (the bound), 20 samples",
         ["fit", work / "std13.csv", "--samples", work / "s20.csv", "--monte-carlo",
          cli.MAX_DRAWS, "--seed", 1, "--out", work / "f", "-q", "--pictures", "png", "--uy-value",
          0.002]),
        ("--monte-carlo 1000000000", ["fit", work / "std13.csv", "--samples", work / "s20.csv",
                                      "--monte-carlo", 1000000000, "--out", work / "g", "-q",
                                      "--uy-value", 0.002]),
    ]
    for what, argv in runs:
        status, mib, said = peak(argv)
        print(f"| {what} | {status} | {mib:.0f} MiB | {said[:90]} |", flush=True)


if __name__ == "__main__":
    main()
