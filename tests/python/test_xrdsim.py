"""The Python module against the batch tool, the real scans and the peer's figures."""

import math
import os
import pickle
import re
import threading
import time

import numpy as np
import pytest

import xrdsim
from conftest import MEASURED, SCANS, SOURCE, read_table, run_batch

EXAMPLES = sorted((SOURCE / "examples").glob("*.txt"))
MODELS = {"basic": 6, "kinematical": 10, "dynamical": 10}  # the result files' digits


@pytest.mark.parametrize("model", MODELS)
@pytest.mark.parametrize("example", EXAMPLES, ids=lambda p: p.stem)
def test_numbers_equal_the_batch_files(tmp_path, example, model):
    path = tmp_path / example.name
    text = example.read_text()
    named = re.search(r"^MODEL\s+(\w+)", text, re.M)
    if named and named.group(1) != model:
        pytest.skip(f"{example.name} names MODEL {named.group(1)}")
    path.write_text(text if model == "basic" or named else text + f"\nMODEL {model}\n")
    run_batch("--output-dir", tmp_path / "out", path)
    rtol = 5 * 10.0 ** -MODELS[model]  # half a unit of the file's last digit
    structure = xrdsim.Structure(str(path))
    assert structure.model == model
    theta, intensity = xrdsim.simulate(structure, threads=2)
    dif = read_table(tmp_path / "out" / (example.stem + "-dif.txt"))
    assert len(theta) == dif.shape[1] > 100
    np.testing.assert_allclose(theta, dif[0], rtol=rtol, atol=0)
    np.testing.assert_allclose(intensity, dif[1], rtol=rtol, atol=1e-300)
    cmp = read_table(tmp_path / "out" / (example.stem + "-cmp.txt"))
    for mine, theirs in zip(xrdsim.profile(structure), cmp):
        np.testing.assert_allclose(mine, theirs, rtol=rtol, atol=10.0 ** -MODELS[model])


# Real and sample scans of every format: points, first angle, step, wavelength, counting time.
SCAN_FACTS = [
    (MEASURED / "gaasp-on-gaas-004.x00", {}, 879, 32.50125, 0.0025, 1.54056, None, "X00"),
    (MEASURED / "ingaas-gaas-sl-004.x00", {}, 1399, 31.001, 0.002, 1.54056, 2.0, "X00"),
    (SCANS / "xrdml-counts.xrdml", {}, None, None, None, None, None, "XRDML"),
    (SCANS / "two-scans.ras", {"scan": 2}, None, None, None, None, None, "RAS"),
    (SCANS / "two-ranges.uxd", {}, None, None, None, None, None, "UXD"),
    (SCANS / "two-theta.csv", {"axis": "2theta"}, None, None, None, None, None, "text"),
]


@pytest.mark.parametrize("path,choices,points,first,step,wavelength,seconds,fmt", SCAN_FACTS,
                         ids=lambda v: v.name if hasattr(v, "name") else None)
def test_read_scan_every_format(path, choices, points, first, step, wavelength, seconds, fmt):
    scan = xrdsim.read_scan(str(path), **choices)
    assert scan.format == fmt
    assert len(scan) == len(scan.theta) == len(scan.intensity) >= 2
    assert np.all(np.diff(scan.theta) >= 0) and np.all(np.isfinite(scan.intensity))
    if points is not None:
        assert len(scan) == points
        assert scan.theta[0] == pytest.approx(first, abs=1e-9)
        assert np.median(np.diff(scan.theta)) == pytest.approx(step, abs=1e-9)
        assert scan.wavelength == pytest.approx(wavelength)
    if seconds is not None:
        np.testing.assert_allclose(scan.counting_time, seconds)
    if "scan" in choices:
        assert scan.scan_number == choices["scan"]
    if "axis" in choices:
        assert scan.axis == "2theta/2"


def test_peaks_of_the_real_superlattice_give_the_peers_period():
    # The peer fitted 254.6 Å per period of the 3-period InGaAs/GaAs superlattice.
    p = xrdsim.peaks(xrdsim.read_scan(str(MEASURED / "ingaas-gaas-sl-004.x00")))
    assert p["period"]["value"] == pytest.approx(254.6, rel=0.03)
    assert p["substrate"]["theta"] == pytest.approx(33.02, abs=0.05)  # GaAs (004), Cu Kα1
    assert any("period" in line.lower() for line in p["log"])


def bad(call):
    with pytest.raises(xrdsim.Error) as e:
        call()
    return str(e.value)


@pytest.mark.parametrize("call,line", [
    (lambda: xrdsim.Structure("no/such/file.txt"), "Can't open [no/such/file.txt]."),
    (lambda: xrdsim.Structure.from_string("LAYER 10 0 1\n"), "Invalid structure ["),
    (lambda: xrdsim.Structure.from_string("WAVELENGTH 1.54\nSUBSTRATE 0 1\nLAYER 2000000 0 1\n"),
     "[structure.txt]"),
    (lambda: xrdsim.read_scan(str(SOURCE / "examples")), "["),
    (lambda: xrdsim.read_scan(str(SCANS / "two-scans.ras"), axis="chi"), "2theta or omega"),
    (lambda: xrdsim.read_scan(str(SCANS / "two-scans.ras"), window=(3, 2)), "from < to"),
    (lambda: xrdsim.fit(xrdsim.Structure(str(EXAMPLES[0]))), "FIT"),
    (lambda: xrdsim.simulate(xrdsim.Structure(str(EXAMPLES[0])), theta=[31, 30]), "ascend"),
    (lambda: xrdsim.Structure(str(EXAMPLES[0])).set_layer(99, monolayers=3), "LAYER line 99"),
])
def test_bad_input_raises_the_programs_line(call, line):
    message = bad(call)
    assert line in message and "\n" not in message


def test_edits_keep_every_other_byte_and_a_failed_edit_keeps_the_text(gaasp):
    s = xrdsim.Structure(str(gaasp))
    before = s.text
    s.set_layer(1, monolayers=194, y=0.637)
    s.set_fit("LAYER 1 N", 150, 250)
    s.set_instrument("RESOLUTION", 0.004)
    assert s.layers[0]["monolayers"] == 194 and s.layers[0]["y"] == 0.637
    assert ("LAYER 1 N", 150, 250) in s.fits and s.instrument["resolution"] == 0.004
    changed = [a for a, b in zip(before.splitlines(), s.text.splitlines()) if a != b]
    assert len(changed) == 2  # the LAYER and the FIT line; RESOLUTION is a new last line
    kept = s.text
    with pytest.raises(xrdsim.Error):
        s.text = "not a structure"
    assert s.text == kept and s.layers[0]["monolayers"] == 194
    # An edited structure still finds its relative scan, and pickles whole.
    theta, model = xrdsim.simulate(s, theta=np.linspace(32.6, 33.4, 50))
    assert np.all(model > 0)
    again = pickle.loads(pickle.dumps(s))
    assert again.text == s.text and again.measured == s.measured


def test_fit_of_the_real_gaasp_scan_equals_the_batch_tools_fit(gaasp):
    result = xrdsim.fit(xrdsim.Structure(str(gaasp)), seed=3, max_seconds=60, threads=2)
    run_batch("--fit", "--seed", "3", "--max-seconds", "60", gaasp)
    fitted = (gaasp.parent / "gaasp-fitted.txt").read_text()
    for target, value, sigma in zip(result.targets, result.values, result.sigma):
        line = next(l for l in fitted.splitlines() if l.startswith(f"# fitted {target}:"))
        assert line.split(":")[1].split()[0] == f"{value:.6g}" or target.endswith(" N")
        if target.endswith(" N"):
            assert f"{value:.0f}" in line
    # Near the peer's 53.5 nm (about 194 ML) of GaAs(0.637)P(0.363), whose physics differs.
    n, y, _ = result.values
    assert 180 < n < 210 and y == pytest.approx(0.637, abs=0.03)
    assert result.agreement < result.agreement_before
    assert np.all(result.sigma > 0) and len(result.at_bound) == 3
    assert result.structure.layers[0]["monolayers"] == round(n)
    assert result.structure.text.startswith("# agreement before:")
    assert result.table[0].startswith("parameter")


def test_the_gil_is_released_during_a_calculation():
    # While one thread computes, this one keeps running Python: with the GIL held it could
    # not take a single step until the calculation ended.
    s = xrdsim.Structure(str(SOURCE / "bench/data/laser-10000.txt"))
    done = threading.Event()
    worker = threading.Thread(target=lambda: (xrdsim.simulate(s, threads=1), done.set()))
    steps = 0
    worker.start()
    while not done.is_set():
        steps += 1
    worker.join()
    assert steps > 10000


def test_two_threads_compute_in_parallel():
    cores = len(os.sched_getaffinity(0))
    if cores < 2:
        pytest.skip("one core: two threads cannot run side by side here")
    s = xrdsim.Structure(str(SOURCE / "bench/data/laser-10000.txt"))
    xrdsim.simulate(s, threads=1)
    start = time.perf_counter()
    for _ in range(2):
        xrdsim.simulate(s, threads=1)
    serial = time.perf_counter() - start
    start, cpu = time.perf_counter(), time.process_time()
    threads = [threading.Thread(target=xrdsim.simulate, args=(s,), kwargs={"threads": 1})
               for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    wall, cpu = time.perf_counter() - start, time.process_time() - cpu
    if wall >= 0.7 * serial and cpu < 1.6 * wall:
        pytest.skip(f"the cores are busy with other work: two threads got {cpu / wall:.2f} "
                    f"cores' worth of time ({wall:.2f} s against {serial:.2f} s in turn)")
    assert wall < 0.7 * serial


@pytest.mark.parametrize("name,position", [
    ("wafer_x-12.5_y30.xrdml", (-12.5, 30.0)),
    ("X=3,Y=-4.txt", (3.0, -4.0)),
    ("p17-x0y5.x00", (0.0, 5.0)),
    ("max_y3.txt", None),
])
def test_position_from_name(name, position):
    assert xrdsim.position_from_name(name) == position
