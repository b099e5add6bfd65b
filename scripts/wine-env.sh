# Sourced by the test scripts: the Wine environment of one build folder.
# usage: . scripts/wine-env.sh <build-dir> <win32|win64>
QM_BUILD_DIR=$(cd "$1" && pwd)
export WINEARCH=$2
export WINEPREFIX="$QM_BUILD_DIR/wineprefix"
export WINEDEBUG=-all
# Wine links the user's shell folders (desktop, documents, templates, ...) to
# the Linux home when it creates them, and a program that removes such a
# folder's contents would empty the home. The prefix gets a home of its own.
export HOME="$QM_BUILD_DIR/wine-home"
mkdir -p "$HOME"
# Never let Wine offer to download Mono or Gecko: that waits for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ "$WINEARCH" = win64 ]; then
  QM_WINE=/usr/lib/wine/wine64
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
else
  QM_WINE=/usr/lib/wine/wine
  export WINELOADER=/usr/lib/wine/wine
  if [ -x /usr/lib/wine/wineserver64 ]; then
    export WINESERVER=/usr/lib/wine/wineserver64
  else
    export WINESERVER=/usr/lib/wine/wineserver32
  fi
fi

# Wine links the user's desktop, documents and similar folders to the Linux
# home; tests must never write there, so they become real folders.
qm_unlink_user_folders() {
  local link
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
  done
}

# qm_run_program [--winver VERSION] program.exe [args...]: runs a Windows
# program, which sees that Windows version when one is given (set by its
# file name), and returns its status. Wine may start helper processes
# (explorer for the desktop, services) that outlive the program and inherit
# its output; writing to a file instead of the caller's pipe keeps them from
# holding the test runner's pipe open.
qm_run_program() {
  if [ "${1:-}" = "--winver" ]; then
    "$QM_WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$3")" /v Version /d "$2" /f \
      >/dev/null 2>&1 </dev/null
    shift 2
  fi
  local output status=0
  output=$(mktemp "$QM_BUILD_DIR/wine-output.XXXXXX")
  "$QM_WINE" "$@" >"$output" 2>&1 </dev/null || status=$?
  cat "$output"
  rm -f "$output"
  return $status
}
