#!/usr/bin/env bash
# Runs one Windows program of the build under Wine in the build's prefix.
#   wine-test.sh <build-dir> <win32|win64> [--winver VERSION] program.exe [args...]
# With --winver the program (by its file name) sees that Windows version.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 arch=$2
shift 2
"$here/wine-prefix.sh" "$build" "$arch" up
. "$here/wine-env.sh" "$build" "$arch"
status=0
qm_run_program "$@" || status=$?
exit $status
