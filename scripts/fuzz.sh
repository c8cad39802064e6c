#!/usr/bin/env bash
# Builds every libFuzzer target of the project (the CMake targets named
# *_fuzzer, with clang and KOLVAPROF_BUILD_FUZZERS=ON) into build-fuzz and runs
# each for a bounded time. Fails when a fuzzer finds a crash, a leak or a
# hang; the input that did it is left in build-fuzz/artifacts/.
#   KOLVAPROF_FUZZ_SECONDS  seconds per fuzzer (20)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
dir="$root/build-fuzz"
seconds="${KOLVAPROF_FUZZ_SECONDS:-20}"
jobs="${KOLVAPROF_JOBS:-2}"

CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKOLVAPROF_BUILD_FUZZERS=ON -DKOLVAPROF_WARNINGS_AS_ERRORS=ON >&2
mapfile -t targets < <(cmake --build "$dir" --target help | grep -oE '\b[A-Za-z0-9_]+_fuzzer\b' | sort -u)
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no *_fuzzer targets in $dir" >&2
  exit 1
fi
cmake --build "$dir" -j"$jobs" --target "${targets[@]}" >&2

status=0
mkdir -p "$dir/artifacts"
while IFS= read -r fuzzer; do
  name="$(basename "$fuzzer")"
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  # Seeds and dictionaries live next to the fuzzer sources: fuzz/seeds/<name>/, <name>.dict.
  # The first corpus directory receives new inputs, so the seeds come after it.
  options=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048
           -artifact_prefix="$dir/artifacts/$name-")
  dict="$(find "$root/tools" "$root/tests" -path "*/fuzz/$name.dict" -type f 2>/dev/null | head -n 1)"
  [ -n "$dict" ] && options+=("-dict=$dict")
  seeds=()
  while IFS= read -r seed; do seeds+=("$seed"); done < <(find "$root/tools" "$root/tests" -path "*/fuzz/seeds/$name" -type d 2>/dev/null)
  echo "== $name (${seconds}s)"
  if ! "$fuzzer" "${options[@]}" "$corpus" "${seeds[@]}" >"$dir/$name.log" 2>&1; then
    echo "FAILED: $name; the last lines of $dir/$name.log:"
    tail -n 40 "$dir/$name.log"
    status=1
  else
    grep -E '^(Done|#[0-9]+.*DONE)' "$dir/$name.log" | tail -n 1 || true
  fi
done < <(find "$dir" -type f -perm -u+x -name '*_fuzzer' | sort)
exit "$status"
