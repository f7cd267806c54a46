#!/usr/bin/env python3
"""The map road against xrayutilities (for the bench and the validation; the program does not
use xrayutilities).

    python3 tools/rsm_compare_xu.py BATCH_TOOL [WORKDIR]

1. Cell sums: the synthetic map tests/data/rsm/ingaas224-exit.xrdml gridded by
   `xrdsim-batch --rsm MAP --grid 80x100 --no-align` and by xrayutilities' Gridder2D (angles
   from xrayutilities' XRDML reader, Q by the coplanar formula), compared cell by cell.
2. Time: xrayutilities' XRDML reader plus Gridder2D (500 x 500) on a map of a million points
   written by tools/rsm_synth.py --big; bench/bench_rsm times the program's own road on the
   same kind of file (BM_ReadAndGridMap).
"""
import math
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import xrayutilities as xu

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
WAVELENGTH = 1.5405929


def to_q(om, tt):
    k = 2 * math.pi / WAVELENGTH
    w, t = np.radians(om), np.radians(tt)
    return k * (np.cos(t - w) - np.cos(w)), k * (np.sin(w) + np.sin(t - w))


def read_and_grid(path, nx, nz):
    om, tt, psd = xu.io.getxrdml_map(path)
    qx, qz = to_q(om, tt)
    g = xu.Gridder2D(nx, nz)
    g.Normalize(False)
    g(qx, qz, psd)
    return g


def main():
    tool = sys.argv[1]
    work = sys.argv[2] if len(sys.argv) > 2 else tempfile.mkdtemp()
    small = os.path.join(ROOT, "tests/data/rsm/ingaas224-exit.xrdml")
    subprocess.run([tool, "--rsm", small, "--grid", "80x100", "--no-align", "-o", work],
                   check=True, stdout=subprocess.DEVNULL)
    ours = np.loadtxt(os.path.join(work, "ingaas224-exit-rsmgrid.txt"))
    mean, points = ours[:, 2], ours[:, 3]
    sums = np.where(points > 0, mean * points, 0.0).reshape(100, 80)  # row j = Qz
    g = read_and_grid(small, 80, 100)
    theirs = g.data.T  # Gridder2D holds data[x, z]
    worst = np.max(np.abs(sums - theirs) / np.maximum(np.abs(theirs), 1e-300))
    print(f"cells {sums.size}, filled {int((points > 0).sum())}, "
          f"largest relative difference of a cell sum {worst:.2e}, "
          f"total {sums.sum():.6g} vs {theirs.sum():.6g}")

    subprocess.run([sys.executable, os.path.join(HERE, "rsm_synth.py"), work, "--big",
                    "1000000"], check=True, stdout=subprocess.DEVNULL)
    big = os.path.join(work, "big-exit.xrdml")
    best = 1e9
    for _ in range(3):
        start = time.perf_counter()
        read_and_grid(big, 500, 500)
        best = min(best, time.perf_counter() - start)
    print(f"xrayutilities: read and grid {os.path.getsize(big) / 1e6:.1f} MB, "
          f"best of 3: {best * 1000:.0f} ms")
    return 0 if worst <= 1e-6 else 1


if __name__ == "__main__":
    sys.exit(main())
