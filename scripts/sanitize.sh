#!/usr/bin/env bash
# Unit and integration tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# and the concurrency tests under ThreadSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
status=0

asan="$("$root/scripts/build.sh" address)"
echo "== unit tests under ASan + UBSan"
(cd "$asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j2 -L unit) || status=1

# --- The integration suite with the agent under ASan + UBSan -----------------
# The library of the address build runs inside a real java. The sanitizer
# runtimes must be loaded before anything else, so they are preloaded into
# java, and only into java, through the harness's KOLVAPROF_JAVA_ENV_*
# variables. The JVM leaks by design and handles SIGSEGV itself: no leak
# check, no SEGV handler of ASan's. A report ends java with status 86.
# One JDK is enough here (KOLVAPROF_ASAN_JDKS, default: the JDK 17 of the
# machine); the release run covers every JDK.
echo "== integration tests with the agent under ASan + UBSan"
asan_jdks="${KOLVAPROF_ASAN_JDKS:-$(ls -d /usr/lib/jvm/java-17-openjdk-* 2>/dev/null | head -n 1 || true)}"
sanitizer_common="exitcode=86:halt_on_error=1:print_stacktrace=1"
(cd "$asan" && \
   KOLVAPROF_TEST_JDKS="$asan_jdks" \
   KOLVAPROF_JAVA_ENV_LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)" \
   KOLVAPROF_JAVA_ENV_ASAN_OPTIONS="$sanitizer_common:detect_leaks=0:handle_segv=0:allow_user_segv_handler=1:detect_odr_violation=0" \
   KOLVAPROF_JAVA_ENV_UBSAN_OPTIONS="$sanitizer_common" \
   ctest --output-on-failure -j2 -L integration --timeout 900) || status=1
# -----------------------------------------------------------------------------

tsan="$("$root/scripts/build.sh" thread unit_tests)"
echo "== concurrency tests under ThreadSanitizer"
# Death tests fork a threaded process, which ThreadSanitizer rightly dislikes;
# they run in the other builds.
(cd "$tsan" && TSAN_OPTIONS=halt_on_error=1 \
   ./tests/unit_tests --gtest_filter='*Concurrent*' --gtest_brief=1) || status=1
exit "$status"
