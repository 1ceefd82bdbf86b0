#!/bin/sh
# The Debian package as a user gets it: made from the release build with
# cpack, checked by lintian (no error), desktop-file-validate and
# appstreamcli, installed with apt-get, each installed program run from a
# folder outside the tree (the show and the studio on an Xvfb of their own,
# with a placeholder track), then purged, leaving none of its files behind.
# No program or manual page in it names a folder of the build machine.
# Runs apt-get through sudo unless it is already running as root.
#   scripts/check-package.sh [BUILD-FOLDER]   (default: the release build)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/paths.sh"
build=$(cd "${1:-$root/$release_build}" && pwd)
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
say() { echo "check-package: $*"; }
fail() { echo "check-package: $*" >&2; exit 1; }

rm -f "$build"/vantrop_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vantrop_*_amd64.deb)
lintian --fail-on error "$deb" 2>&1 | grep -v "running with root privileges" || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors in $deb"
work=$(mktemp -d)
dpkg-deb -x "$deb" "$work/unpacked"
desktop-file-validate "$work"/unpacked/usr/share/applications/*.desktop || fail "a menu entry does not validate"
appstreamcli validate --no-net "$work"/unpacked/usr/share/metainfo/*.xml >/dev/null || fail "the metainfo does not validate"
# Nothing of the machine that built it: no folder of the source or build tree
# in a program or a manual page.
for f in "$work"/unpacked/usr/bin/* "$work"/unpacked/usr/share/man/man1/*.gz; do
    case "$f" in *.gz) text=$(zcat "$f") ;; *) text=$(strings "$f") ;; esac
    if printf '%s' "$text" | grep -qF -e "$root" -e "$build"; then
        fail "$(basename "$f") names a folder of the build machine ($root or $build)"
    fi
done

xvfb=""
installed=""
cleanup() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    [ -z "$installed" ] || $as_root apt-get purge -y vantrop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
$as_root apt-get install -y "$deb" >/dev/null
installed=yes
files=$(dpkg -L vantrop)

cd "$work"
for program in vantrop vantrop-1080p vantrop-render vantrop-make-track vantrop-studio; do
    /usr/bin/$program --version >/dev/null || fail "the installed $program does not answer --version"
done
/usr/bin/vantrop-make-track --seconds 3 lomu_hmm.mp3 2>/dev/null
/usr/bin/vantrop-render frame --ms 41500 --size 160x90 --out frame.png || fail "the installed vantrop-render drew nothing"
/usr/bin/vantrop-render frame --ms 41500 --size 160x90 --schedule /dev/null --out x.png 2>/dev/null &&
    fail "an empty schedule was taken"
# The installed web page publishes an edited show: no Emscripten needed.
printf 'track tintRed\n0 0.5 step\n2 1.5 linear\n' >tracks.txt
/usr/bin/vantrop-render site --out site --tracks tracks.txt --music lomu_hmm.mp3 >/dev/null ||
    fail "the installed vantrop-render did not publish a site"
[ -f site/vantrop.wasm ] && [ -f site/shaders/main.glsl ] && grep -q 'content="shaders tracks music=lomu_hmm.mp3"' \
    site/index.html || fail "the published site lacks its page or its data"
# ... and it plays in a browser, to the end of its music.
node "$root/tests/web/browser.mjs" "$work/site" play "$work/site/lomu_hmm.mp3" >played.txt 2>&1 &&
    grep -q '^ended=the show has played$' played.txt && grep -q '^errors=0$' played.txt ||
    fail "the published site did not play in the browser: $(cat played.txt)"

"$root/scripts/xvfb.sh" 1280x720 >display &
xvfb=$!
for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
[ -s display ] || fail "Xvfb did not start"
export DISPLAY=":$(cat display)"
timeout 60 /usr/bin/vantrop 2>show.log || fail "the installed show did not play its 3 s: $(cat show.log)"
# The installed shaders are not the user's to write: the studio edits a copy.
XDG_DATA_HOME="$work/data" /usr/bin/vantrop-studio --paused --size 320x180 2>studio.log &
studio=$!
title=""
for _ in $(seq 300); do
    window=$(xdotool search --name vantrop-studio 2>/dev/null | head -1)
    [ -n "$window" ] && title=$(xdotool getwindowname "$window" 2>/dev/null)
    case "$title" in *PAUSED*) break ;; esac
    sleep 0.1
done
kill "$studio" 2>/dev/null || true
wait "$studio" 2>/dev/null || true
case "$title" in *PAUSED*) ;; *) fail "the installed studio drew no frame: $(cat studio.log)" ;; esac
[ -f "$work/data/vantrop/shaders/main.glsl" ] && grep -q "copied them to $work/data/vantrop/shaders" studio.log ||
    fail "the installed studio did not copy the shaders to edit: $(cat studio.log)"
kill "$xvfb"
xvfb=""

$as_root apt-get purge -y vantrop >/dev/null
installed=""
left=""
for file in $files; do
    if [ -f "$file" ] || [ -L "$file" ]; then left="$left $file"; fi
done
[ -z "$left" ] || fail "purging the package left files behind:$left"
say "$(basename "$deb") ($(du -k "$deb" | cut -f1) KiB) installs, runs from $work and purges cleanly"
say "$(dpkg-deb -f "$deb" Depends)"
