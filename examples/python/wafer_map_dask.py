"""A wafer map on Dask: one GaAsP layer fitted to a synthetic scan per wafer point.

Makes a map of POINTS scans of a GaAs(y)P(1-y) layer on GaAs whose thickness and composition
vary across a 150 mm wafer (Poisson noise at about 1e5 counts/s), fits each on a Dask
cluster with the same seed, and writes map.csv:

    python3 examples/python/wafer_map_dask.py [POINTS] [WORKERS] [FOLDER]

The cluster here is local (WORKERS processes of one thread each, on this machine). For many
machines, start `dask-scheduler` on one and `dask-worker SCHEDULER:8786` on the others, and
replace the LocalCluster line by:  client = Client("tcp://SCHEDULER:8786")
(the scan files must then be on a folder every machine sees).
"""

import math
import os
import pathlib
import sys
import time

import numpy as np
from dask.distributed import Client, LocalCluster

import xrdsim

STRUCTURE = """WAVELENGTH 1.54056
SUBSTRATE 0 1
LAYER {n} 0 {y}
REPEAT 1
MODEL kinematical
FIT LAYER 1 N 120 260
FIT LAYER 1 Y 0.5 0.8
FIT OFFSET -0.02 0.02
"""


def wafer_points(count, radius=75.0):
    """`count` points on a square grid inside the wafer's circle (mm)."""
    pitch = radius * math.sqrt(math.pi / count)
    while True:
        axis = np.arange(-radius, radius + 1e-9, pitch)
        points = [(x, y) for x in axis for y in axis if x * x + y * y <= radius * radius]
        if len(points) >= count:
            return points[:count]
        pitch *= 0.98


def make_map(folder, count, seed=7):
    """Writes one synthetic scan per point, named by its position; the true (n, y) per file."""
    folder.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(seed)
    theta = np.arange(32.6, 33.4, 0.0025)
    truth = {}
    for x, y in wafer_points(count):
        r2 = (x * x + y * y) / 75.0**2
        n, comp = round(194 * (1 - 0.1 * r2)), 0.64 - 0.03 * r2 + 0.01 * x / 75
        s = xrdsim.Structure.from_string(STRUCTURE.format(n=n, y=round(comp, 4)))
        _, model = xrdsim.simulate(s, theta=theta, threads=1)
        counts = rng.poisson(1e5 * model / model.max() + 1.0)
        path = folder / f"wafer_x{x:.1f}_y{y:.1f}.txt"
        np.savetxt(path, np.column_stack([theta, counts]), fmt=["%.4f", "%d"])
        truth[str(path)] = (n, comp)
    return truth


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 40
    workers = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    folder = pathlib.Path(sys.argv[3] if len(sys.argv) > 3 else "wafer-map")
    truth = make_map(folder, count)
    structure = STRUCTURE.format(n=160, y=0.65)  # the start of every fit

    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        # client = Client("tcp://SCHEDULER:8786")   # many machines: this line instead
        start = time.perf_counter()
        futures = client.map(xrdsim.fit_point, [structure] * len(truth), list(truth),
                             seed=1, threads=1, pure=False)
        rows = client.gather(futures)
        wall = time.perf_counter() - start
    table = xrdsim.wafer.table_of(rows)
    xrdsim.write_csv(table, folder / "map.csv")
    n_error = np.abs(table["LAYER 1 N"] - [truth[f][0] for f in table["file"]])
    print(f"{len(rows)} points on {workers} workers in {wall:.1f} s; "
          f"thickness within {n_error.max():.0f} ML of the truth; wrote {folder / 'map.csv'}")
    return 0 if all(not e for e in table["error"]) else 1


if __name__ == "__main__":
    sys.exit(main())
