#!/bin/sh
# The one way the tests and scripts start an X server: Xvfb with one screen of
# WIDTHxHEIGHT on a free display number, which it writes as one line on
# standard output once it is ready. This script becomes Xvfb, so whoever
# started it stops the server by that process id.
#   scripts/xvfb.sh WIDTHxHEIGHT > display-number-file &
exec Xvfb -displayfd 1 -screen 0 "${1:?usage: scripts/xvfb.sh WIDTHxHEIGHT}x24" -nolisten tcp -noreset 2> /dev/null
