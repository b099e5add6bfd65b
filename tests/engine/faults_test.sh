#!/usr/bin/env bash
# Backups and restores that meet trouble, run with backupcmd on a computer of
# their own: names this computer's code page can't write and paths deeper
# than Windows allows (left out and named, the rest saved), and a drive that
# fills up (a 1 MB drive E: mapped into the prefix) during a backup and
# during a restore over the user's own file, files another program holds,
# a folder nobody may write into, and a set whose drive goes away during
# its restore. In each the log names the problem, the exit status tells it,
# and no user file is lost or left half written; a clean-up never follows a
# folder link.
#   faults_test.sh <build-dir> <win32|win64>
set -uo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
build=$(cd "$1" && pwd)
arch=$2
root="$build/faults"
small="$root/small"
mountpoint -q "$small" 2>/dev/null && umount "$small"
mountpoint -q "$root/ro" 2>/dev/null && umount "$root/ro"
mountpoint -q "$root/usb" 2>/dev/null && umount -l "$root/usb"
rm -rf "$root"
mkdir -p "$root/pc" "$root/work" "$small"
if ! mount -t tmpfs -o size=1m tmpfs "$small" 2>/dev/null; then
  echo "SKIPPED: a small drive can't be mounted here"
  exit 77
fi
. "$(dirname "$0")/../support/checks.sh"
cleanup() {
  umount "$root/ro" 2>/dev/null
  umount -l "$root/usb" 2>/dev/null
  "$scripts/wine-prefix.sh" "$root/pc" "$arch" down
  umount "$small" 2>/dev/null
}
trap cleanup EXIT
"$scripts/wine-prefix.sh" "$root/pc" "$arch" fresh "$build"
ln -sfn "$small" "$root/pc/wineprefix/dosdevices/e:"
backupcmd=$(echo "Z:$build/bin/backupcmd.exe" | tr / '\\')
run() { "$scripts/on-computer.sh" "$root/pc" "$arch" "$root/work" "$backupcmd" "$@"; }
run_status() { run "$@" >"$root/output.txt"; echo $?; }
switches_of() { [ "$1" = packed ] && echo /c: /y || echo /y; }  # a backup's switches
c="$root/pc/wineprefix/drive_c"
log="$c/users/$(ls "$c/users" | grep -v Public | head -n 1)/Temp/QMARK.log"
new_log() { rm -f "$log"; }
logged() { tr -d '\r' <"$log" 2>/dev/null | grep -qF -- "$1"; }
"$scripts/on-computer.sh" "$root/pc" "$arch" "$root" reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null
catalogue() {  # catalogue <folder>: one entry with that folder
  printf '%s\r\n' '<?xml version="1.0" encoding="ASCII" standalone="yes"?>' '<catalogue>' \
    '<backup name="Data" display="Data">' " <item path=\"$1\\\"/>" '</backup>' '</catalogue>' \
    >"$root/work/backup.xml"
}

# Names and depths Windows can't give the program.
src="$c/src"
mkdir -p "$src/Ünïcode" "$src/Привет"
printf 'plain' >"$src/plain.txt"
printf 'latin' >"$src/Ünïcode/café.txt"
printf 'cyrillic' >"$src/Привет.txt"
printf 'inside' >"$src/Привет/inside.txt"
deep="$src"
for i in $(seq 1 30); do deep="$deep/folder_number_$i"; done
mkdir -p "$deep"
printf 'deep' >"$deep/deep.txt"
catalogue 'C:\src'
for mode in plain packed; do
  new_log
  check "$mode: left-out files make a backup with item errors" [ "$(run_status /b "C:\\set-$mode" $(switches_of $mode))" = 3 ]
  check "$mode: the file is named" logged 'C:\src\??????.txt'
  check "$mode: the folder is named" logged 'C:\src\??????\'
  check "$mode: the reason is given" logged "characters that this computer's code page lacks; not copied."
  check "$mode: the deep path is named" logged 'The path is longer than Windows allows; not copied.'
  if [ $mode = packed ]; then
    names=$(unzip -Z1 "$c/set-$mode/restore.zip" 2>/dev/null)
  else
    names=$(cd "$c/set-$mode" && find . -type f)
  fi
  check "$mode: the rest is saved ($names)" grep -q 'plain.txt' <<<"$names"
  check "$mode: the names the code page has are saved" grep -q 'caf' <<<"$names"
  check "$mode: nothing under a wrong name" bash -c '! grep -q "[?]\|inside" <<<"$0"' "$names"
  rm -f "$src/plain.txt" "$src/Ünïcode/café.txt"
  check "$mode: the set restores with its item" [ "$(run_status /r "C:\\set-$mode" /y)" = 0 ]
  check "$mode: restored" [ "$(cat "$src/plain.txt" "$src/Ünïcode/café.txt" 2>/dev/null)" = plainlatin ]
  check "$mode: the files it couldn't name are untouched" [ "$(cat "$src/Привет.txt" "$src/Привет/inside.txt")" = cyrillicinside ]
done

# A backup that fills the drive of its set.
mkdir -p "$c/big"
head -c 1200000 /dev/urandom >"$c/big/big.bin"
printf 'small' >"$c/big/small.txt"
catalogue 'C:\big'
new_log
check "plain backup onto a full drive reports item errors" [ "$(run_status /b 'E:\set' /y)" = 3 ]
check "the log says the disk is full" logged 'Disk full'
check "no part of the big file stays in the set" [ ! -e "$small/set/Data/1/big.bin" ]
check "the set doesn't claim the folder" bash -c '! grep -q "C:\\\\big" "$0"' "$small/set/restore.xml"
rm -rf "$small/set"
check "packed backup onto a full drive fails" [ "$(run_status /b 'E:\set' /c: /y)" = 2 ]
check "and says why" grep -q 'disk full' "$root/output.txt"
check "and leaves no set behind" [ ! -e "$small/set" ]
check "the sources are untouched" [ "$(stat -c %s "$c/big/big.bin")" = 1200000 ]

# A packed backup removes the registry files it packed; a folder link found
# there is taken away itself, never followed into the user's files it leads
# to.
mkdir -p "$c/precious" "$c/linked/Registry"
printf 'mine' >"$c/precious/letter.txt"
ln -s "$c/precious" "$c/linked/Registry/link"
check "a packed backup beside a link succeeds" [ "$(run_status /b 'C:\linked' /c: /y)" = 0 ]
check "the files behind the link are untouched" [ "$(cat "$c/precious/letter.txt")" = mine ]
# (Windows takes a junction away as a folder; Wine can't take away a Unix
# link through Windows calls, so there the link and its folder stay.)

# Files another program holds open with no sharing: left out of a backup and
# named; replaced at the next restart by a restore.
holder=$(echo "Z:$build/bin/hold_probe.exe" | tr / '\\')
hold() {  # hold <windows path>: until release
  rm -f "$root/release" "$root/release.held"
  "$scripts/on-computer.sh" "$root/pc" "$arch" "$root" "$holder" "$1" "$(echo "Z:$root/release" | tr / '\\')" \
    >/dev/null &
  for _ in $(seq 1 100); do [ -e "$root/release.held" ] && return; sleep 0.1; done
}
release() { touch "$root/release"; wait; }
mkdir -p "$c/busy"
printf 'open mail' >"$c/busy/mail.box"
printf 'free' >"$c/busy/free.txt"
catalogue 'C:\busy'
for mode in plain packed; do
  new_log
  hold 'C:\busy\mail.box'
  status=$(run_status /b "C:\\busy-$mode" $(switches_of $mode))
  release
  check "$mode: a backup with a file held open reports item errors" [ "$status" = 3 ]
  check "$mode: the held file is named" logged 'C:\busy\mail.box'
  if [ $mode = packed ]; then names=$(unzip -Z1 "$c/busy-$mode/restore.zip"); else names=$(cd "$c/busy-$mode" && find . -type f); fi
  check "$mode: the rest is saved" grep -q free.txt <<<"$names"
  check "$mode: no part of the held file is saved" bash -c '! grep -q mail.box <<<"$0"' "$names"
done
run /b 'C:\busy-set' /y >/dev/null
printf 'new mail' >"$c/busy/mail.box"
hold 'C:\busy\mail.box'
status=$(run_status /r 'C:\busy-set' /y)
release
check "a restore over a held file finishes ($status)" [ "$status" = 0 ]
pending=$("$scripts/on-computer.sh" "$root/pc" "$arch" "$root" reg query \
  'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations)
check "it is replaced at the next restart" grep -qi 'busy\\mail.box' <<<"$pending"
check "until then the file is the program's" [ "$(cat "$c/busy/mail.box")" = "new mail" ]

# A restore over the user's own file on a drive too full for the set's copy.
rm -rf "$small/set"
mkdir -p "$small/data"
head -c 600000 /dev/urandom >"$small/data/keep.dat"
catalogue 'E:\data'
run /b 'C:\from-e' /y >/dev/null
run /b 'C:\from-e-packed' /c: /y >/dev/null
for set in from-e from-e-packed; do
  head -c 300000 /dev/zero | tr '\0' o >"$small/data/keep.dat"
  rm -f "$small/filler"
  head -c 450000 /dev/zero >"$small/filler" 2>/dev/null
  new_log
  check "$set: restore onto a full drive reports item errors" [ "$(run_status /r "C:\\$set" /y)" = 3 ]
  check "$set: the log says the disk is full" logged 'Disk full'
  check "$set: the user's file is whole" [ "$(tr -d o <"$small/data/keep.dat" | wc -c)$(stat -c %s "$small/data/keep.dat")" = 0300000 ]
  check "$set: nothing half written beside it ($(ls "$small/data"))" [ "$(ls "$small/data")" = keep.dat ]
done

# A folder nobody may write into, not even the tests' own root: a read-only
# bind mount, mapped as drive R:.
ro="$root/ro"
mkdir -p "$ro/data"
read_only() { mount --bind "$ro" "$ro" && mount -o remount,ro,bind "$ro" "$ro"; }
writable() { umount "$ro" 2>/dev/null; }
ln -sfn "$ro" "$root/pc/wineprefix/dosdevices/r:"
printf 'old' >"$ro/data/keep.txt"
printf 'other' >"$ro/data/other.txt"
catalogue 'R:\data'
run /b 'C:\from-r' /y >/dev/null
run /b 'C:\from-r-packed' /c: /y >/dev/null
printf 'changed' >"$ro/data/keep.txt"
if read_only; then
  for mode in plain packed; do
    check "$mode: a backup into a read-only folder fails" [ "$(run_status /b 'R:\set' $(switches_of $mode))" = 2 ]
    check "$mode: and says why" grep -q 'failed to create directory' "$root/output.txt"
  done
  for set in from-r from-r-packed; do
    new_log
    check "$set: a restore into a read-only folder reports item errors" [ "$(run_status /r "C:\\$set" /y)" = 3 ]
    check "$set: the log names the file" logged 'R:\data\keep.txt'
    check "$set: the user's file is untouched" [ "$(cat "$ro/data/keep.txt")" = changed ]
  done
  writable
else
  echo "SKIPPED: a read-only folder can't be mounted here"
fi

# A set on a drive that is taken away in the middle of its restore (drive
# F:, unmapped and unmounted once the restore is under way). A packed set's
# archive stays open, and Linux would go on reading it: it is cut short
# first, as a failing disk would leave it.
usb="$root/usb"
mkdir -p "$usb" "$c/many/a" "$c/many/b" "$root/many-a"
if mount -t tmpfs -o size=32m tmpfs "$usb"; then
  for i in $(seq 1 2000); do head -c 2000 /dev/urandom >"$root/many-a/f$i.bin"; done
  printf '%s\r\n' '<?xml version="1.0" encoding="ASCII" standalone="yes"?>' '<catalogue>' \
    '<backup name="A" display="A">' ' <item path="C:\many\a\"/>' '</backup>' \
    '<backup name="B" display="B">' ' <item path="C:\many\b\"/>' '</backup>' '</catalogue>' \
    >"$root/work/backup.xml"
  for mode in plain packed; do
    mountpoint -q "$usb" || mount -t tmpfs -o size=32m tmpfs "$usb"
    ln -sfn "$usb" "$root/pc/wineprefix/dosdevices/f:"
    rm -rf "$usb/set" "$c/many/a"
    cp -r "$root/many-a" "$c/many/a"
    printf 'saved' >"$c/many/b/mine.txt"
    run /b 'F:\set' $(switches_of $mode) >/dev/null
    rm -rf "$c/many/a"
    printf 'mine' >"$c/many/b/mine.txt"
    new_log
    run_status /r 'F:\set' /y >"$root/status" &
    for _ in $(seq 1 500); do
      [ "$(ls "$c/many/a" 2>/dev/null | wc -l)" -gt 50 ] && break
      sleep 0.02
    done
    [ $mode = packed ] && truncate -s 0 "$usb/set/restore.zip"
    rm -f "$root/pc/wineprefix/dosdevices/f:"
    umount -l "$usb"
    wait
    restored=$(ls "$c/many/a" | wc -l)
    check "$mode: the restore was under way when the drive went ($restored files)" [ "$restored" -lt 2000 ]
    check "$mode: a restore whose set went away reports item errors" [ "$(cat "$root/status")" = 3 ]
    [ $mode = plain ] && check "plain: the log says the drive is gone" \
      logged 'The drive or network folder of this file is no longer there: F:\set\A\1\'
    check "$mode: and names the item it couldn't finish" logged 'C:\many\a\'
    check "$mode: the files restored are whole" bash -c 'cd "$0" && for f in *; do cmp -s "$f" "$1/$f" || exit 1; done' \
      "$c/many/a" "$root/many-a"
    check "$mode: nothing half written is left" [ -z "$(ls "$c/many/a" "$c/many/b" | grep -v '^f[0-9]*[.]bin$\|^mine[.]txt$\|^/\|^$')" ]
    check "$mode: the user's file of the next item is untouched" [ "$(cat "$c/many/b/mine.txt")" = mine ]
  done
else
  echo "SKIPPED: a drive to take away can't be mounted here"
fi

echo "faults: $passes checks passed, $failures failed"
[ "$failures" -eq 0 ]
