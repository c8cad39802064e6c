#!/usr/bin/env bash
# Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# concurrency tests under ThreadSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
status=0

asan="$("$root/scripts/build.sh" address)"
echo "== unit tests under ASan + UBSan"
(cd "$asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j2 -L unit) || status=1

tsan="$("$root/scripts/build.sh" thread)"
echo "== concurrency tests under ThreadSanitizer"
# Death tests fork a threaded process, which ThreadSanitizer rightly dislikes;
# they run in the other builds.
(cd "$tsan" && TSAN_OPTIONS=halt_on_error=1 \
   ./tests/unit_tests --gtest_filter='*Concurrent*' --gtest_brief=1) || status=1
exit "$status"
