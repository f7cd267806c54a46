"""X-ray diffraction of epitaxial semiconductor multilayers.

The structure, the calculation, the measured-scan readers, the peak analysis and the fit of
xrdsim-batch, with numpy arrays in and out::

    import xrdsim
    s = xrdsim.Structure("examples/strained-ingaas-on-gaas.txt")
    theta, intensity = xrdsim.simulate(s)          # the NAME-dif file's curve
    depth, x, y = xrdsim.profile(s)                # the NAME-cmp file's profile
    scan = xrdsim.read_scan("scan.xrdml")          # any format the program reads
    result = xrdsim.fit(s, seed=1, max_seconds=60)  # as xrdsim-batch --fit
    table = xrdsim.fit_many(s, ["x0_y0.xy", "x5_y0.xy"])  # a wafer map

Errors raise xrdsim.Error (a ValueError) with the program's own line for the log. The
calculations release the GIL, so Python threads run them side by side.
"""

from ._xrdsim import (  # noqa: F401
    Error,
    FitResult,
    Scan,
    Structure,
    __version__,
    fit,
    peaks,
    profile,
    read_scan,
    simulate,
)
from .wafer import fit_many, fit_point, position_from_name, read_positions, write_csv  # noqa: F401

__all__ = [
    "Error", "FitResult", "Scan", "Structure", "fit", "fit_many", "fit_point", "peaks",
    "position_from_name", "profile", "read_positions", "read_scan", "simulate", "write_csv",
]
