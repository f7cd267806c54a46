#!/usr/bin/env bash
# Configures (once) and builds the Release tree in build/release. Extra CMake options can be
# passed in XRD_CMAKE_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."

args=(-DCMAKE_BUILD_TYPE=Release)
if [ "${CI:-}" = "true" ]; then
    args+=(-DWARNINGS_AS_ERRORS=ON)
fi
# shellcheck disable=SC2206
args+=(${XRD_CMAKE_ARGS:-})

cmake -S . -B build/release -G Ninja "${args[@]}" >/dev/null
cmake --build build/release
