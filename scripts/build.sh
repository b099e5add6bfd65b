#!/usr/bin/env bash
# Configures (once) and builds one tree.
#   build.sh <build-dir> <toolchain: i686|x86_64> [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$1 arch=$2
shift 2
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$arch.cmake" "$@" >/dev/null
fi
cmake --build "$dir" -j2
