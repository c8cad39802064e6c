#!/usr/bin/env bash
# Builds the library, the floor agents and the Java workloads, then runs every
# workload under every configuration and prints the table of ratios.
#   bench/run.sh [--quick] [--write-results] [--workloads a,b] [--configs pattern,...]
#                [--keep-page-cache]
# Run as root, each run starts on a written-back, empty page cache (the
# gigabytes one run writes would otherwise slow the next one down).
# Environment: BENCH_RUNS (runs per cell, default 3), BENCH_JAVA (java binary),
# BENCH_JVM_FLAGS, BENCH_BUILD_DIR (default build-bench), BENCH_BUILD_TYPE.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BENCH_BUILD_DIR:-$root/build-bench}"
# Same optimisation as scripts/build.sh release; no tests, so no GoogleTest needed.
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="${BENCH_BUILD_TYPE:-RelWithDebInfo}" \
  -DKOLVAPROF_SANITIZE=none -DKOLVAPROF_BUILD_TESTS=OFF -DKOLVAPROF_BUILD_BENCHMARKS=ON \
  -DKOLVAPROF_WARNINGS_AS_ERRORS=ON >&2
cmake --build "$dir" -j"${KOLVAPROF_JOBS:-2}" \
  --target kolvaprof events_floor_agent receiver_floor_agent bench_java >&2
exec python3 "$root/bench/run_benchmarks.py" --build-dir "$dir" "$@"
