"""Invert a large batch of responses in parallel with Dask.

A Calibration holds only numbers (no handle on the library), so it pickles and
travels to the worker processes with the task graph; each worker loads the
library itself and inverts its partition of the responses.

    /usr/bin/python3 examples/dask_inverse.py [responses] [workers]

Run it after installing the package (README, "Python"), or from the source tree
with PYTHONPATH=python.
"""
from __future__ import annotations

import sys

import numpy as np
import pandas as pd

import quorvex


def invert_partition(part: pd.DataFrame, cal: quorvex.Calibration) -> pd.DataFrame:
    """x +- u(x) for the responses of one partition."""
    pred = cal.inverse(part["y"].to_numpy(), u_y=part["u_y"].to_numpy())
    return part.assign(x=pred.x, u_x=pred.u_x, n_roots=pred.n_roots.astype(np.int32))


def calibration() -> quorvex.Calibration:
    """A quadratic calibration of ten standards measured in duplicate."""
    x = np.repeat(np.linspace(0.0, 10.0, 10), 2)
    rng = np.random.default_rng(1)
    y = 0.2 + 1.5 * x + 0.03 * x**2 + 0.02 * rng.standard_normal(x.size)
    return quorvex.fit(x, y, u_y=0.02, degree=2)


def invert_batch(cal: quorvex.Calibration, y: np.ndarray, u_y: float,
                 partitions: int) -> pd.DataFrame:
    """Invert ``y`` in ``partitions`` pieces with the current Dask scheduler."""
    import dask.dataframe as dd
    frame = dd.from_pandas(pd.DataFrame({"y": y, "u_y": np.full(y.size, u_y)}),
                           npartitions=partitions)
    meta = pd.DataFrame({"y": [], "u_y": [], "x": [], "u_x": [],
                         "n_roots": np.array([], dtype=np.int32)})
    return frame.map_partitions(invert_partition, cal, meta=meta).compute()


def main(argv: list[str]) -> int:
    from dask.distributed import Client, LocalCluster
    n = int(float(argv[1])) if len(argv) > 1 else 1_000_000
    workers = int(argv[2]) if len(argv) > 2 else 2
    cal = calibration()
    y = np.random.default_rng(2).uniform(cal(0.5), cal(9.5), n)
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster):
        result = invert_batch(cal, y, 0.02, partitions=4 * workers)
    print(cal.summary())
    print(result.head())
    print(f"{len(result)} responses inverted on {workers} worker processes; "
          f"{int((result.n_roots == 0).sum())} without a root")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
