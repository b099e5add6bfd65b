#!/usr/bin/env bash
# Creates the build folder's private Wine prefix on first use and keeps one
# wineserver alive for a test run.
#   wine-prefix.sh <build-dir> <win32|win64> up    create if missing, start the server
#   wine-prefix.sh <build-dir> <win32|win64> down  stop the server
#   wine-prefix.sh <folder> <win32|win64> fresh <build-dir>
#                      a computer nobody has used yet in <folder>: a copy of
#                      a prefix made once per build folder, server started
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$1" "$2"

case "$3" in
  fresh)
    template="$4/fresh-computer"
    exec 8>"$4/fresh-computer.lock"
    flock 8
    if [ ! -f "$template/wineprefix/.quillmark-ready" ]; then
      mkdir -p "$template"
      "$0" "$template" "$2" up
      "$0" "$template" "$2" down
    fi
    exec 8>&-
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    cp -a "$template/wineprefix" "$WINEPREFIX"
    "$0" "$1" "$2" up
    ;;
  up)
    exec 9>"$QM_BUILD_DIR/wineprefix.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.quillmark-ready" ]; then
      rm -rf "$WINEPREFIX"
      "$QM_WINE" wineboot -i >/dev/null 2>&1
      "$WINESERVER" -w
      # The computer the tests see is a Windows XP one unless a test says otherwise.
      "$QM_WINE" reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null
      # Without a display Wine's desktop process can't start and every
      # program that loads the window system waits for it to try again; the
      # null driver keeps one desktop running for the whole test run.
      "$QM_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
      "$WINESERVER" -w
      touch "$WINEPREFIX/.quillmark-ready"
    fi
    qm_unlink_user_folders
    # The server outlives this script: it must not keep the lock open.
    "$WINESERVER" -p 9>&- >/dev/null 2>&1 || true
    ;;
  down)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 <build-dir> <win32|win64> up|down|fresh <build-dir>" >&2
    exit 2
    ;;
esac
