#!/bin/sh
# Exports the show as a video on several cores or machines with GNU
# parallel: the export cut into N parts (vantrop-render video --part K/N),
# each drawn wherever parallel runs it, brought back and joined
# (vantrop-render join) into the video one export would give.
#   scripts/render-farm.sh [--parts N] [--jobs N] [--sshloginfile FILE] [--render PROGRAM] \
#       --out FILE.mp4 [VIDEO OPTIONS...]
# --parts      how many parts (default: this machine's cores)
# --jobs       parts drawn at once on each machine (parallel's -j; default: its cores)
# --sshloginfile  the machines, as GNU parallel reads them (one a line: host,
#              user@host, "ssh -p 2222 host", "4/host"); each part is drawn
#              in a folder of its own there and returned (--return)
# --render     the vantrop-render program, the same path on every machine
#              (default: vantrop-render on PATH)
# VIDEO OPTIONS are vantrop-render video's: --size, --fps, --from, --to,
# --music, --shaders, --schedule, --tracks, --force. A file they name must be
# at the same path on every machine; a machine without the music needs
# --to. The parts stay only until the join.
set -e
parts=$(nproc)
jobs=""
hosts=""
render=vantrop-render
out=""
music=""
force=""
fail() { echo "render-farm: $*" >&2; exit 2; }
# The options for the parts stay in "$@"; the farm's own are taken out.
count=$#
while [ "$count" -gt 0 ]; do
    arg=$1
    shift
    count=$((count - 1))
    case "$arg" in
    --parts | --jobs | --sshloginfile | --render | --out | --music | --shaders | --schedule | --tracks)
        [ "$count" -gt 0 ] || fail "$arg needs a value"
        value=$1
        shift
        count=$((count - 1))
        # The parts are drawn in folders of their own: files are named from /.
        case "$arg:$value" in --parts:* | --jobs:* | *:/*) ;; --render:*/*) value=$PWD/$value ;; --render:*) ;;
        *) value=$PWD/$value ;; esac
        case "$arg" in
        --parts) parts=$value ;;
        --jobs) jobs=$value ;;
        --sshloginfile) hosts=$value ;;
        --render) render=$value ;;
        --out) out=$value ;;
        --music) music=$value; set -- "$@" --music "$value" ;;
        *) set -- "$@" "$arg" "$value" ;;
        esac ;;
    --force) force=--force ;;
    --part | --reserved | --stop-when-input-ends) fail "$arg is the farm's to give" ;;
    -h | --help) sed -n '2,18s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) set -- "$@" "$arg" ;;
    esac
done
[ -n "$out" ] || fail "give --out FILE.mp4 (see --help)"
case "$parts" in '' | *[!0-9]* | 0) fail "bad --parts '$parts': give a whole number from 1" ;; esac
command -v parallel >/dev/null || fail "GNU parallel is not installed (Debian package parallel)"
[ -z "$hosts" ] || [ -r "$hosts" ] || fail "cannot read the machines' list $hosts"
[ -e "$out" ] && [ -z "$force" ] && fail "$out exists; give --force to replace it, or another name"

folder=$(mktemp -d "$(dirname "$out")/.render-farm-XXXXXX") || fail "cannot make a folder for the parts beside $out"
trap 'rm -rf "$folder"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
set -- --will-cite --halt now,fail=1 --line-buffer --tagstring "part {}/$parts" ${jobs:+-j "$jobs"} \
    ${hosts:+--sshloginfile "$hosts" --workdir ... --return "part-{}.mkv" --cleanup} \
    -q "$render" video --part "{}/$parts" --out "part-{}.mkv" "$@"
(cd "$folder" && seq "$parts" | parallel "$@") || { echo "render-farm: a part failed (above); nothing was joined" >&2; exit 1; }
# The parts in order: part-1.mkv, part-2.mkv, ...
set --
k=1
while [ "$k" -le "$parts" ]; do
    set -- "$@" "$folder/part-$k.mkv"
    k=$((k + 1))
done
"$render" join "$@" --out "$out" ${music:+--music "$music"} $force
