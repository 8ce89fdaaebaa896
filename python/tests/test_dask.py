"""The Dask example on a local cluster of 2 worker processes: a pickled Calibration
inverts partitions of a batch exactly as one call does."""
import importlib.util
import os
from pathlib import Path

import numpy as np
import pytest

distributed = pytest.importorskip("distributed")
pytest.importorskip("dask.dataframe")

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "dask_inverse.py"


def load_example():
    found = importlib.util.spec_from_file_location("dask_inverse", EXAMPLE)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_inverse_on_a_local_cluster_of_two_processes(libpath, monkeypatch):
    # The worker processes import quorvex from this source tree and load this library.
    python_dir = str(Path(__file__).resolve().parents[1])
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(
        [python_dir] + [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]))
    monkeypatch.setenv("QUORVEX_LIBRARY", libpath)
    example = load_example()
    cal = example.calibration()
    y = np.random.default_rng(3).uniform(cal(0.0) - 1, cal(10.0) + 1, 5000)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        result = example.invert_batch(cal, y, 0.02, partitions=6)
        pids = set(client.run(os.getpid).values())
    assert len(pids) == 2 and os.getpid() not in pids
    direct = cal.inverse(y, u_y=0.02)
    np.testing.assert_array_equal(result["y"].to_numpy(), y)
    np.testing.assert_array_equal(result["x"].to_numpy(), direct.x)
    np.testing.assert_array_equal(result["u_x"].to_numpy(), direct.u_x)
    np.testing.assert_array_equal(result["n_roots"].to_numpy(), direct.n_roots)
    assert direct.no_root.any() and not direct.no_root.all()
