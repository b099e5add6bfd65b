#!/usr/bin/env bash
# Runs under a virtual screen: starts Wine's own Notepad, WordPad,
# Minesweeper and Registry Editor on the restored computer and closes each as
# a user would. They write their settings as they close, so a setting still
# as the old computer had it was read where the restore put it. (Wine's
# Registry Editor opens at the top whatever its last key was, and a menu
# can't be read from another process under Wine: for it, only that it runs
# on the restored settings and keeps its favorites.)
#   real_programs.sh [--used] <build-dir> <win32|win64> <computer-folder> <expectations>
# --used: the programs ran on the old computer, so what they write as they
# close came along with the rest.
set -uo pipefail
used=0
if [ "$1" = --used ]; then used=1; shift; fi
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
build=$(cd "$1" && pwd) arch=$2 computer=$(cd "$3" && pwd) expected=$4
screen=$DISPLAY
. "$scripts/wine-env.sh" "$computer" "$arch"
export DISPLAY=$screen
"$WINESERVER" -p
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
probe=$(winpath "$build/bin/footprint_probe.exe")
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
run() { qm_run_program "$probe" run "$1" >/dev/null || fail "$1 didn't start and close"; }
value() { qm_run_program reg query "HKCU\\$1" /v "$2" | tr -d '\r' | grep -F "$2"; }

# ran <program> <key> <value>: the program, which writes that value only as
# it closes, has not run here before, and writes it when it is closed.
ran() {
  [ $used -eq 0 ] && value "$2" "$3" >/dev/null && fail "$1 has run on this computer before"
  run "$1"
  value "$2" "$3" >/dev/null || fail "$1 wrote no settings as it closed"
}
ran notepad.exe 'Software\Microsoft\Notepad' iWindowPosX
ran 'C:\Program Files\Windows NT\Accessories\wordpad.exe' \
  'Software\Microsoft\Windows\CurrentVersion\Applets\Wordpad\Options' FrameRect
ran winemine.exe 'Software\Microsoft\WinMine' Xpos
run regedit.exe

kept="$computer/kept.txt"
grep -E $'^(Notepad|WordPad|Games\\\\Minesweeper)\t' "$expected" >"$kept"
grep -F 'Regedit\Favorites' "$expected" >>"$kept"
report=$(qm_run_program "$probe" check "$(winpath "$kept")" | tr -d '\r')
grep -v '^proven' <<<"$report" && failures=$((failures + 1))
"$WINESERVER" -k
echo "real programs: $failures failed"
[ "$failures" -eq 0 ]
