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
