#!/usr/bin/env bash
# The installer as a user meets it, on two fresh computers (copies of one
# clean Wine prefix): installed silently on A and repaired there from the
# copy it left in the install folder; a backup made from that folder carries
# the installer; on B the set's own installer installs into another folder
# and the set is restored from there; then A is uninstalled silently (the
# settings stay) and B through its windows, answering Yes to removing them.
#   installer_test.sh <build-dir> <win32|win64>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
build=$(cd "$1" && pwd)
arch=$2
if [ "$arch" != win32 ]; then
  # Exit status 77 tells ctest the test was skipped.
  echo "The installer is a 32-bit program, and this machine runs 64-bit Windows programs only."
  exit 77
fi
root="$build/setup-test"
setup="$build/bin/QMARK Setup.exe"
version=$(sed -n 's/.*VALUE "ProductVersion", "\([^"]*\)".*/\1/p' "$here/../../src/wizard/Wizard.rc")
passes=0 failures=0
check() {  # check <description> <condition...>
  local what=$1
  shift
  if "$@"; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAILED: $what"; fi
}

winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
probe=$(winpath "$build/bin/setup_probe.exe")
drive() { echo "$root/$1/wineprefix/drive_c"; }

# on <a|b> [--in <unix folder>] <windows program> [args...]: runs it on that
# computer, in that folder when one is given, output to stdout.
on() {
  local computer=$1 folder=$PWD
  shift
  if [ "$1" = --in ]; then folder=$2; shift 2; fi
  "$scripts/on-computer.sh" "$root/$computer" "$arch" "$folder" "$@"
}
# values <a|b> <key> [/s]: the key's values as "name|type|data" lines, or
# with /s everything below it as reg prints it.
values() {
  local computer=$1
  shift
  on "$computer" reg query "$@" 2>/dev/null | sed -n 's/^    //p' | sed 's/    /|/g'
}
has_key() { on "$1" reg query "$2" >/dev/null 2>&1; }
no_key() { ! has_key "$@"; }
same() { cmp -s "$1" "$2"; }
contains() { grep -qF -- "$2" <<<"$1"; }
lacks() { ! grep -qF -- "$2" <<<"$1"; }

cleanup() {
  "$scripts/wine-prefix.sh" "$root/a" "$arch" down
  "$scripts/wine-prefix.sh" "$root/b" "$arch" down
}
trap cleanup EXIT

# One clean computer, made once per build folder; each run starts from
# copies of it.
mkdir -p "$root/template"
"$scripts/wine-prefix.sh" "$root/template" "$arch" up || exit 1
"$scripts/wine-prefix.sh" "$root/template" "$arch" down
for computer in a b; do  # a run that was killed may have left its servers
  if [ -d "$root/$computer/wineprefix" ]; then "$scripts/wine-prefix.sh" "$root/$computer" "$arch" down; fi
done
rm -rf "${root:?}/a" "$root/b" "$root/sets"
mkdir -p "$root/sets"
for computer in a b; do
  mkdir -p "$root/$computer"
  cp -a "$root/template/wineprefix" "$root/$computer/wineprefix" || exit 1
  "$scripts/wine-prefix.sh" "$root/$computer" "$arch" up || exit 1
done

settings='HKCU\Software\Tervane\Quillmark'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark'
menu() {  # the unix path of the computer's Quillmark start menu folder
  local user
  user=$(ls "$(drive "$1")/users" | grep -vx Public | head -1)
  echo "$(drive "$1")/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillmark"
}
# shortcuts <a|b>: each shortcut of the menu folder as "name|target|folder".
shortcuts() {
  local link details
  for link in "$(menu "$1")"/*.lnk; do
    [ -e "$link" ] || continue
    details=$(on "$1" "$probe" shortcut "C:$(echo "${link#"$(drive "$1")"}" | tr / '\\')")
    echo "$(basename "$link")|$(sed -n 's/^target=//p' <<<"$details")|$(sed -n 's/^folder=//p' <<<"$details")"
  done
}
expected_shortcuts() {  # expected_shortcuts <install folder, Windows path>
  printf '%s\n' "Quillmark Help.lnk|$1\\Quillmark.chm|$1" "Quillmark.lnk|$1\\backup.exe|$1" \
    "Uninstall Quillmark.lnk|$1\\Uninstall.exe|$1"
}
# installed <a|b> <install folder, unix path> <install folder, Windows path> <what>
installed() {
  local computer=$1 dir=$2 windir=$3 what=$4 name
  for name in backup.exe backupcmd.exe backup.xml Quillmark.chm; do
    check "$what: $name is the built one" same "$build/bin/$name" "$dir/$name"
  done
  check "$what: the uninstaller is there" [ -s "$dir/Uninstall.exe" ]
  check "$what: the marker key is there" has_key "$computer" "$settings"
  local links expected listed
  links=$(shortcuts "$computer")
  check "$what: shortcuts start in the install folder ($links)" [ "$links" = "$(expected_shortcuts "$windir")" ]
  expected=$(printf '%s\n' "DisplayIcon|REG_SZ|$windir\\backup.exe,0" 'DisplayName|REG_SZ|Quillmark' \
    "DisplayVersion|REG_SZ|$version" "InstallLocation|REG_SZ|$windir" 'NoModify|REG_DWORD|0x1' \
    'NoRepair|REG_DWORD|0x1' 'Publisher|REG_SZ|Tervane' \
    "QuietUninstallString|REG_SZ|\"$windir\\Uninstall.exe\" /S" \
    "UninstallString|REG_SZ|\"$windir\\Uninstall.exe\"")
  listed=$(values "$computer" "$uninstall")
  check "$what: listed in Add/Remove Programs ($listed)" [ "$listed" = "$expected" ]
}

# A: a silent install from the build folder.
dir_a="$(drive a)/Program Files/Quillmark"
windir_a='C:\Program Files\Quillmark'
out=$(on a "$setup" /S)
check "A: silent install succeeded ($out)" [ $? -eq 0 ]
installed a "$dir_a" "$windir_a" "A"
check "A: the installer copied itself" same "$setup" "$dir_a/QMARK Setup.exe"
check "A: only the default value in the new settings key ($(values a "$settings"))" \
  [ "$(values a "$settings")" = '(Default)|REG_SZ|' ]

# A's user at work: saved selections, a schedule, a file in the folder.
on a reg add "$settings" /v Notepad /t REG_DWORD /d 1 /f >/dev/null
on a reg add "$settings\\Schedule" /v Folder /d 'D:\Sets' /f >/dev/null
printf 'mine' >"$dir_a/notes.txt"
settings_a=$(values a "$settings" /s)

# A repair started from the copy in the install folder, through the windows,
# under another spelling of its path: the copy must stay whole, and Setup
# has nothing to complain about.
short=$(on a "$probe" short "$windir_a\\QMARK Setup.exe" | tr 'A-Z' 'a-z')
out=$(on a "$probe" answer IDNO "\"$short\"")
check "A: repair from the installed copy ($short) succeeded ($out)" [ $? -eq 0 ]
check "A: the repair asked nothing ($out)" lacks "$out" 'asked:'
check "A: the installed copy is still the installer" same "$setup" "$dir_a/QMARK Setup.exe"
installed a "$dir_a" "$windir_a" "A after the repair"
check "A: the repair kept the settings" [ "$(values a "$settings" /s)" = "$settings_a" ]
check "A: the repair kept the user's file" [ "$(cat "$dir_a/notes.txt" 2>/dev/null)" = mine ]

# A backup from the install folder, where the shipped catalogue lies, carries
# the installer into the set.
on a reg add 'HKCU\Control Panel\Mouse' /v DoubleClickSpeed /d 612 /f >/dev/null
set_win=$(winpath "$root/sets/moving")
out=$(on a --in "$dir_a" backupcmd.exe /b "$set_win" /c: /y)
check "A: backup from the install folder succeeded ($out)" [ $? -eq 0 ]
check "A: the set carries the installer" same "$setup" "$root/sets/moving/QMARK Setup.exe"

# B: the set's installer, silently, into a folder of the user's choice.
dir_b="$(drive b)/Other Place/QM"
windir_b='C:\Other Place\QM'
out=$(on b "$probe" run "\"$(winpath "$root/sets/moving/QMARK Setup.exe")\" /S /D=$windir_b")
check "B: the set's installer succeeded ($out)" [ $? -eq 0 ]
installed b "$dir_b" "$windir_b" "B"
check "B: nothing in the default folder" [ ! -e "$(drive b)/Program Files/Quillmark" ]
check "B: the installer copied itself" same "$setup" "$dir_b/QMARK Setup.exe"
out=$(on b --in "$dir_b" backupcmd.exe /r "$set_win" /y)
check "B: restore from the install folder succeeded ($out)" [ $? -eq 0 ]
check "B: A's settings arrived" \
  contains "$(values b 'HKCU\Control Panel\Mouse')" 'DoubleClickSpeed|REG_SZ|612'

# A: the silent uninstall Add/Remove Programs would start. The uninstaller
# hands over to a copy of itself and returns at once; the probe waits for
# both.
quiet=$(values a "$uninstall" | sed -n 's/^QuietUninstallString|REG_SZ|//p')
out=$(on a "$probe" run "$quiet")
check "A: silent uninstall succeeded ($out)" [ $? -eq 0 ]
left=$(ls -A "$dir_a" 2>&1)
check "A: only the user's file is left in the folder ($left)" [ "$left" = notes.txt ]
check "A: the start menu folder is gone" [ ! -e "$(menu a)" ]
check "A: the uninstall entry is gone" no_key a "$uninstall"
check "A: the settings stay when nobody is asked" [ "$(values a "$settings" /s)" = "$settings_a" ]

# B: uninstalled through its windows, with Yes to removing the settings.
# Another program of the publisher keeps its settings.
on b reg add "$settings\\Schedule" /v Folder /d 'D:\Sets' /f >/dev/null
on b reg add 'HKCU\Software\Tervane\Inkwell' /v Kept /d yes /f >/dev/null
quiet=$(values b "$uninstall" | sed -n 's/^UninstallString|REG_SZ|//p')
out=$(on b "$probe" answer IDYES "$quiet")
check "B: uninstall succeeded ($out)" [ $? -eq 0 ]
check "B: the user was asked about the settings ($out)" grep -q '^asked: .*settings' <<<"$out"
check "B: the install folder is gone" [ ! -e "$dir_b" ]
check "B: the start menu folder is gone" [ ! -e "$(menu b)" ]
check "B: the uninstall entry is gone" no_key b "$uninstall"
check "B: the settings are gone" no_key b "$settings"
check "B: the other program's settings stay" \
  [ "$(values b 'HKCU\Software\Tervane\Inkwell')" = 'Kept|REG_SZ|yes' ]

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
