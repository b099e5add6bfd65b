#!/usr/bin/env bash
# Runs one windowed Windows program of the build under Wine on a virtual X
# screen (Xvfb), in a prefix of its own that draws through X.
#   wine-x-test.sh <build-dir> <win32|win64> [--winver VERSION] program.exe [args...]
# The test prefix of the other tests uses Wine's null display driver; windows
# that a test looks at, clicks or photographs need a real one. One such run
# at a time: the prefix's desktop belongs to the screen it was started on.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 arch=$2
shift 2
screen=${DISPLAY:-}
. "$here/wine-env.sh" "$build" "$arch"
export WINEPREFIX="$QM_BUILD_DIR/wineprefix-x"
export HOME="$QM_BUILD_DIR/wine-home-x"
mkdir -p "$HOME"

if [ -z "${QM_X_INSIDE:-}" ]; then
  exec 9>"$QM_BUILD_DIR/wineprefix-x.lock"
  flock 9
  status=0
  QM_X_INSIDE=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$arch" "$@" || status=$?
  exit $status
fi

export DISPLAY=$screen
if [ ! -f "$WINEPREFIX/.quillmark-ready" ]; then
  rm -rf "$WINEPREFIX"
  "$QM_WINE" wineboot -i >/dev/null 2>&1
  "$WINESERVER" -w
  "$QM_WINE" reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null
  "$WINESERVER" -w
  touch "$WINEPREFIX/.quillmark-ready"
fi
qm_unlink_user_folders
status=0
qm_run_program "$@" || status=$?
# The desktop process must be gone before its screen is.
"$WINESERVER" -k 2>/dev/null || true
exit $status
