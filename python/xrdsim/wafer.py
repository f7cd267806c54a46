"""Wafer maps: one structure fitted to a scan per wafer point.

fit_many fits them on threads of this process (the fit releases the GIL); fit_point is the
one-point step, a plain function of picklable arguments, for Dask or any other pool. The
table is a dict of columns (numpy arrays and lists), ready for pandas.DataFrame or
write_csv.
"""

import csv
import os
import re
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from . import _xrdsim

# "x-12.5_y30", "X=3,Y=-4", "x3y4": the first x and y numbers in the file's name.
_POSITION = re.compile(
    r"(?i)(?<![a-z])x[=_]?(-?\d+(?:\.\d*)?)[^a-z0-9.-]*y[=_]?(-?\d+(?:\.\d*)?)")


def position_from_name(path):
    """(x, y) from a scan file's name such as "wafer_x-12.5_y30.xrdml"; None when it has none."""
    match = _POSITION.search(os.path.splitext(os.path.basename(path))[0])
    if not match:
        return None
    return float(match.group(1)), float(match.group(2))


def read_positions(path):
    """{scan file: (x, y)} from a CSV with the columns file, x, y (a header row first).

    Relative file names are taken from the CSV's folder.
    """
    folder = os.path.dirname(os.path.abspath(path))
    positions = {}
    with open(path, newline="", encoding="utf-8") as f:
        for line, row in enumerate(csv.DictReader(f), start=2):
            try:
                name = row["file"].strip()
                x, y = float(row["x"]), float(row["y"])
            except (KeyError, TypeError, ValueError, AttributeError) as e:
                raise _xrdsim.Error(f"[{path}] line {line}: a row needs file, x and y.") from e
            positions[os.path.normpath(os.path.join(folder, name))] = (x, y)
    return positions


def fit_point(structure, scan, position=None, seed=1, max_seconds=None, threads=1,
              choices=None):
    """Fits `structure` (a Structure, or its text) to one scan: a row of the map's table.

    The row holds the file, x, y, the agreement before and after, and per FIT target its
    value and its uncertainty, and the fit's log; `error` is the program's line when the fit
    could not run. A plain function of picklable arguments, for Dask's client.map.
    """
    if isinstance(structure, str):
        structure = _xrdsim.Structure.from_string(structure)
    if position is None:
        position = position_from_name(scan)
    x, y = position if position is not None else (float("nan"), float("nan"))
    row = {"file": os.path.abspath(scan), "x": x, "y": y}
    try:
        result = _xrdsim.fit(structure, scan, choices=choices, seed=seed,
                             max_seconds=max_seconds, threads=threads)
    except _xrdsim.Error as e:
        row["error"] = str(e)
        return row
    row["error"] = ""
    row["agreement before"] = result.agreement_before
    row["agreement"] = result.agreement
    for target, value, sigma, bound in zip(result.targets, result.values, result.sigma,
                                           result.at_bound):
        row[target] = float(value)
        row[target + " sigma"] = float(sigma)
        row[target + " at bound"] = bool(bound)
    return row


def table_of(rows):
    """The rows of fit_point as a dict of columns (numbers as numpy arrays)."""
    columns = []
    for row in rows:
        for key in row:
            if key not in columns:
                columns.append(key)
    table = {}
    for key in columns:
        values = [row.get(key) for row in rows]
        if all(isinstance(v, float) or v is None for v in values):
            table[key] = np.array([np.nan if v is None else v for v in values])
        else:
            table[key] = values
    return table


def fit_many(structure, scans, positions=None, seed=1, max_seconds=None, workers=None,
             threads=1, choices=None):
    """Fits one structure to many scans (a wafer map) and returns the table of fit_point rows.

    `positions` maps a scan to (x, y), or names a CSV of file, x, y; a scan it leaves out
    takes its position from its file name. Each fit runs with the same `seed` (the answers
    are those of fitting each scan alone), `workers` at once on threads of this process
    (default: every core), each fit on `threads` threads.
    """
    if isinstance(positions, (str, os.PathLike)):
        positions = read_positions(positions)
    positions = {os.path.normpath(os.path.abspath(k)): v for k, v in (positions or {}).items()}
    scans = [os.fspath(s) for s in scans]
    workers = workers or os.cpu_count() or 1

    def one(scan):
        return fit_point(structure, scan, positions.get(os.path.normpath(os.path.abspath(scan))),
                         seed=seed, max_seconds=max_seconds, threads=threads, choices=choices)

    with ThreadPoolExecutor(max_workers=workers) as pool:
        rows = list(pool.map(one, scans))
    return table_of(rows)


def write_csv(table, path):
    """Writes a table of fit_many as CSV, one row per scan."""
    keys = list(table)
    count = len(table[keys[0]]) if keys else 0
    with open(path, "w", newline="", encoding="utf-8") as f:
        out = csv.writer(f)
        out.writerow(keys)
        for i in range(count):
            out.writerow([table[k][i] for k in keys])
