#!/usr/bin/env bash
# A file replaced at the next start of Windows really is replaced once the
# prefix restarts (wineboot -r), on the NT family (delayed moves) and on the
# 95 family (WININIT.INI).
#   replace_on_reboot_test.sh <build-dir> <win32|win64>
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
"$scripts/wine-prefix.sh" "$1" "$2" up
. "$scripts/wine-env.sh" "$1" "$2"
bin="$QM_BUILD_DIR/bin"
folder="$WINEPREFIX/drive_c/qmreboot"
. "$(dirname "$0")/../support/checks.sh"

# replace <windows version> <probe program>
replace() {
  local version=$1 probe=$2
  rm -rf "$folder"
  mkdir -p "$folder"
  printf 'old settings' >"$folder/settings.ini"
  printf 'new settings' >"$folder/settings.new"
  "$QM_WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$probe")" /v Version /d "$version" /f >/dev/null 2>&1
  local out
  out=$("$QM_WINE" "$probe" 'C:\qmreboot\settings.new' 'C:\qmreboot\settings.ini' </dev/null 2>&1 | tr -d '\r')
  check "$version: arranged ($out)" [ "$out" = "arranged=1 reboot-needed=1" ]
  check "$version: nothing replaced before the restart" [ "$(cat "$folder/settings.ini")" = "old settings" ]
  "$QM_WINE" wineboot -r </dev/null >/dev/null 2>&1
  check "$version: replaced after the restart" [ "$(cat "$folder/settings.ini" 2>/dev/null)" = "new settings" ]
  check "$version: the new copy is gone" [ ! -e "$folder/settings.new" ]
}

cp "$bin/reboot_probe.exe" "$bin/reboot_probe-xp.exe"
cp "$bin/reboot_probe.exe" "$bin/reboot_probe-98.exe"
replace winxp "$bin/reboot_probe-xp.exe"
replace win98 "$bin/reboot_probe-98.exe"
rm -rf "$folder"
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
