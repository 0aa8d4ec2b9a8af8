#!/bin/bash
# A screenshot of the HTML guide (build/win/out/guide.html) as a browser shows
# it, taken by headless Chromium, to look at before a release. Installs
# chromium when it is missing (large, so not part of tools/deps.sh). The page
# loads nothing from elsewhere, and Chromium's own network services are off.
# usage: tools/guide-screenshot.sh [PNG [WIDTH,HEIGHT [ANCHOR]]]
#   defaults: build/guide.png, 1280,1600, the top of the page; an anchor
#   (wlCommRxLine) shows the page opened at that action.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
png=$(realpath -m "${1:-$top/build/guide.png}")
size=${2:-1280,1600}
anchor=${3:+#$3}
page=$top/build/win/out/guide.html
[ -f "$page" ] || { echo "no $page: build first (cmake --build build/win --target guide)" >&2; exit 1; }

if ! command -v chromium >/dev/null; then
  echo "installing chromium"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends chromium >/dev/null ||
    { echo "could not install chromium" >&2; exit 1; }
fi

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
url=file://$page
if [ -n "$anchor" ]; then
  # Headless Chromium draws a blank screenshot of a page scrolled to an
  # anchor; the page in a full-window frame is scrolled and drawn.
  printf '<!DOCTYPE html><body style="margin:0"><iframe src="%s" style="border:0; width:100vw; height:100vh"></iframe>\n' \
    "$url$anchor" >"$profile/frame.html"
  url=file://$profile/frame.html
fi
timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$profile" --hide-scrollbars --window-size="$size" \
  --allow-file-access-from-files --screenshot="$png" "$url" 2>/dev/null
[ -s "$png" ] || { echo "chromium made no screenshot" >&2; exit 1; }
echo "$png"
