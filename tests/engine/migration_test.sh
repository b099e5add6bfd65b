#!/usr/bin/env bash
# Moving a user's settings to another computer: a backup on computer A (a
# Wine prefix), restored on computer B (a second prefix whose documents,
# application data and start menu folders lie elsewhere and which lacks one
# program), as a plain set and packed with and without a password. Then a
# restore onto A over changed data, and the registry file that is imported
# only at the next start of Windows.
#   migration_test.sh <build-dir> <win32|win64>
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
build=$(cd "$1" && pwd)
arch=$2
root="$build/migration"
mkdir -p "$root/a" "$root/b" "$root/sets"
probe="Z:$(echo "$build/bin/migration_probe.exe" | tr / '\\')"
sets="Z:$(echo "$root/sets" | tr / '\\')"
program_folder=$PWD
. "$(dirname "$0")/../support/two_computers.sh"

usf='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
for computer in a b; do
  "$scripts/wine-prefix.sh" "$root/$computer" "$arch" up
  on $computer reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null
done
# A shell folder that doesn't exist yet would be made a link to the Linux home.
mkdir -p "$(drive a)/Start A/Programs" "$(drive a)/Documents A" "$(drive b)/Start B/Programs" \
  "$(drive b)/Roaming B" "$(drive b)/Documents B"
# The start menu lies outside the profile on both, in different places, so
# that paths into it are carried over through the placeholders.
on a reg add "$usf" /v Programs /t REG_EXPAND_SZ /d 'C:\Start A\Programs' /f >/dev/null
# Wine links the documents folder to the Linux home; both keep theirs inside
# the prefix.
on a reg add "$usf" /v Personal /t REG_EXPAND_SZ /d 'C:\Documents A' /f >/dev/null
on b reg add "$usf" /v Programs /t REG_EXPAND_SZ /d 'C:\Start B\Programs' /f >/dev/null
on b reg add "$usf" /v AppData /t REG_EXPAND_SZ /d 'C:\Roaming B' /f >/dev/null
on b reg add "$usf" /v Personal /t REG_EXPAND_SZ /d 'C:\Documents B' /f >/dev/null
folders_a=$(on a "$probe" folders)
folders_b=$(on b "$probe" folders)
folder() {  # folder <a|b> <name>: the unix path of a special folder
  local line
  line=$(echo "$2" | sed -n "s/^$1=//p")
  line=${line#C:}
  echo "$(drive "$3")$(echo "$line" | tr '\\' /)"
}
appdata_a=$(folder AppData "$folders_a" a)
docs_a=$(folder MyDocuments "$folders_a" a)
programs_a=$(folder Programs "$folders_a" a)
appdata_b=$(folder AppData "$folders_b" b)
docs_b=$(folder MyDocuments "$folders_b" b)
programs_b=$(folder Programs "$folders_b" b)
check "A keeps its documents in the prefix ($folders_a)" [ "$docs_a" = "$(drive a)/Documents A" ]
for dir in "$docs_a" "$appdata_a" "$programs_a" "$docs_b" "$appdata_b" "$programs_b"; do
  [ -d "$dir" ] && [ ! -L "$dir" ] || { echo "FAILED: $dir is not a folder of its own"; exit 1; }
done
check "B has its own folders ($folders_b)" \
  [ "$appdata_b" = "$(drive b)/Roaming B" -a "$docs_b" = "$(drive b)/Documents B" -a "$programs_b" = "$(drive b)/Start B/Programs" ]

catalogue="$root/sets/backup.xml"
cat >"$catalogue" <<'EOF'
<?xml version="1.0" encoding="ASCII" standalone="yes"?>
<catalogue>
<backup name="Writer" display="Word processor" keyExists="HKEY_CURRENT_USER\Software\QmMigration\Writer">
 <var name="Dir" value="($AppData)\QmWriter"/>
 <item path="HKEY_CURRENT_USER\Software\QmMigration\Writer\"/>
 <item path="HKEY_CURRENT_USER\Software\QmMigration\Layout\*"/>
 <item path="HKEY_CURRENT_USER\Software\QmMigration\Layout\Sub\Zoom"/>
 <item name="conf" path="($Dir)\"/>
 <item path="($MyDocuments)/QmWriter/*"/>
 <item path="($Dir)\writer.ini"/>
 <item path="[HKEY_CURRENT_USER\Software\QmMigration\Writer\Dictionary]"/>
 <backup name="Late settings">
  <item path="HKEY_CURRENT_USER\Software\QmMigration\Late\"/>
  <item path="$LoadRegAtStartup"/>
 </backup>
</backup>
<backup name="Games" keyExists="HKEY_CURRENT_USER\Software\QmMigration\Games">
 <item path="HKEY_CURRENT_USER\Software\QmMigration\Games\"/>
 <item path="($MyDocuments)\QmGames\"/>
</backup>
<backup name="Old system" winVer="9598ME">
 <item path="C:\windows\win.ini"/>
</backup>
</catalogue>
EOF

# The program's data on A.
make_program() {
  local reg="$root/program.reg"
  printf '%s\r\n' 'REGEDIT4' '' \
    '[HKEY_CURRENT_USER\Software\QmMigration\Writer]' \
    '"Name"="Alice Example"' \
    '"Count"=dword:0000002a' \
    '"Blob"=hex:00,01,fe,ff,10' \
    '"Multi"=hex(7):61,00,62,00,00' \
    '"Dictionary"="C:\\Start A\\Programs\\QmWriter\\dict"' \
    '[HKEY_CURRENT_USER\Software\QmMigration\Writer\Recent]' \
    '"File1"="letter.doc"' \
    '[HKEY_CURRENT_USER\Software\QmMigration\Layout]' \
    '"Left"="10"' \
    '"Top"=dword:00000014' \
    '[HKEY_CURRENT_USER\Software\QmMigration\Layout\Sub]' \
    '"Zoom"="150"' \
    '[HKEY_CURRENT_USER\Software\QmMigration\Late]' \
    '"Applied"="at restart"' \
    '[HKEY_CURRENT_USER\Software\QmMigration\Games]' \
    '"Level"="7"' '' >"$reg"
  on a reg delete 'HKCU\Software\QmMigration' /f >/dev/null 2>&1
  on a reg import "Z:$(echo "$reg" | tr / '\\')" >/dev/null 2>&1
  rm -rf "$appdata_a/QmWriter" "$docs_a/QmWriter" "$docs_a/QmGames" "$programs_a/QmWriter"
  mkdir -p "$appdata_a/QmWriter/styles" "$docs_a/QmWriter/drafts" "$docs_a/QmGames" "$programs_a/QmWriter/dict/en"
  printf '[main]\r\nautosave=5\r\n' >"$appdata_a/QmWriter/writer.ini"
  printf 'heading' >"$appdata_a/QmWriter/styles/normal.sty"
  head -c 300000 /dev/urandom >"$appdata_a/QmWriter/styles/big.bin"
  printf 'to do' >"$docs_a/QmWriter/notes.txt"
  printf 'draft' >"$docs_a/QmWriter/drafts/ignored.txt"
  printf 'save' >"$docs_a/QmGames/slot1.sav"
  printf 'affixes' >"$programs_a/QmWriter/dict/en/en.aff"
}
make_program
pristine="$root/pristine"
rm -rf "$pristine"
mkdir -p "$pristine"
cp -a "$appdata_a/QmWriter" "$pristine/appdata"
cp -a "$docs_a/QmWriter" "$pristine/docs"
cp -a "$programs_a/QmWriter" "$pristine/programs"

# reg_export <a|b> <key>: the key as text, without the header line.
reg_export() {
  local file="$root/export-$1.reg"
  rm -f "$file"
  on "$1" reg export "HKCU\\Software\\QmMigration\\$2" "Z:$(echo "$file" | tr / '\\')" /y >/dev/null 2>&1
  iconv -f UTF-16LE -t UTF-8 "$file" 2>/dev/null | tr -d '\r' | tail -n +2 | sed '/^$/d'
}
contains() { grep -qF -- "$2" <<<"$1"; }
lacks() { ! grep -qF -- "$2" <<<"$1"; }
same_files() { diff -r "$1" "$2" >/dev/null 2>&1; }
wipe_b() {  # the word processor is installed on B, with no settings yet
  on b reg delete 'HKCU\Software\QmMigration' /f >/dev/null 2>&1
  printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\Software\QmMigration\Writer]' '' >"$root/installed.reg"
  on b reg import "Z:$(echo "$root/installed.reg" | tr / '\\')" >/dev/null 2>&1
  rm -rf "$appdata_b/QmWriter" "$docs_b/QmWriter" "$docs_b/QmGames" "$programs_b/QmWriter" "$programs_b/qmwriter" \
    "$(drive b)/Start A"
}

expected_writer=$(reg_export a Writer | grep -v '^"Dictionary"=')
expected_layout='[HKEY_CURRENT_USER\Software\QmMigration\Layout]
"Left"="10"
"Top"=dword:00000014
[HKEY_CURRENT_USER\Software\QmMigration\Layout\Sub]
"Zoom"="150"'

# migrate <set name> <plain|packed> [password]
migrate() {
  local name=$1 mode=$2 password=${3:-}
  local set="$sets\\$name"
  local secret=()
  [ -n "$password" ] && secret=("$password")
  rm -rf "$root/sets/$name"
  local out
  out=$(on a "$probe" backup "Z:$(echo "$catalogue" | tr / '\\')" "$set" "$mode" "${secret[@]}")
  check "$name: backup on A succeeded ($out)" [ $? -eq 0 ]
  if [ "$mode" = packed ]; then
    check "$name: the set holds only the archive" [ "$(ls "$root/sets/$name")" = "restore.zip" ]
  else
    check "$name: registry file per entry" [ -f "$root/sets/$name/Registry/Writer.xml" -a -f "$root/sets/$name/Registry/Writer.Late settings.xml" ]
  fi

  wipe_b
  out=$(on b "$probe" restore "$set" "${secret[@]}")
  local status=$?
  check "$name: restore on B succeeded ($out)" [ $status -eq 0 ]
  check "$name: B is told that Games is missing" grep -qx 'Games' <<<"$out"
  check "$name: B is told a restart is needed" grep -qx 'restart needed' <<<"$out"
  check "$name: Writer key equal" [ "$(reg_export b Writer | grep -v '^"Dictionary"=')" = "$expected_writer" ]
  check "$name: only the chosen layout values" [ "$(reg_export b Layout)" = "$expected_layout" ]
  local dictionary
  dictionary=$(reg_export b Writer | sed -n 's/^"Dictionary"=//p')
  check "$name: path value re-pointed to B's start menu ($dictionary)" \
    [ "$dictionary" = '"C:\\Start B\\Programs\\QmWriter\\dict"' ]
  check "$name: application data at B's own folder" same_files "$pristine/appdata" "$appdata_b/QmWriter"
  check "$name: document files (no subfolders) at B's own folder" \
    [ "$(cat "$docs_b/QmWriter/notes.txt" 2>/dev/null)" = "to do" -a ! -e "$docs_b/QmWriter/drafts" ]
  check "$name: dictionary folder at the re-pointed place" same_files "$pristine/programs/dict" "$programs_b/QmWriter/dict"
  check "$name: nothing of the missing program" [ ! -e "$docs_b/QmGames" ]
  check "$name: nothing written under A's folders on B" [ ! -e "$(drive b)/Start A" ]
  check "$name: the startup import is waiting" contains "$(on_b_runonce)" 'Writer.Late settings'
}
on_b_runonce() { on b reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'; }

migrate plain plain
migrate packed packed
migrate secret packed 'open sesame'

# The registry file imported at the next start of Windows: remove what the
# restore put there, restart B, and the RunOnce command brings it back.
runonce=$(on_b_runonce)
check "RunOnce command quotes the program ($runonce)" grep -q '"Z:.*migration_probe.exe" /con /s /y /i ' <<<"$runonce"
on b reg delete 'HKCU\Software\QmMigration\Late' /f >/dev/null 2>&1
tempfile=$(find "$(drive b)/users" -name 'Writer.Late settings.xml' | head -1)
check "registry file waits in the temporary folder" [ -n "$tempfile" ]
(
  . "$scripts/wine-env.sh" "$root/b" "$arch"
  "$QM_WINE" wineboot -r </dev/null >/dev/null 2>&1
)
"$scripts/wine-prefix.sh" "$root/b" "$arch" up
check "imported at the restart" grep -q 'at restart' <<<"$(on b reg query 'HKCU\Software\QmMigration\Late' /v Applied 2>&1)"
check "the imported file is deleted" [ -z "$(find "$(drive b)/users" -name 'Writer.Late settings.xml')" ]
check "RunOnce entry ran once" lacks "$(on_b_runonce)" 'Writer.Late settings'

# Back on A over changed data: everything is as it was.
on a reg add 'HKCU\Software\QmMigration\Writer' /v Name /d 'Someone Else' /f >/dev/null
on a reg delete 'HKCU\Software\QmMigration\Writer\Recent' /f >/dev/null
printf 'changed' >"$appdata_a/QmWriter/writer.ini"
head -c 1000 /dev/zero >"$appdata_a/QmWriter/styles/big.bin"
rm -f "$docs_a/QmWriter/notes.txt" "$programs_a/QmWriter/dict/en/en.aff"
out=$(on a "$probe" restore "$sets\\secret" 'open sesame')
check "restore on A succeeded ($out)" [ $? -eq 0 ]
check "A: nothing reported missing" lacks "$out" 'missing:'
check "A: Writer key as it was" [ "$(reg_export a Writer | grep -v '^"Dictionary"=')" = "$expected_writer" ]
check "A: application data as it was" same_files "$pristine/appdata" "$appdata_a/QmWriter"
check "A: documents as they were" same_files "$pristine/docs" "$docs_a/QmWriter"
check "A: dictionary as it was" same_files "$pristine/programs" "$programs_a/QmWriter"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
