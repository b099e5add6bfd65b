#!/usr/bin/env bash
# Runs the benchmarks under Wine and prints their ratios against the peers,
# ending with the console program against the floor copy, xcopy, zip and unzip.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
trees=$(scripts/test-tree.sh)
read -r tree arch <<<"$trees"
cmake --build "$tree" -j2 --target registry_bench catalogue_bench storage_bench floor_copy file_steps engine_bench >/dev/null
scripts/wine-test.sh "$tree" "$arch" "$tree/bin/registry_bench.exe"
scripts/wine-test.sh "$tree" "$arch" "$tree/bin/registry_bench.exe" 200000 1000 spread
scripts/wine-test.sh "$tree" "$arch" "$tree/bin/catalogue_bench.exe"
scripts/wine-test.sh "$tree" "$arch" "$tree/bin/file_steps.exe"
bench/storage_bench.sh "$tree" "$arch"
bench/engine_bench.sh "$tree" "$arch"
scripts/wine-prefix.sh "$tree" "$arch" down
