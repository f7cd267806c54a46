#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, and only those
# that are missing, so a second run costs a dpkg query and nothing else.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools   # Qt 5 Core, Gui, Widgets, Test and moc
    fonts-dejavu-core               # a font, so text renders in headless tests
    libbenchmark-dev                # Google Benchmark for bench/
    libqt5svg5-dev                  # Qt SVG, for exporting plots as SVG
    libxrl-dev                      # xraylib: anomalous scattering factors and absorption
    libpagmo-dev libtbb-dev         # pagmo2 and TBB: the fit's global search, on every core
    libeigen3-dev                   # Eigen: the fit's refinement and its uncertainties
    pybind11-dev python3-pybind11   # the Python module xrdsim
    python3-numpy python3-pytest    # its arrays and its tests
    python3-dask python3-distributed python3-matplotlib  # the Python examples (wafer map, plots)
    ${XRD_EXTRA_PACKAGES:-}
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
