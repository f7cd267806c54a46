#!/usr/bin/env bash
# Fuzzes the road of a dropped file for SECONDS (default 60) with libFuzzer.
#   bash tests/fuzz/run.sh [SECONDS] [extra libFuzzer options...]
# Builds build/fuzz with clang, AddressSanitizer and UndefinedBehaviorSanitizer, seeds a
# working corpus in build/fuzz/corpus from the regression corpus, the examples and the
# benchmark structures, and leaves any input that breaks a promise in build/fuzz/artifacts.
# Such an input belongs in tests/fuzz/corpus once its fault is fixed, so every ctest run
# replays it.
# XRD_FUZZ_TARGET=fuzz_scans fuzzes the scan readers instead: working corpus
# build/fuzz/scan-corpus, seeded from tests/fuzz/scan-corpus (where its fault inputs belong)
# and the readers' samples in tests/data/scans.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
target=${XRD_FUZZ_TARGET:-fuzz_road}
case "$target" in
fuzz_road)
    corpus=build/fuzz/corpus
    seeds=(tests/fuzz/corpus/* examples/*.txt bench/data/*.txt)
    ;;
fuzz_scans)
    corpus=build/fuzz/scan-corpus
    seeds=(tests/fuzz/scan-corpus/* tests/data/scans/*)
    ;;
*)
    echo "unknown fuzz target: $target (fuzz_road or fuzz_scans)" >&2
    exit 2
    ;;
esac

XRD_EXTRA_PACKAGES="clang libclang-rt-14-dev" bash scripts/deps.sh
# A debug build (optimised a little for speed) keeps Qt's own assertions, such as the
# index checks of its containers, which AddressSanitizer cannot see in shared empty data.
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DBUILD_FUZZERS=ON -DSANITIZE=ON -DBUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz --target "$target"

mkdir -p "$corpus" build/fuzz/artifacts
cp -n "${seeds[@]}" "$corpus"/ 2>/dev/null || true
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan-qt.supp"
export QT_NO_GLIB=1
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"build/fuzz/tests/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=4096 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/ "$@"
