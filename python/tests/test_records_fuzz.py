"""A short run of the from_json fuzzer (fuzz_record.py): a fixed number of mutants from a
fixed seed; no exception outside QuorvexError, no damaged record accepted, no accepted
record that then fails."""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import fuzz_record  # noqa: E402


def test_from_json_fuzz_short_run():
    counts = fuzz_record.run(n=1500, seed=20261208, show=0)
    assert counts["crash"] == 0 and counts["late"] == 0 and counts["damaged"] == 0, counts
    assert counts["refused"] > counts["mutants"] // 2
