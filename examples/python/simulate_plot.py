"""Simulate a structure and plot its curve and its depth profile with matplotlib.

    python3 examples/python/simulate_plot.py [STRUCTURE] [IMAGE.png]
"""

import pathlib
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed; drop this line to show a window instead
import matplotlib.pyplot as plt  # noqa: E402

import xrdsim  # noqa: E402

here = pathlib.Path(__file__).resolve().parent
structure_file = sys.argv[1] if len(sys.argv) > 1 else str(here.parent /
                                                           "ingaas-inp-superlattice.txt")
image = sys.argv[2] if len(sys.argv) > 2 else "simulated.png"

structure = xrdsim.Structure(structure_file)
theta, intensity = xrdsim.simulate(structure)
depth, x, y = xrdsim.profile(structure)

fig, (top, bottom) = plt.subplots(2, 1, figsize=(8, 7))
top.step(depth / 10, x, where="post", label="x (In)")
top.step(depth / 10, y, where="post", label="y (As)")
top.set_xlabel("depth in one period (nm)")
top.set_ylabel("fraction")
top.legend()
bottom.semilogy(theta, intensity, lw=0.8)
bottom.set_xlabel("θ (degrees)")
bottom.set_ylabel(f"intensity ({structure.model} model)")
fig.tight_layout()
fig.savefig(image, dpi=100)
print(f"{len(theta)} curve points, {len(depth) - 1} monolayers per period; wrote {image}")
