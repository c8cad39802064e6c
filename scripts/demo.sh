#!/usr/bin/env bash
# Installs what is missing, builds the agent, traces the bundled shop program
# and shows where the trace went and how it begins.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
build="$("$root/scripts/build.sh" release kolvaprof kolvaprof-read)"

run="$root/demo/run"
rm -rf "$run"
mkdir -p "$run/logs"
javac -g -d "$run/classes" "$root"/demo/src/org/demo/shop/*.java
cp "$root/demo/profiler.ini" "$run/profiler.ini"

echo "== java -agentpath:$build/libkolvaprof.so=profiler.ini -cp classes org.demo.shop.Shop"
(cd "$run" && java -agentpath:"$build/libkolvaprof.so=profiler.ini" -cp classes org.demo.shop.Shop)

trace_dir="$(find "$run/logs" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
echo
echo "== the trace went to $trace_dir"
for log in "$trace_dir"/*.log; do
  echo "-- $(basename "$log") ($(wc -l < "$log") lines), first lines:"
  head -n 12 "$log"
done

echo
echo "== $build/kolvaprof-read summary $trace_dir"
"$build/kolvaprof-read" summary "$trace_dir"
