"""How long ``quorvex fit`` takes on the example with its report and pictures, against
the time Python needs to import numpy, scipy and matplotlib, measured in one run.

    /usr/bin/python3 python/bench/report_speed.py [--runs N] [--package DIR]

Each measurement is one new Python process, as a user starts one: its processor time
(user plus system, from the operating system's accounting of the finished child),
which other jobs on a shared machine do not inflate the way they do wall time (the
wall time is printed too).  The three commands run in alternation, N times each
(default 9), so that all see the same machine; the table gives the median and the
smallest of each, and the ratio of the fit's median to each import's median:

  imports           python3 -c "import numpy, scipy, matplotlib"
  imports + pyplot  python3 -c "import numpy, scipy, matplotlib.pyplot"
  quorvex fit       python3 -m quorvex fit examples/standards.csv --degree 2 --out TMP
                    --force -q (the curve the verdicts accept; report.html,
                    calibration.json, calibration.png at 200 dpi and calibration.svg:
                    the default pictures)

The library is found as the package finds it (QUORVEX_LIBRARY, or the build folder);
--package times the quorvex package in another checkout's python/ folder (to compare
before and after a change).
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def timed(cmd, env) -> tuple[float, float]:
    """(processor time, wall time) of one run of cmd, in seconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = time.perf_counter()
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - t
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime), wall


def main(argv=None) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--runs", type=int, default=9)
    p.add_argument("--package", default=str(ROOT / "python"),
                   help="the python/ folder whose quorvex is timed (default: this one)")
    a = p.parse_args(argv)
    py = sys.executable
    env = dict(os.environ, PYTHONPATH=a.package)
    with tempfile.TemporaryDirectory() as tmp:
        cmds = {
            "imports": [py, "-c", "import numpy, scipy, matplotlib"],
            "imports + pyplot": [py, "-c", "import numpy, scipy, matplotlib.pyplot"],
            "quorvex fit": [py, "-m", "quorvex", "fit", str(ROOT / "examples" / "standards.csv"),
                            "--degree", "2", "--out", tmp, "--force", "-q"],
        }
        for c in cmds.values():  # warm the file cache once
            timed(c, env)
        times = {k: [] for k in cmds}
        for _ in range(a.runs):
            for k, c in cmds.items():
                times[k].append(timed(c, env))
    cpu = {k: [c for c, _ in v] for k, v in times.items()}
    wall = {k: [w for _, w in v] for k, v in times.items()}
    med = {k: statistics.median(v) for k, v in cpu.items()}
    print(f"{a.runs} runs each, processor time of a new process (s); load average "
          f"{os.getloadavg()[0]:.2f}")
    print("| command | median (s) | fastest (s) | fit / this | median wall (s) |")
    print("|---|---:|---:|---:|---:|")
    for k, v in cpu.items():
        ratio = med["quorvex fit"] / med[k]
        print(f"| {k} | {med[k]:.3f} | {min(v):.3f} | {ratio:.2f} | "
              f"{statistics.median(wall[k]):.3f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
