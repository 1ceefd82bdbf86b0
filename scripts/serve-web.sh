#!/bin/sh
# Serves the web build's site (build/web/site, built first if missing) on
# 127.0.0.1 and prints its address. Put lomu_hmm.mp3 in the site folder, or
# drop a sound file on the page. Usage: scripts/serve-web.sh [PORT] (8000).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
site="$root/build/web/site"
port=${1:-8000}
case "$port" in
*[!0-9]* | "") echo "serve-web: bad port '$port': give a number, for example 8000" >&2; exit 2 ;;
esac
if [ ! -f "$site/vantrop.wasm" ]; then
    echo "serve-web: building the site first (cmake --preset web)"
    [ -f "$root/build/web/CMakeCache.txt" ] || cmake --preset web >/dev/null
    cmake --build --preset web -j"$(nproc)" >/dev/null
fi
if [ ! -f "$site/lomu_hmm.mp3" ] && [ -f "$root/lomu_hmm.mp3" ]; then
    cp "$root/lomu_hmm.mp3" "$site/"
fi
echo "serve-web: open http://127.0.0.1:$port/ (Ctrl+C stops the server)"
[ -f "$site/lomu_hmm.mp3" ] || echo "serve-web: no lomu_hmm.mp3 in $site: the page will ask for a music file"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
