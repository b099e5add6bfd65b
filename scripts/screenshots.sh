#!/usr/bin/env bash
# Renders every page of the wizard and its small dialogs into PNG files
# under build/screenshots/, on a Wine desktop with window frames.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
read -r tree arch <<<"$(scripts/test-tree.sh)"
tree=$(cd "$tree" && pwd)
out="$tree/screenshots"
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
target="Z:${out//\//\\}"
# The program runs in the folder of the deliverables, beside the catalogue.
cd "$tree/bin"
"$top/scripts/wine-x-test.sh" "$tree" "$arch" explorer /desktop=quillmark,800x600 \
  wizard_screenshots.exe "$target"
/usr/bin/python3 "$top/scripts/bmp-to-png.py" "$out"/*.bmp
rm -f "$out"/*.bmp
ls "$out"
