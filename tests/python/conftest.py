import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("XRDSIM_SOURCE", pathlib.Path(__file__).parents[2]))
BATCH = os.environ.get("XRDSIM_BATCH", str(SOURCE / "build/release/tools/xrdsim-batch"))
MEASURED = SOURCE / "tests/data/measured"
SCANS = SOURCE / "tests/data/scans"


def run_batch(*args):
    """Runs the batch tool; its standard output."""
    done = subprocess.run([BATCH, "--threads", "1", *map(str, args)], capture_output=True,
                          text=True, check=False)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def read_table(path):
    """The columns of a tab-separated result file (comment lines skipped)."""
    import numpy as np
    rows = [line.split("\t") for line in pathlib.Path(path).read_text().splitlines()
            if line and not line.startswith("#")]
    return np.array(rows, dtype=float).T


@pytest.fixture
def gaasp(tmp_path):
    """The real GaAsP-on-GaAs scan with a single-layer structure of 3 free parameters."""
    scan = tmp_path / "gaasp.x00"
    scan.write_bytes((MEASURED / "gaasp-on-gaas-004.x00").read_bytes())
    path = tmp_path / "gaasp.txt"
    path.write_text("WAVELENGTH 1.54056\nSUBSTRATE 0 1\nLAYER 150 0 0.7\nREPEAT 1\n"
                    "MODEL kinematical\nMEASURED gaasp.x00\nFIT LAYER 1 N 120 260\n"
                    "FIT LAYER 1 Y 0.5 0.8\nFIT OFFSET -0.02 0.02\n")
    return path
