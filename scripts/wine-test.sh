#!/usr/bin/env bash
# Runs one Windows program of the build under Wine in the build's prefix.
#   wine-test.sh <build-dir> <win32|win64> [--winver VERSION] program.exe [args...]
# With --winver the program (by its file name) sees that Windows version.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 arch=$2
shift 2
winver=""
if [ "${1:-}" = "--winver" ]; then winver=$2; shift 2; fi
"$here/wine-prefix.sh" "$build" "$arch" up
. "$here/wine-env.sh" "$build" "$arch"
if [ -n "$winver" ]; then
  "$QM_WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$1")" /v Version /d "$winver" /f >/dev/null 2>&1 </dev/null
fi
# Wine may start helper processes (explorer for the desktop, services) that
# outlive the program and inherit its output. Writing to a file instead of
# the caller's pipe keeps them from holding the test runner's pipe open.
output=$(mktemp "$QM_BUILD_DIR/wine-output.XXXXXX")
trap 'rm -f "$output"' EXIT
status=0
"$QM_WINE" "$@" >"$output" 2>&1 </dev/null || status=$?
cat "$output"
exit $status
