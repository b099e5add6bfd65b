#!/usr/bin/env bash
# The main job: moving a user's programs to a new computer.
# On an old computer (a fresh Wine prefix) the program is installed with its
# installer; Wine's own Notepad, WordPad and Minesweeper are used and a few
# other programs leave their settings behind (their footprints); a packed
# backup is made with the shipped catalogue. On a new computer, whose
# documents, application data and start menu lie elsewhere and where those
# programs are installed in other folders, the program is installed from the
# set's own setup program and the set restored. Then the settings are
# checked on the new computer, Wine's programs are started there, and a short
# report says what was found, saved, restored and checked.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
trees=$(scripts/test-tree.sh)
read -r tree arch <<<"$trees"
tree=$(cd "$tree" && pwd)
root="$tree/run"
rm -rf "$root"
mkdir -p "$root/old" "$root/new" "$root/sets" "$root/footprints"
cleanup() {
  scripts/wine-prefix.sh "$root/old" "$arch" down
  scripts/wine-prefix.sh "$root/new" "$arch" down
}
trap cleanup EXIT
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
drive() { echo "$root/$1/wineprefix/drive_c"; }
install_folder='C:\Program Files\Quillmark'
# on <old|new> [--in <unix folder>] program [args...]: runs a Windows program
# on that computer.
on() {
  local computer=$1 folder=$root
  shift
  if [ "$1" = --in ]; then folder=$2; shift 2; fi
  scripts/on-computer.sh "$root/$computer" "$arch" "$folder" "$@"
}
installed() { echo "$(drive "$1")/Program Files/Quillmark"; }
probe=$(winpath "$tree/bin/footprint_probe.exe")
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
bytes() { stat -c %s "$1"; }

# What the old computer's user has: Wine's programs and some others.
for program in notepad wordpad games firefox putty winamp filezilla 7-zip total-commander; do
  cp "tests/catalogue/footprints/$program.txt" "$root/footprints/"
done

echo "Preparing two fresh computers (Wine prefixes) ..."
for computer in old new; do
  scripts/wine-prefix.sh "$root/$computer" "$arch" fresh "$tree"
done
usf='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
mkdir -p "$(drive new)/Data/Roaming" "$(drive new)/Data/Documents" "$(drive new)/Data/Start/Programs"
on new reg add "$usf" /v AppData /t REG_EXPAND_SZ /d 'C:\Data\Roaming' /f >/dev/null
on new reg add "$usf" /v Personal /t REG_EXPAND_SZ /d 'C:\Data\Documents' /f >/dev/null
on new reg add "$usf" /v Programs /t REG_EXPAND_SZ /d 'C:\Data\Start\Programs' /f >/dev/null

echo
echo "== The old computer"
echo "Installing: QMARK Setup.exe /S"
on old --in "$tree/bin" "QMARK Setup.exe" /S
on old "$probe" lay "$(winpath "$root/footprints")" all 'C:\Program Files' >/dev/null
# Wine's own programs write their whole settings as they close.
on old reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null
scripts/wine-prefix.sh "$root/old" "$arch" down
flock "$tree/wineprefix-x.lock" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  screen=$DISPLAY
  . scripts/wine-env.sh "$1" "$2"
  export DISPLAY=$screen
  "$WINESERVER" -p
  for program in notepad.exe winemine.exe; do qm_run_program "$3" run "$program" >/dev/null; done
  "$WINESERVER" -k' run "$root/old" "$arch" "$probe"
scripts/wine-prefix.sh "$root/old" "$arch" up
on old reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null

set_name="Backup-$(date -u +%Y%m%d-%H%M%S)"
set_unix="$root/sets/$set_name"
set_win=$(winpath "$set_unix")
echo "Backing up: backupcmd /b $set_win /c: /y (in $install_folder)"
start=$(now)
on old --in "$(installed old)" backupcmd.exe /b "$set_win" /c: /y >"$root/backup.txt"
backup_time=$(seconds "$start" "$(now)")
found=$(on old "$probe" detect "$(winpath "$(installed old)/backup.xml")")

echo
echo "== The new computer"
echo "Installing from the set: $set_name\\QMARK Setup.exe /S"
on new --in "$set_unix" "QMARK Setup.exe" /S
on new "$probe" lay "$(winpath "$root/footprints")" installed 'C:\Apps' >/dev/null
on new "$probe" expect "$(winpath "$root/footprints")" 'C:\Apps' "$(winpath "$root/expected.txt")"
echo "Restoring: backupcmd /r $set_win /y (in $install_folder)"
start=$(now)
on new --in "$(installed new)" backupcmd.exe /r "$set_win" /y >"$root/restore.txt"
restore_time=$(seconds "$start" "$(now)")
checked=$(on new "$probe" check "$(winpath "$root/expected.txt")" || true)
on new reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null
scripts/wine-prefix.sh "$root/new" "$arch" down
programs=$(flock "$tree/wineprefix-x.lock" xvfb-run -a -s "-screen 0 1024x768x24" \
  tests/catalogue/real_programs.sh --used "$tree" "$arch" "$root/new" "$root/expected.txt" 2>&1 | tail -n 1 || true)

# The report.
top_level() { awk -F'\t' -v state="$1" '$1 == state && $2 !~ /\\/ {print $2}' <<<"$found" | sort -u; }
saved=$(unzip -p "$set_unix/restore.zip" restore.xml | tr -d '\r' |
  sed -n 's/^    <restore name="\([^"]*\)".*/\1/p' | grep -vx 'Custom files and folders' | sort -u)
missing=$(sed -n '/were not found/,/^$/p' "$root/restore.txt" | sed '1d;/^$/d')
echo
echo "== Report"
echo "Found on the old computer: $(top_level valid | grep -c .) of $(cut -f2 <<<"$found" | grep -v '\\' | sort -u | grep -c .) programs of the catalogue:"
top_level valid | paste -sd, - | sed 's/,/, /g' | fold -s -w 76 | sed 's/^/  /'
echo "Saved: $(grep -c . <<<"$saved") programs into $set_name\\restore.zip," \
  "$(bytes "$set_unix/restore.zip") bytes ($(unzip -l "$set_unix/restore.zip" | tail -n 1 | awk '{print $1" bytes in "$2" files"}')), in $backup_time s"
echo "  with its setup program beside it: QMARK Setup.exe, $(bytes "$set_unix/QMARK Setup.exe") bytes"
echo "Restored on the new computer in $restore_time s; not found there: ${missing:-none}"
echo "Settings checked on the new computer: $(grep -c '^proven' <<<"$checked") of $(cut -f1 "$root/expected.txt" | sort -u | grep -c .) programs have every setting:"
sed -n 's/^proven: //p' <<<"$checked" | paste -sd, - | sed 's/,/, /g' | fold -s -w 76 | sed 's/^/  /'
grep -v '^proven' <<<"$checked" | sed 's/^/  /' || true
case "$programs" in
  "real programs: 0 failed") programs="each kept the restored settings as it closed" ;;
esac
echo "Wine's Notepad, WordPad, Minesweeper and Registry Editor, started there: $programs"
echo
echo "Backup set: $set_unix"
echo "Logs: $(find "$root"/*/wineprefix/drive_c/users -name QMARK.log | paste -sd' ' -)"
