#!/usr/bin/env bash
# The main job for now: the console program in an installed Wine prefix.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
trees=$(scripts/test-tree.sh)
read -r tree arch <<<"$trees"
scripts/wine-prefix.sh "$tree" "$arch" up
. scripts/wine-env.sh "$tree" "$arch"
# What the installer does: create the settings key that marks the program installed.
"$QM_WINE" reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null
status=0
"$QM_WINE" "$tree/bin/backupcmd.exe" "$@" || status=$?
"$top/scripts/wine-prefix.sh" "$tree" "$arch" down
exit $status
