#!/usr/bin/env bash
# Opens a profile written by kolvaprof-read (speedscope or chrome) in the
# speedscope viewer in headless Chromium and saves a screenshot; fails when
# the viewer does not take it. Installs the viewer and the browser driver from
# npm into build-viewer/ once; needs Debian's chromium. Waits
# KOLVAPROF_VIEWER_SECONDS (30) for the viewer to show the profile.
#   scripts/view-in-speedscope.sh <profile.json> [screenshot.png]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
profile="$(realpath "$1")"
screenshot="${2:-${profile%.json}.png}"
viewer="$root/build-viewer"
if [ ! -d "$viewer/node_modules/speedscope" ] || [ ! -d "$viewer/node_modules/puppeteer-core" ]; then
  mkdir -p "$viewer"
  [ -f "$viewer/package.json" ] || echo '{"private": true}' > "$viewer/package.json"
  PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix "$viewer" --no-audit --no-fund speedscope puppeteer-core >&2
fi
node "$root/scripts/view-in-speedscope.mjs" "$viewer" "$profile" "$screenshot"
