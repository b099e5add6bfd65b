#!/usr/bin/env bash
# The whole suite: the deliverables' imports, every test under Wine, then the
# portable modules on this machine under sanitizers with a short fuzz run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/check-deliverables.sh build/bin
trees=$(scripts/test-tree.sh)
read -r tree arch <<<"$trees"
ctest --test-dir "$tree" -j2 --output-on-failure --timeout 600
scripts/test-host.sh
