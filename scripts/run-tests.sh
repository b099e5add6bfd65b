#!/usr/bin/env bash
# The whole suite: the deliverables' imports, then every test under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/check-deliverables.sh build/bin
trees=$(scripts/test-tree.sh)
read -r tree arch <<<"$trees"
ctest --test-dir "$tree" -j2 --output-on-failure --timeout 600
