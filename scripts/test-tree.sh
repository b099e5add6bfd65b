#!/usr/bin/env bash
# Prints "<build-dir> <wine-arch>" of the tree whose programs this machine can
# run under Wine, building it first when it is not the main one.
# The deliverables are 32-bit; a machine that cannot execute 32-bit Linux
# programs (so no 32-bit Wine either) runs the suite on the same sources
# built for 64-bit Windows, under 64-bit Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "build win32"
else
  echo "note: this machine can't run 32-bit programs; testing the 64-bit build of the same sources" >&2
  "$here/build.sh" build/x64 x86_64 >&2
  echo "build/x64 win64"
fi
