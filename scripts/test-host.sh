#!/usr/bin/env bash
# The portable modules' tests on this machine: built with the host g++ under
# the address and undefined-behaviour sanitizers (build/host), plus a short
# run of the markup reader's fuzz target built with clang (build/host-fuzz).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ ! -f build/host/CMakeCache.txt ]; then
  cmake -S cmake/host -B build/host -DCMAKE_CXX_COMPILER=g++ -DQM_FUZZ_RUN=ON >/dev/null
fi
cmake --build build/host -j2
scripts/fuzz-host.sh --build-only
ctest --test-dir build/host -j2 --output-on-failure --timeout 300
