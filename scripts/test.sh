#!/usr/bin/env bash
# Installs what is missing, checks the include directions, builds, and runs
# every test: unit and real-JVM integration tests, the Debian package
# (built, installed into a scratch directory, tried on the demo), then the unit and
# integration tests again under ASan + UBSan, the concurrency tests under
# ThreadSanitizer, and the fuzzers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"

status=0
echo "== include directions"
"$root/scripts/check-layers.sh" || status=1
build="$("$root/scripts/build.sh" release)"
echo "== unit and integration tests (every JDK under /usr/lib/jvm)"
(cd "$build" && ctest --output-on-failure -j2 --timeout 600) || status=1
echo "== the Debian package, installed into a scratch directory, traces the demo"
"$root/scripts/package.sh" >/dev/null || status=1

if [ "${KOLVAPROF_SKIP_SANITIZERS:-0}" != "1" ]; then
  "$root/scripts/sanitize.sh" || status=1
fi

# Every *_fuzzer for a bounded time (KOLVAPROF_FUZZ_SECONDS each).
if [ "${KOLVAPROF_SKIP_FUZZERS:-0}" != "1" ]; then
  "$root/scripts/fuzz.sh" || status=1
fi
exit "$status"
