#!/usr/bin/env python3
"""Many-seed statistics of the fit, outside the ctest run.

Makes ten synthetic scans of the 10-period superlattice of bench/data/fit-superlattice.txt
(the model of the true structure at 1,400 angles, scaled to 1e5 counts per second at the peak
on 1 of background, Poisson noise with seeds 100 to 109), fits each with
`xrdsim-batch --fit` from the file's start values, and counts the fits in which every
parameter came back within twice its uncertainty, or within 1 monolayer and 0.002 in
composition. Needs numpy (Debian python3-numpy).

    python3 tools/fitstats/fit_seeds.py build/release/tools/xrdsim-batch
"""
import pathlib
import re
import subprocess
import sys
import tempfile

import numpy as np

TRUTH = {"LAYER 1 N": 30, "LAYER 1 X": 0.6, "LAYER 2 N": 60, "LAYER 2 Y": 0.1,
         "OFFSET": 0.0, "RESOLUTION": 0.003}
TRUE_STRUCTURE = """WAVELENGTH 1.5406
SUBSTRATE 1 0
LAYER 30 0.6 1
LAYER 60 1 0.1
REPEAT 10
SCALE 1
BACKGROUND 0
"""


def main():
    tool = pathlib.Path(sys.argv[1]).resolve()
    bench = pathlib.Path(__file__).resolve().parents[2] / "bench" / "data"
    fit_text = (bench / "fit-superlattice.txt").read_text().replace(
        "fit-superlattice-scan.dat", "scan.txt")
    with tempfile.TemporaryDirectory() as folder:
        work = pathlib.Path(folder)
        theta = np.linspace(30.5, 33.0, 1400)
        np.savetxt(work / "flat.txt", np.c_[theta, np.ones_like(theta)], fmt="%.10g")
        (work / "truth.txt").write_text(TRUE_STRUCTURE)
        subprocess.run([tool, "--measured", "flat.txt", "truth.txt"], cwd=work,
                       capture_output=True, check=True)
        model = np.loadtxt(work / "truth-meas.txt")[:, 2]
        (work / "fit.txt").write_text(fit_text)
        within = 0
        for seed in range(100, 110):
            counts = np.random.default_rng(seed).poisson(1e5 * model / model.max() + 1)
            np.savetxt(work / "scan.txt", np.c_[theta, counts], fmt="%.10g")
            out = subprocess.run([tool, "--fit", "-o", str(work / "out"), "fit.txt"], cwd=work,
                                 capture_output=True, text=True).stdout
            good = True
            for target, true in TRUTH.items():
                row = re.search(re.escape(target) + r"\s+\S+\s+(\S+)\s+(\S+)", out)
                value, sigma = float(row.group(1)), float(row.group(2))
                slack = 1.0 if target.endswith(" N") else 0.002 if target.startswith("LAYER") else 0
                good &= abs(value - true) <= max(2 * sigma, slack) + 1e-12
            within += good
            print(seed, "within" if good else "MISSED")
        print(f"{within} of 10 fits within twice their uncertainty (or 1 ML / 0.002)")


if __name__ == "__main__":
    main()
