#!/usr/bin/env bash
# Compiles the help project into one HTML Help file.
#   build-help.sh <chmcmd> <project.hhp> <work-folder> <output.chm>
# chmcmd writes the compiled file into its current folder, under the name
# the project's "Compiled file" gives, so it runs in the work folder and the
# result is copied to the output. A page, link or index target it can't
# find is only a warning to chmcmd and the file is written anyway: here any
# warning fails the build.
set -euo pipefail
chmcmd=$1
project=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$3 output=$4
name=$(sed -n 's/^Compiled file=\([^\r]*\)\r\{0,1\}$/\1/p' "$project")
[ -n "$name" ] || { echo "$project names no compiled file" >&2; exit 1; }
mkdir -p "$work"
cd "$work"
rm -f "$name"
if ! log=$("$chmcmd" "$project" 2>&1); then
  echo "$log" >&2
  exit 1
fi
if grep -E '^(Warning|Error)' <<<"$log" >&2; then
  rm -f "$name"
  exit 1
fi
[ -s "$name" ] || { echo "chmcmd wrote no $name" >&2; exit 1; }
cp -f "$name" "$output.new"
mv -f "$output.new" "$output"
