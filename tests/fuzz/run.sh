#!/usr/bin/env bash
# Fuzzes the road of a dropped file for SECONDS (default 60) with libFuzzer.
#   bash tests/fuzz/run.sh [SECONDS] [extra libFuzzer options...]
# Builds build/fuzz with clang, AddressSanitizer and UndefinedBehaviorSanitizer, seeds a
# working corpus in build/fuzz/corpus from the regression corpus, the examples and the
# benchmark structures, and leaves any input that breaks a promise in build/fuzz/artifacts.
# Such an input belongs in tests/fuzz/corpus once its fault is fixed, so every ctest run
# replays it.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true

XRD_EXTRA_PACKAGES="clang libclang-rt-14-dev" bash scripts/deps.sh
# A debug build (optimised a little for speed) keeps Qt's own assertions, such as the
# index checks of its containers, which AddressSanitizer cannot see in shared empty data.
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DBUILD_FUZZERS=ON -DSANITIZE=ON -DBUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz --target fuzz_road

mkdir -p build/fuzz/corpus build/fuzz/artifacts
cp -n tests/fuzz/corpus/* examples/*.txt bench/data/*.txt build/fuzz/corpus/ 2>/dev/null || true
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan-qt.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
build/fuzz/tests/fuzz/fuzz_road build/fuzz/corpus -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/ "$@"
