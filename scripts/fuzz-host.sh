#!/usr/bin/env bash
# Builds the fuzz targets with clang (build/host-fuzz) and runs one of them,
# the markup reader's unless told otherwise, for a bounded time.
#   fuzz-host.sh [seconds] [xml|rich-text]              build, then run (default 120 s)
#   fuzz-host.sh --build-only
#   fuzz-host.sh --run-only [seconds] [xml|rich-text]
# The corpus grows in build/host-fuzz/corpus (rich-text-corpus); a crashing
# input is saved in build/host-fuzz/ and the run fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build/host-fuzz
build=1 run=1
case "${1:-}" in
  --build-only) run=0; shift ;;
  --run-only) build=0; shift ;;
esac
seconds=${1:-120}
target=${2:-xml}

if [ "$build" -eq 1 ]; then
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$top/cmake/host" -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON >/dev/null
  fi
  cmake --build "$dir" -j2
fi

if [ "$run" -eq 1 ]; then
  case "$target" in
    xml)
      mkdir -p "$dir/corpus"
      "$dir/xml_reader_fuzz" "$dir/corpus" "$top/tests/fuzz/seeds" \
        -dict="$top/tests/fuzz/xml.dict" -max_total_time="$seconds" -timeout=10 \
        -max_len=8192 -artifact_prefix="$dir/" -print_final_stats=1
      ;;
    rich-text)
      mkdir -p "$dir/rich-text-corpus"
      "$dir/rich_text_fuzz" "$dir/rich-text-corpus" "$top/tests/fuzz/rich-text-seeds" \
        -dict="$top/tests/fuzz/rich-text.dict" -max_total_time="$seconds" -timeout=10 \
        -max_len=8192 -artifact_prefix="$dir/rich-text-" -print_final_stats=1
      ;;
    *)
      echo "unknown fuzz target: $target (xml or rich-text)" >&2
      exit 2
      ;;
  esac
fi
