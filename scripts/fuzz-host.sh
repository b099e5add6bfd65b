#!/usr/bin/env bash
# Builds the fuzz targets with clang (build/host-fuzz) and runs one of them,
# the markup reader's unless told otherwise, or each in turn, for a bounded
# time.
#   fuzz-host.sh [seconds] [target|all]              build, then run (default 120 s)
#   fuzz-host.sh --build-only
#   fuzz-host.sh --run-only [seconds] [target|all]
# Targets: xml, zip, rich-text, command-line, registry-file, catalogue,
# special-items. With "all" each runs for the given seconds. A target's
# corpus grows in build/host-fuzz/<target>-corpus (the markup reader's in
# build/host-fuzz/corpus); a crashing input is saved in build/host-fuzz/
# with the target's name in front and the run fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build/host-fuzz
seeds=$top/tests/fuzz
build=1 run=1
case "${1:-}" in
  --build-only) run=0; shift ;;
  --run-only) build=0; shift ;;
esac
seconds=${1:-120}
target=${2:-xml}
all_targets="xml zip rich-text command-line registry-file catalogue special-items"

if [ "$build" -eq 1 ]; then
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$top/cmake/host" -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON >/dev/null
  fi
  cmake --build "$dir" -j2
fi

# run_target <target>
run_target() {
  local program corpus seed_dir options=()
  case "$1" in
    xml)
      program=xml_reader_fuzz corpus=corpus seed_dir=seeds
      options=(-dict="$seeds/xml.dict" -max_len=8192 -artifact_prefix="$dir/")
      ;;
    zip)
      program=zip_reader_fuzz corpus=zip-corpus seed_dir=zip-seeds
      options=(-rss_limit_mb=1024 -max_len=16384 -artifact_prefix="$dir/zip-")
      ;;
    rich-text)
      program=rich_text_fuzz corpus=rich-text-corpus seed_dir=rich-text-seeds
      options=(-dict="$seeds/rich-text.dict" -max_len=8192 -artifact_prefix="$dir/rich-text-")
      ;;
    command-line)
      # The console refuses lines over 1023 characters; a little more
      # covers that edge.
      program=command_line_fuzz corpus=command-line-corpus seed_dir=command-line-seeds
      options=(-dict="$seeds/command-line.dict" -max_len=1100
        -artifact_prefix="$dir/command-line-")
      ;;
    registry-file)
      program=registry_file_fuzz corpus=registry-file-corpus seed_dir=registry-file-seeds
      options=(-dict="$seeds/registry-file.dict" -max_len=8192
        -artifact_prefix="$dir/registry-file-")
      ;;
    catalogue)
      program=catalogue_fuzz corpus=catalogue-corpus seed_dir=catalogue-seeds
      options=(-dict="$seeds/catalogue.dict" -max_len=8192 -artifact_prefix="$dir/catalogue-")
      ;;
    special-items)
      # Past the 4095-byte cookie limit, with room for a record after it.
      program=special_item_files_fuzz corpus=special-items-corpus seed_dir=special-item-seeds
      options=(-dict="$seeds/special-items.dict" -max_len=9000
        -artifact_prefix="$dir/special-items-")
      ;;
    *)
      echo "unknown fuzz target: $1 (one of: $all_targets, or all)" >&2
      exit 2
      ;;
  esac
  mkdir -p "$dir/$corpus"
  "$dir/$program" "$dir/$corpus" "$seeds/$seed_dir" "${options[@]}" \
    -max_total_time="$seconds" -timeout=10 -print_final_stats=1
}

if [ "$run" -eq 1 ]; then
  if [ "$target" = all ]; then
    for each in $all_targets; do run_target "$each"; done
  else
    run_target "$target"
  fi
fi
