#!/usr/bin/env bash
# Builds the benchmarks in Release (in build-bench/) and runs them. Progress goes to stderr; stdout
# gets one Markdown table of the SDK's data paths, each figure beside a baseline measured in the
# same run, their ratio and the target (docs/performance.md). Arguments go to the benchmark
# program, for example --benchmark_filter=Dispatch.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZRDEVICE_BUILD_TESTS=OFF -DZRDEVICE_BENCHMARKS=ON >/dev/null
cmake --build build-bench -j2 --target bench_sdk >&2
build-bench/bench/bench_sdk "$@"
