#!/usr/bin/env bash
# Builds the markup reader's fuzz target with clang (build/host-fuzz) and
# runs it for a bounded time.
#   fuzz-host.sh [seconds]              build, then run (default 120 s)
#   fuzz-host.sh --build-only
#   fuzz-host.sh --run-only [seconds]
# The corpus grows in build/host-fuzz/corpus; a crashing input is saved in
# build/host-fuzz/ and the run fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build/host-fuzz
build=1 run=1
case "${1:-}" in
  --build-only) run=0; shift ;;
  --run-only) build=0; shift ;;
esac
seconds=${1:-120}

if [ "$build" -eq 1 ]; then
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$top/cmake/host" -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON >/dev/null
  fi
  cmake --build "$dir" -j2
fi

if [ "$run" -eq 1 ]; then
  mkdir -p "$dir/corpus"
  "$dir/xml_reader_fuzz" "$dir/corpus" "$top/tests/fuzz/seeds" \
    -dict="$top/tests/fuzz/xml.dict" -max_total_time="$seconds" -timeout=10 \
    -max_len=8192 -artifact_prefix="$dir/" -print_final_stats=1
fi
