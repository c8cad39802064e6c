#!/usr/bin/env bash
# Builds the Debian package from a Release build (build-package/), installs it
# with dpkg into a clean directory, and traces the demo program through the
# installed kolvaprof; reads the trace with the installed kolvaprof-read.
#   scripts/package.sh -> the package's path on stdout
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build-package"
"$root/scripts/install-deps.sh" >&2
jobs="${KOLVAPROF_JOBS:-2}"

cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKOLVAPROF_BUILD_TESTS=OFF \
  -DKOLVAPROF_WARNINGS_AS_ERRORS=ON >&2
cmake --build "$dir" -j"$jobs" --target kolvaprof kolvaprof-command kolvaprof-read >&2
rm -f "$dir"/kolvaprof_*.deb
(cd "$dir" && cpack -G DEB >&2)
deb="$(ls "$dir"/kolvaprof_*_amd64.deb)"

fail() {
  echo "package: $*" >&2
  exit 1
}
contents="$(dpkg-deb -c "$deb")"
for file in ./usr/bin/kolvaprof ./usr/bin/kolvaprof-read ./usr/lib/kolvaprof/libkolvaprof.so; do
  grep -q " $file\$" <<<"$contents" || fail "$deb has no $file"
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q "libc6" <<<"$depends" || fail "$deb declares no dependencies: '$depends'"
echo "== $(basename "$deb"): Depends: $depends" >&2

# dpkg -i into an empty root of our own with its own database; the package's
# scripts (which do nothing) run outside it, since it holds no shell, and the
# dependencies are those of this machine, which built the package.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
target="$scratch/root"
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates"
touch "$target/var/lib/dpkg/status"
force="--force-depends,script-chrootless"
[ "$(id -u)" -eq 0 ] || force="$force,not-root"
dpkg --root="$target" "$force" --log=/dev/null -i "$deb" >&2 ||
  fail "dpkg -i into $target failed"
[ -x "$target/usr/bin/kolvaprof" ] || fail "dpkg -i left no usr/bin/kolvaprof"

work="$scratch/demo"
mkdir -p "$work"
javac -g -d "$work/classes" "$root"/demo/src/org/demo/shop/*.java
cp "$root/demo/profiler.ini" "$work/profiler.ini"
echo "== installed: kolvaprof run -- java -cp classes org.demo.shop.Shop" >&2
(cd "$work" && "$target/usr/bin/kolvaprof" run -- java -cp classes org.demo.shop.Shop \
  >"$scratch/run.out" 2>"$scratch/run.err") || fail "kolvaprof run failed: $(cat "$scratch/run.err")"
run="$(sed -n 's/^kolvaprof: trace in //p' "$scratch/run.err")"
[ -n "$run" ] && [ -d "$run" ] || fail "no run directory: $(cat "$scratch/run.err")"
grep -q "org.demo.shop" "$run/main.log" || fail "$run/main.log holds no demo calls"
"$target/usr/bin/kolvaprof-read" check "$run" >&2 || fail "kolvaprof-read check $run found damage"
"$target/usr/bin/kolvaprof-read" summary "$run" --top 3 >&2
echo "$deb"
