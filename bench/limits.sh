#!/usr/bin/env bash
# The console program at the limits of its input, each at a tenth of the size
# and at the full size, with the peak memory (resident set of the whole
# process, as Linux counts it) and the time of each run: memory that grows
# with the input would show as a full-size figure well above the small one.
#   limits.sh <build-dir> <win32|win64> [--quick]
# - a catalogue of 500 and 5,000 entries (backup of each entry's key)
# - a registry key of 20,000 and 200,000 values (/e, then /i)
# - one folder of 10,000 and 100,000 files (backup plain and packed)
# - a packed set of 5,000 and 50,000 files (restore)
# - one file of 300 MB and 3 GB (backup plain; packed, the 3 GB file must be
#   refused by the archive's 2 GB limit)
# --quick divides every size by ten. The data lives in the build folder and
# is removed at the end.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=$(cd "$1" && pwd)
arch=$2
scale=1
[ "${3:-}" = --quick ] && scale=10
root="$build/limits"
rm -rf "$root"
mkdir -p "$root/pc" "$root/work"
trap '"$top/scripts/wine-prefix.sh" "$root/pc" "$arch" down; rm -rf "$root"' EXIT
"$top/scripts/wine-prefix.sh" "$root/pc" "$arch" fresh "$build" >/dev/null
c="$root/pc/wineprefix/drive_c"
backupcmd=$(echo "Z:$build/bin/backupcmd.exe" | tr / '\\')
on() { "$top/scripts/on-computer.sh" "$root/pc" "$arch" "$root/work" "$@"; }
on reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null
# measure <label> <args...>: one backupcmd run, its peak memory and time.
measure() {
  local label=$1
  shift
  local figures status
  figures=$( { /usr/bin/time -f '%M %e' "$top/scripts/on-computer.sh" "$root/pc" "$arch" "$root/work" \
    "$backupcmd" "$@" >"$root/output.txt"; } 2>&1 | tail -n 1)
  status=$(grep -c 'rror' "$root/output.txt")
  printf '%-44s %8.1f MB %8.1f s   %s\n' "$label" "$(awk '{print $1 / 1024}' <<<"$figures")" \
    "$(awk '{print $2}' <<<"$figures")" "$([ "$status" = 0 ] && echo ok || grep -m1 'rror' "$root/output.txt")"
}
catalogue() {  # catalogue <entries>: each entry one small key
  {
    echo '<?xml version="1.0" encoding="ASCII" standalone="yes"?>'
    echo '<catalogue>'
    for i in $(seq 1 "$1"); do
      echo "<backup name=\"Entry $i\"><item path=\"HKEY_CURRENT_USER\\Software\\QmLimits\\Small\\\"/></backup>"
    done
    echo '</catalogue>'
  } >"$root/work/backup.xml"
}
folder_catalogue() {
  printf '%s\n' '<?xml version="1.0" encoding="ASCII" standalone="yes"?>' '<catalogue>' \
    "<backup name=\"Data\"><item path=\"$1\\\"/></backup>" '</catalogue>' >"$root/work/backup.xml"
}
files() {  # files <folder> <count>: that many small files in one folder
  python3 - "$1" "$2" <<'EOF'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder, exist_ok=True)
for i in range(count):
    with open(os.path.join(folder, "file%06d.txt" % i), "wb") as f:
        f.write(b"settings line %d\r\n" % i)
EOF
}

echo "limit                                          peak memory     time   outcome"
on reg add 'HKCU\Software\QmLimits\Small' /v a /d b /f >/dev/null
for n in $((5000 / 10 / scale)) $((5000 / scale)); do
  catalogue "$n"
  measure "catalogue of $n entries: backup" /b "C:\\cat-$n" /y
  rm -rf "$c/cat-$n"
done

on "$(echo "Z:$build/bin/registry_bench.exe" | tr / '\\')" --fill-only 2>/dev/null >/dev/null
for n in $((200000 / 10 / scale)) $((200000 / scale)); do
  # The key's values are made with a registry file of our own format.
  python3 - "$root/work/key.xml" "$n" <<'EOF'
import sys
path, count = sys.argv[1], int(sys.argv[2])
with open(path, "w", newline="\r\n") as f:
    f.write('<?xml version="1.0" encoding="ASCII" standalone="yes"?>\n<Registry>\n')
    f.write('<Key Name="HKEY_CURRENT_USER"><Key Name="Software"><Key Name="QmLimitsValues">\n')
    for i in range(count):
        f.write('<Value Name="value%06d" Content="text of value %d"/>\n' % (i, i))
    f.write('</Key></Key></Key>\n</Registry>\n')
EOF
  measure "key of $n values: /i" /i 'key.xml'
  measure "key of $n values: /e" /e:HKEY_CURRENT_USER\\Software\\QmLimitsValues 'out.xml'
  on reg delete 'HKCU\Software\QmLimitsValues' /f >/dev/null
done

for n in $((100000 / 10 / scale)) $((100000 / scale)); do
  files "$c/many-$n" "$n"
  folder_catalogue "C:\\many-$n"
  measure "folder of $n files: backup plain" /b "C:\\set-$n" /y
  rm -rf "$c/set-$n"
  measure "folder of $n files: backup packed" /b "C:\\zip-$n" /c: /y
  rm -rf "$c/many-$n"
done
for n in $((50000 / 10 / scale)) $((50000 / scale)); do
  [ -d "$c/zip-$n" ] || { files "$c/many-$n" "$n"; folder_catalogue "C:\\many-$n"; on "$backupcmd" /b "C:\\zip-$n" /c: /y >/dev/null; }
  rm -rf "$c/many-$n"
  folder_catalogue "C:\\many-$n"
  measure "set of $n files: restore packed" /r "C:\\zip-$n" /y
  rm -rf "$c/many-$n" "$c/zip-$n"
done
rm -rf "$c"/zip-*

for mb in $((3072 / 10 / scale)) $((3072 / scale)); do
  mkdir -p "$c/big-$mb"
  head -c "$((mb * 1024 * 1024))" /dev/urandom >"$c/big-$mb/big.bin"
  folder_catalogue "C:\\big-$mb"
  measure "one file of $mb MB: backup plain" /b "C:\\bigset-$mb" /y
  echo "    set: $(du -sm "$c/bigset-$mb" | cut -f1) MB"
  rm -rf "$c/bigset-$mb"
  measure "one file of $mb MB: backup packed" /b "C:\\bigzip-$mb" /c: /y
  echo "    set: $(du -sm "$c/bigzip-$mb" 2>/dev/null | cut -f1) MB"
  rm -rf "$c/bigzip-$mb" "$c/big-$mb"
done
