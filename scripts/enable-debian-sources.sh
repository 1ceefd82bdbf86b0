#!/bin/sh
# Lets `apt-get source` fetch Debian's source packages (the Windows build
# cross-compiles SDL2, mpg123, libpng and LAME from them). Adds a deb-src
# entry for each of this machine's own Debian archive entries of its release,
# in a file of its own; the machine's own files are left as they are.
# Runs apt-get through sudo unless it is already running as root.
set -e
if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
list=/etc/apt/sources.list.d/vantrop-deb-src.sources
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
if apt-get source --print-uris libpng1.6 >/dev/null 2>&1; then exit 0; fi
entries=$(
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] && [ "$file" != "$list" ] && cat "$file" && echo
    done | awk -v codename="$codename" '
        BEGIN { RS = ""; FS = "\n" }
        {
            uris = ""; components = ""; signed = ""; suite = 0
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^URIs:/) uris = $i
                if ($i ~ /^Components:/) components = $i
                if ($i ~ /^Signed-By:/) signed = $i
                if ($i ~ /^Suites:/) { n = split($i, s, " "); for (j = 2; j <= n; j++) if (s[j] == codename) suite = 1 }
            }
            if (suite && uris != "")
                printf "Types: deb-src\n%s\nSuites: %s\n%s\n%s\n\n", uris, codename, components, signed
        }'
    if [ -f /etc/apt/sources.list ]; then
        awk -v codename="$codename" '$1 == "deb" && $3 == codename { $1 = "deb-src"; print }' /etc/apt/sources.list
    fi
)
if [ -z "$entries" ]; then
    echo "enable-debian-sources: found no Debian $codename archive in /etc/apt/sources.list.d; add a deb-src line for it by hand" >&2
    exit 1
fi
printf '%s\n' "$entries" | $as_root tee "$list" >/dev/null
$as_root apt-get update
