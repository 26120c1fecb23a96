#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench/) and runs them. Extra
# arguments go to the benchmark program (e.g. --benchmark_filter=Sm2).
#   scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DSEALDESK_BENCH=ON -DSEALDESK_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j2 --target bench_crypto
exec build-bench/bin/bench_crypto "$@"
