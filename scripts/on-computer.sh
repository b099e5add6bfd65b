#!/usr/bin/env bash
# Runs a Windows program on one test computer, a Wine prefix that
# wine-prefix.sh made in <computer-folder>, with <folder> as its current
# folder. Prints its output without carriage returns and exits with its
# status. The output goes through a file: Wine's helper processes may
# outlive the program and would hold a pipe open.
#   on-computer.sh <computer-folder> <win32|win64> <folder> program [args...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
computer=$1 arch=$2 folder=$3
shift 3
. "$here/wine-env.sh" "$computer" "$arch"
cd "$folder" || exit 1
out=$(mktemp "$QM_BUILD_DIR/out.XXXXXX")
status=0
"$QM_WINE" "$@" >"$out" 2>&1 </dev/null || status=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $status
