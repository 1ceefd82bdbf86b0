#!/bin/sh
# Writes a help2man include file whose COMMANDS section holds each command's
# own --help, so that a program's manual page has every command's options
# (the build runs it for vantrop-render).
#   scripts/man-commands.sh PROGRAM COMMAND... > FILE.h2m
set -e
program=$1
shift
echo "[COMMANDS]"
for command in "$@"; do
    echo ".SS $command"
    echo ".nf"
    # roff reads a backslash as an escape and a line starting with . or ' as a request.
    "$program" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
    echo ".fi"
done
