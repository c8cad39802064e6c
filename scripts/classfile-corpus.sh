#!/usr/bin/env bash
# Rewrites every class of each JDK's own modules (javac's, jdk.compiler, among
# them) with every method selected, then has that JDK verify and link all of
# them: the rewritten classes replace the originals through --patch-module,
# and cfcorpus.LinkClasses loads and links each one by name without running
# its static initialiser, with bytecode verification forced for every loader.
# The hooks class (java/lang/KolvaprofCorpusHooks, hooks that do nothing) is
# added to java.base, so the rewritten JDK also runs its own start-up.
#
#   scripts/classfile-corpus.sh [--rewrite TOOL] [--classes DIR] [--sample N] [--leaves]
#
# --rewrite and --classes name a built classfile-rewrite and the compiled
# test programs (built into build/ when not given); --sample N links every
# N-th class only (all are rewritten); --leaves rewrites as the agent does,
# with calls through leaf code reported by one hook. JDKs: KOLVAPROF_TEST_JDKS
# (colon-separated), or every JDK under /usr/lib/jvm. Fails when a class
# cannot be read, fails verification, or links where the original did not.
# On two cores the whole run takes about half a minute per JDK.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="" classes="" sample=1 leaves=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rewrite) tool="$2"; shift 2 ;;
    --classes) classes="$2"; shift 2 ;;
    --sample) sample="$2"; shift 2 ;;
    --leaves) leaves=(--leaves); shift ;;
    *) echo "usage: $0 [--rewrite TOOL] [--classes DIR] [--sample N] [--leaves]" >&2; exit 2 ;;
  esac
done
if [ -z "$tool" ] || [ -z "$classes" ]; then
  build="$("$root/scripts/build.sh" release classfile-rewrite java_test_programs)"
  tool="$build/classfile-rewrite"
  classes="$build/tests/java-classes"
fi

jdks=()
if [ -n "${KOLVAPROF_TEST_JDKS:-}" ]; then
  IFS=: read -r -a jdks <<< "$KOLVAPROF_TEST_JDKS"
else
  declare -A seen=()
  for dir in /usr/lib/jvm/*; do
    [ -x "$dir/bin/java" ] && [ -f "$dir/lib/modules" ] || continue
    real="$(readlink -f "$dir")"
    [ -n "${seen[$real]+set}" ] && continue
    seen[$real]=1
    jdks+=("$real")
  done
fi
[ "${#jdks[@]}" -gt 0 ] || { echo "no JDK found" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
owner=java/lang/KolvaprofCorpusHooks
status=0
for jdk in "${jdks[@]}"; do
  echo "== $jdk"
  rm -rf "$work"/*
  "$jdk/bin/jimage" extract --dir "$work/original" "$jdk/lib/modules"
  (cd "$work/original" && find . -name '*.class' ! -name module-info.class |
     sed -E 's|^\./[^/]+/||; s|\.class$||; s|/|.|g' | sort) > "$work/all.txt"
  awk -v n="$sample" '(NR - 1) % n == 0' "$work/all.txt" > "$work/names.txt"
  if ! "$tool" "${leaves[@]}" --owner "$owner" --emit-hooks "$work/rewritten/java.base" \
       "$work/original" "$work/rewritten" > "$work/rewrite.txt"; then
    status=1
  fi
  grep -v '^refused' "$work/rewrite.txt" | sed 's/^/  /'
  grep '^refused' "$work/rewrite.txt" | head -20 || true
  find "$work/rewritten" -name module-info.class -delete
  patches=()
  for module in "$work/rewritten"/*; do
    patches+=(--patch-module "$(basename "$module")=$module")
  done
  flags=(-XX:+UnlockDiagnosticVMOptions -XX:+BytecodeVerificationLocal
         -XX:+BytecodeVerificationRemote -Xshare:off --add-modules ALL-SYSTEM)
  # The same classes unchanged first: what fails to link there (a missing
  # optional module, say) is not the rewriter's doing.
  "$jdk/bin/java" "${flags[@]}" -cp "$classes" cfcorpus.LinkClasses "$work/names.txt" 0 \
    > "$work/original.txt" 2>/dev/null || true
  echo "  original:  $(grep '^classes' "$work/original.txt")"
  if ! "$jdk/bin/java" "${flags[@]}" "${patches[@]}" -cp "$classes" cfcorpus.LinkClasses \
       "$work/names.txt" 20 > "$work/linked.txt" 2> "$work/linked.err"; then
    status=1
  fi
  echo "  rewritten: $(grep '^classes' "$work/linked.txt" || echo "no result")"
  grep -v '^classes' "$work/linked.txt" | head -40 | sed 's/^/  /' || true
  grep -v '^WARNING' "$work/linked.err" | head -20 || true
  if [ "$(sed -E 's/ \{.*//' "$work/original.txt" | grep '^classes')" != \
       "$(sed -E 's/ \{.*//' "$work/linked.txt" | grep '^classes')" ]; then
    echo "  the rewritten classes do not link as the originals do" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "corpus: every rewritten class verified and linked"
exit "$status"
