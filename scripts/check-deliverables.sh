#!/usr/bin/env bash
# The programs must start on a bare Windows 95 to XP: 32-bit, the right
# subsystem, and no DLL imports beyond the system's own.
set -euo pipefail
bin=$1
status=0
allowed='^(kernel32|user32|advapi32|comctl32|shell32|ole32|oleaut32|msvcrt|gdi32|comdlg32|version|wininet|mstask|urlmon|shlwapi)\.dll$'
check() {
  local exe=$1 subsystem=$2 dump
  dump=$(i686-w64-mingw32-objdump -p "$exe")
  grep -q 'file format pei-i386' <<<"$dump" || { echo "$exe: not a 32-bit program"; status=1; }
  grep -q "Subsystem.*($subsystem)" <<<"$dump" || { echo "$exe: not a $subsystem program"; status=1; }
  while read -r dll; do
    if ! grep -qiE "$allowed" <<<"$dll"; then echo "$exe imports $dll"; status=1; fi
  done < <(sed -n 's/.*DLL Name: //p' <<<"$dump")
}
check "$bin/backupcmd.exe" "Windows CUI"
check "$bin/backup.exe" "Windows GUI"
[ $status -eq 0 ] && echo "deliverables: 32-bit, system DLLs only"
exit $status
