#!/usr/bin/env bash
# The main job: on a fresh computer (a new Wine prefix) where the program is
# installed, back up what the starter catalogue finds into a new dated,
# packed set; then restore that set on a second fresh computer. Prints where
# the set is and what was saved and restored.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
trees=$(scripts/test-tree.sh)
read -r tree arch <<<"$trees"
tree=$(cd "$tree" && pwd)
root="$tree/run"
rm -rf "$root"
mkdir -p "$root/a" "$root/b" "$root/sets"
cleanup() {
  scripts/wine-prefix.sh "$root/a" "$arch" down
  scripts/wine-prefix.sh "$root/b" "$arch" down
}
trap cleanup EXIT

# on <a|b> program [args...]: runs a Windows program on that computer from
# the programs' folder, where the catalogue lies.
on() {
  local computer=$1
  shift
  (
    . scripts/wine-env.sh "$root/$computer" "$arch"
    cd "$tree/bin"
    out=$(mktemp "$root/out.XXXXXX")
    status=0
    "$QM_WINE" "$@" >"$out" 2>&1 </dev/null || status=$?
    tr -d '\r' <"$out"
    rm -f "$out"
    exit $status
  )
}

echo "Preparing two fresh computers (Wine prefixes) ..."
for computer in a b; do
  scripts/wine-prefix.sh "$root/$computer" "$arch" up
  # What the installer does: the settings key marks the program installed.
  on $computer reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null
done

set_name="Backup-$(date -u +%Y%m%d-%H%M%S)"
set_unix="$root/sets/$set_name"
set_win="Z:$(echo "$set_unix" | tr / '\\')"

echo
echo "== Backup on the first computer: backupcmd /b $set_win /c: /y"
on a backupcmd.exe /b "$set_win" /c: /y
echo
echo "== The set: $set_unix"
ls -l "$set_unix"
echo "What restore.zip holds:"
unzip -l "$set_unix/restore.zip" 2>/dev/null | sed -n '4,$p' | grep -v '^---' || true

echo
echo "== Restore on the second computer: backupcmd /r $set_win /y"
on b backupcmd.exe /r "$set_win" /y

for computer in a b; do
  log=$(find "$root/$computer/wineprefix/drive_c/users" -name QMARK.log 2>/dev/null | head -n 1)
  if [ -n "$log" ]; then
    echo
    echo "== Log of computer $computer ($log):"
    tr -d '\r' <"$log" | sed '/^$/d'
  fi
done
echo
echo "Backup set: $set_unix"
