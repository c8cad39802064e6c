#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh [release|address|thread] [target...] -> build directory on stdout
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
flavour="${1:-release}"
shift || true
targets=("$@")
case "$flavour" in
  release) dir="$root/build"; sanitize=none; type=RelWithDebInfo ;;
  address) dir="$root/build-asan"; sanitize=address; type=Debug ;;
  thread)  dir="$root/build-tsan"; sanitize=thread; type=Debug ;;
  *) echo "usage: $0 [release|address|thread]" >&2; exit 2 ;;
esac
jobs="${KOLVAPROF_JOBS:-2}"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DKOLVAPROF_SANITIZE="$sanitize" \
  -DKOLVAPROF_WARNINGS_AS_ERRORS=ON >&2
if [ "${#targets[@]}" -gt 0 ]; then
  cmake --build "$dir" -j"$jobs" --target "${targets[@]}" >&2
else
  cmake --build "$dir" -j"$jobs" >&2
fi
echo "$dir"
