#!/bin/sh
# Writes a help2man include file whose COMMANDS section holds each command's
# own --help, so that a program's manual page has every command's options
# (the build runs it for vantrop-render). The commands are those the
# program's own --help lists under "commands:".
#   scripts/man-commands.sh PROGRAM > FILE.h2m
set -e
program=$1
commands=$("$program" --help | sed -n '/^commands:$/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p')
[ -n "$commands" ] || { echo "man-commands: $program --help lists no commands" >&2; exit 1; }
echo "[COMMANDS]"
for command in $commands; do
    echo ".SS $command"
    echo ".nf"
    # roff reads a backslash as an escape and a line starting with . or ' as a request.
    "$program" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
    echo ".fi"
done
