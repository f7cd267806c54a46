"""Fit the laser-like stack to its scan, as xrdsim-batch --fit does, and print the table.

    python3 examples/python/fit_real_scan.py [MAX_SECONDS]
"""

import pathlib
import sys

import xrdsim

source = pathlib.Path(__file__).resolve().parents[2]
max_seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 120.0

structure = xrdsim.Structure(str(source / "bench/data/fit-laser.txt"))
scan = xrdsim.read_scan(structure.measured[0][0])
print(f"scan: {len(scan)} points, {scan.theta[0]:.3f}..{scan.theta[-1]:.3f}°, {scan.format}")

result = xrdsim.fit(structure, seed=1, max_seconds=max_seconds)
print("\n".join(result.table))
print(f"agreement {result.agreement_before:.4g} -> {result.agreement:.4g}, "
      f"{result.evaluations} evaluations in {result.seconds:.1f} s, {result.flags}")
for a, b, r in result.correlations:
    print(f"correlated: {a} and {b}, r = {r:+.3f}")
# The fitted structure is a Structure like any other: its curve at the scan's angles.
theta, model = xrdsim.simulate(result.structure, theta=scan.theta)
print(f"model at {len(theta)} angles, peak {model.max():.4g} counts/s")
