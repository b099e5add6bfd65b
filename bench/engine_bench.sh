#!/usr/bin/env bash
# Times backing up and restoring a generated user profile (registry values
# under a key of their own and a folder tree) three ways on the same data:
# the storage operations alone (copy, pack and unpack of the tree, as
# storage_bench measures them), the engines driven in-process with a
# catalogue of the profile, and the console program as a whole process.
# Prints the engines' overhead over the storage work, the registry's share
# of it, the console program against the storage work, and the console
# program's start-up with a long catalogue against reg.exe querying a key.
# Ends with the console program against its peers on the same profile: the
# floor any Windows program pays for a copy under Wine (floor_copy) and
# Wine's xcopy for the unpacked backup, Info-ZIP zip -6 for the packed one,
# the floor copy of the set's folder back for the unpacked restore and
# Info-ZIP unzip of the set's archive for the packed one.
#   engine_bench.sh <build-dir> <win32|win64> [--size MB] [--values N] [--entries N] [--runs N]
# --size: the tree (default 500 MB); --values: the registry values (default
# 100 per MB, so 50,000 with the tree's default); --entries: the start-up
# catalogue (default 500); --runs: how often each operation runs, the
# fastest counts (default 3).
# Everything the bench makes lives in one folder in the Wine user's profile
# and in its own registry key, and goes at the end, also after a failure;
# so do the install key and saved selections the console program needs,
# when the bench had to create them.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)

usage() {
  echo "usage: $0 <build-dir> <win32|win64> [--size MB] [--values N] [--entries N] [--runs N]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
build=$1 arch=$2
shift 2
size=500 values="" entries=500 runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=${2:-}; shift 2 ;;
    --values) values=${2:-}; shift 2 ;;
    --entries) entries=${2:-}; shift 2 ;;
    --runs) runs=${2:-}; shift 2 ;;
    *) usage ;;
  esac
done
[ -n "$values" ] || values=$((size * 100))
for number in "$size" "$values" "$entries" "$runs"; do
  [[ "$number" =~ ^[0-9]+$ ]] && [ "$number" -gt 0 ] || usage
done
for tool in zip unzip; do
  command -v "$tool" >/dev/null || { echo "engine_bench: $tool is not installed" >&2; exit 1; }
done

. "$top/scripts/wine-env.sh" "$build" "$arch"
engine="$QM_BUILD_DIR/bin/engine_bench.exe" storage="$QM_BUILD_DIR/bin/storage_bench.exe"
for exe in "$engine" "$storage" "$QM_BUILD_DIR/bin/backupcmd.exe" "$QM_BUILD_DIR/bin/floor_copy.exe"; do
  [ -f "$exe" ] || { echo "engine_bench: build the engine_bench target first ($exe)" >&2; exit 1; }
done
"$top/scripts/wine-prefix.sh" "$build" "$arch" up

# The data folder, in the Wine user's profile as a real profile would be;
# nothing outside it is ever removed.
"$QM_WINE" cmd.exe /c 'echo %USERPROFILE%' >"$QM_BUILD_DIR/engine-bench.path" 2>/dev/null </dev/null
profile=$(tr -d '\r\n' <"$QM_BUILD_DIR/engine-bench.path")
win="$profile\\QmEngineBench"
"$QM_WINE" winepath.exe -u "$win" >"$QM_BUILD_DIR/engine-bench.path" 2>/dev/null </dev/null
work=$(realpath -m "$(tr -d '\r\n' <"$QM_BUILD_DIR/engine-bench.path")")
rm -f "$QM_BUILD_DIR/engine-bench.path"
case "$work" in
  "$(realpath "$WINEPREFIX")"/*/QmEngineBench) ;;
  *) echo "engine_bench: '$win' is not inside the Wine prefix ($work)" >&2; exit 1 ;;
esac

deselected="" installed=""
cleanup() {
  set +e
  mkdir -p "$work/temp"  # the bench program keeps its log there
  [ -z "$deselected" ] || "$QM_WINE" "$engine" --temp "$win\\temp" forget-selection "$win\\startup\\backup.xml" \
    >/dev/null 2>&1 </dev/null
  [ -z "$installed" ] || "$QM_WINE" "$engine" --temp "$win\\temp" unmark-installed "$installed" \
    >/dev/null 2>&1 </dev/null
  "$QM_WINE" "$engine" --temp "$win\\temp" delete-registry >/dev/null 2>&1 </dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
rm -rf "$work"
mkdir -p "$work/temp" "$work/console" "$work/startup"

# One run of a bench program; its output lands in $work/out.
run() {  # <exe> <arguments...>
  local exe=$1
  shift
  if ! "$QM_WINE" "$exe" "$@" >"$work/raw" 2>&1 </dev/null; then
    tr -d '\r' <"$work/raw" >&2
    echo "engine_bench: '$(basename "$exe") $1' failed" >&2
    exit 1
  fi
  tr -d '\r' <"$work/raw" >"$work/out"
}
eb() { run "$engine" --temp "$win\\temp" "$@"; }
sb() { run "$storage" "$@"; }
# value <line tag> <key>: a figure from the last output.
value() { sed -n "s/^$1 .*\b$2=\([0-9.]*\).*/\1/p" "$work/out" | tail -n 1; }
# A run may succeed and still log a failed item: that run doesn't count.
log_clean() {
  local log="$work/temp/QMARK.log"
  if [ -f "$log" ] && grep -q 'rror' "$log"; then
    tr -d '\r' <"$log" | grep -B2 -A3 'rror' | head -n 30 >&2
    echo "engine_bench: the $1 logged errors" >&2
    exit 1
  fi
  rm -f "$log"
}
verify_tree() {  # <Windows path relative to the data folder>
  sb verify "$win\\reference" "$win\\$1"
  grep -q '^verify ok' "$work/out" || { cat "$work/out" >&2; exit 1; }
}
verify_registry() {
  eb check-registry "$values" "$profile"
  grep -q '^check ok' "$work/out" || { cat "$work/out" >&2; exit 1; }
}
# A set holds the tree in its folder entry's item folder and the registry
# entry's file.
verify_set() {  # <set folder name>
  verify_tree "$1\\Profile folder\\tree"
  [ -s "$work/$1/Registry/Profile settings.xml" ] || { echo "engine_bench: $1 has no registry file" >&2; exit 1; }
}
# The profile gone, as on a new computer, before each restore.
wipe_profile() {
  eb delete-registry
  rm -rf "$work/profile"
}
fresh() {
  rm -rf "$@"
  sync
}
lowest() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
# The console program takes a blank in a path as "%20".
blanks() { printf '%s' "${1// /%20}"; }

echo "engine benchmark: generating a $size MB tree and $values registry values ..."
sb generate "$win\\profile" "$size"
files=$(value tree files) folders=$(value tree folders)
# The generated tree stays as it is for checking every copy and restore.
cp -a "$work/profile" "$work/reference"
eb delete-registry
eb fill-registry "$values" "$profile"
keys=$(value registry keys)
eb catalogue "$win\\console\\backup.xml" "$win\\profile"
catalogue="$win\\console\\backup.xml"
eb mark-installed
installed=$(sed -n 's/^installed created=//p' "$work/out")

declare -A best folder_part settings_part prepare_part
keep_raw() {  # <name>: from a storage_bench result
  best[$1]=$(lowest "${best[$1]:-}" "$(value result seconds)")
}
keep_engine() {  # <name>: from an engine_bench result, with the split of the fastest run
  local seconds
  seconds=$(value result seconds)
  if [ "$(lowest "${best[$1]:-}" "$seconds")" = "$seconds" ]; then
    best[$1]=$seconds
    folder_part[$1]=$(value result folder)
    settings_part[$1]=$(value result settings)
    prepare_part[$1]=$(value result prepare)
  fi
}
keep_wall() { best[$1]=$(lowest "${best[$1]:-}" "$(value wall seconds)"); }
keep_time() { best[$1]=$(lowest "${best[$1]:-}" "$2"); }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

# The storage operations alone, each time beside the run it is held
# against: <tag> names that run, and the fastest of its own turns counts.
# They read the untouched copy of the tree, which no restore wipes; the
# copies are checked the first time only. Like the runs they are held
# against, each first removes what the one before it wrote.
declare -A checked
raw_copy() {  # <tag>
  fresh "$work/raw-copy"
  sb copy "$win\\reference" "$win\\raw-copy"
  keep_raw "raw_copy_$1"
  [ -n "${checked[copy]:-}" ] || verify_tree raw-copy
  checked[copy]=yes
}
raw_pack() {  # <tag>
  fresh "$work/raw.zip"
  sb pack "$win\\reference" "$win\\raw.zip"
  keep_raw "raw_pack_$1"
}
raw_unpack() {  # <tag>
  fresh "$work/raw-unpack"
  sb unpack "$win\\raw.zip" "$win\\raw-unpack"
  keep_raw "raw_unpack_$1"
  [ -n "${checked[unpack]:-}" ] || verify_tree raw-unpack
  checked[unpack]=yes
}
engine_backup() {  # <plain|packed>
  fresh "$work/set-$1"
  eb backup "$catalogue" "$win\\set-$1" "$1"
  log_clean "engine's $1 backup"
  keep_engine "backup_$1"
}
engine_restore() {  # <plain|packed>
  wipe_profile
  sync
  eb restore "$win\\set-$1"
  log_clean "engine's $1 restore"
  keep_engine "restore_$1"
  verify_tree profile
  verify_registry
}
console() {  # <name> <arguments of backupcmd...>
  local name=$1
  shift
  eb timed "$win\\console" backupcmd.exe "$@"
  log_clean "console's ${name//_/ }"
  keep_wall "$name"
}
console_backup() {  # <plain|packed>
  fresh "$work/con-$1"
  if [ "$1" = packed ]; then
    console "console_backup_packed" /b "$(blanks "$win\\con-packed")" /c:6 /y
    [ -s "$work/con-packed/restore.zip" ] || { echo "engine_bench: the console made no archive" >&2; exit 1; }
  else
    console "console_backup_plain" /b "$(blanks "$win\\con-plain")" /y
    verify_set con-plain
  fi
}
console_restore() {  # <plain|packed>
  wipe_profile
  sync
  console "console_restore_$1" /r "$(blanks "$win\\con-$1")" /y
  verify_tree profile
  verify_registry
}

# The console program's peers, each beside the console run it is held
# against and reading what that run reads: the profile for a backup, the
# console's set for a restore. Each writes a folder of its own, checked the
# first time, and removes it when done.
#
# copy_peer <key> <folder> <program> [arguments...]: a copy inside Wine into
# the folder, named last on its command line.
copy_peer() {
  local key=$1 folder=$2
  shift 2
  fresh "$work/$folder"
  eb timed "$win\\console" "$@" "$win\\$folder"
  keep_wall "$key"
  [ -n "${checked[$key]:-}" ] || verify_tree "$folder"
  checked[$key]=yes
  rm -rf "$work/$folder"
}
floor_backup() { copy_peer floor_backup floor-backup floor_copy.exe "$win\\profile"; }
xcopy_backup() { copy_peer xcopy_backup xcopy-backup xcopy.exe /E /I /Q /Y "$win\\profile"; }
zip_backup() {
  fresh "$work/zip-backup.zip"
  local start
  start=$(now)
  (cd "$work/profile" && zip -r -6 -q "$work/zip-backup.zip" .)
  keep_time zip_backup "$(since "$start")"
  if [ -z "${checked[zip_backup]:-}" ]; then
    unzip -tqq "$work/zip-backup.zip"
    local stored
    stored=$(unzip -Z1 "$work/zip-backup.zip" | grep -vc '/$' || true)
    [ "$stored" = "$files" ] || { echo "engine_bench: zip stored $stored of $files files" >&2; exit 1; }
  fi
  checked[zip_backup]=yes
  rm -f "$work/zip-backup.zip"
}
floor_restore() {
  copy_peer floor_restore floor-restore floor_copy.exe "$win\\con-plain\\Profile folder\\tree"
}
unzip_restore() {
  fresh "$work/unzip-restore"
  local start status=0
  start=$(now)
  # The set's archive stores backslashes, which unzip converts with a warning (1).
  unzip -q -o "$work/con-packed/restore.zip" -d "$work/unzip-restore" 2>"$work/unzip.err" || status=$?
  keep_time unzip_restore "$(since "$start")"
  [ "$status" -le 1 ] || { cat "$work/unzip.err" >&2; exit 1; }
  [ -n "${checked[unzip_restore]:-}" ] || verify_tree "unzip-restore\\Profile folder\\tree"
  checked[unzip_restore]=yes
  rm -rf "$work/unzip-restore" "$work/unzip.err"
}
# One untimed read of what the next runs read, so that every run, the
# first too, finds it in the page cache.
warm() { find "$@" -type f -exec cat {} + >/dev/null; }

# Each group of operations runs in turns, in the opposite order every other
# run.
turns() {  # <operation>...
  local run i
  local operations=("$@")
  for ((run = 1; run <= runs; run++)); do
    if ((run % 2)); then
      for ((i = 0; i < ${#operations[@]}; i++)); do ${operations[i]}; done
    else
      for ((i = ${#operations[@]} - 1; i >= 0; i--)); do ${operations[i]}; done
    fi
  done
}

echo "  engine backup, unpacked and packed, beside copying and packing the tree ..."
turns "engine_backup plain" "raw_copy backup_plain"
verify_set set-plain
turns "engine_backup packed" "raw_pack backup_packed"
echo "  engine restore of both sets, beside copying and unpacking the tree ..."
turns "engine_restore plain" "raw_copy restore_plain"
turns "engine_restore packed" "raw_unpack restore_packed"
registry_file=$(stat -c %s "$work/set-plain/Registry/Profile settings.xml")
set_zip=$(stat -c %s "$work/set-packed/restore.zip") raw_zip=$(stat -c %s "$work/raw.zip")

echo "  console program: backup and restore as whole processes, beside the same storage operations"
echo "  and the peers (floor copy, xcopy, zip, unzip) ..."
warm "$work/profile" "$work/reference"
turns "console_backup plain" "raw_copy console_backup_plain" floor_backup xcopy_backup
turns "console_backup packed" "raw_pack console_backup_packed" zip_backup
warm "$work/con-plain" "$work/reference"
turns "console_restore plain" "raw_copy console_restore_plain" floor_restore
warm "$work/con-packed" "$work/raw.zip"
turns "console_restore packed" "raw_unpack console_restore_packed" unzip_restore
rm -rf "$work/set-plain" "$work/set-packed" "$work/con-plain" "$work/con-packed" "$work/raw.zip" \
  "$work/raw-copy" "$work/raw-unpack"

echo "  console program start-up with $entries entries, none selected, beside reg.exe ..."
eb startup-catalogue "$win\\startup\\backup.xml" "$entries"
eb selection-free "$win\\startup\\backup.xml"
deselected=yes
eb deselect "$win\\startup\\backup.xml"
first_entry=$(sed -n 's/^deselected .*first=//p' "$work/out")
startup_runs=$((runs > 5 ? runs : 5))
for ((run = 1; run <= startup_runs; run++)); do
  fresh "$work/startup-set"
  eb timed "$win\\startup" backupcmd.exe /b "$(blanks "$win\\startup-set")" /y
  # Nothing was selected, so nothing may have been backed up.
  if grep -q '^Program ' "$work/out" || [ -n "$(ls "$work/startup-set/Registry")" ]; then
    cat "$work/out" >&2
    echo "engine_bench: the start-up run backed up entries that were not selected" >&2
    exit 1
  fi
  log_clean "console's start-up run"
  keep_wall startup_ours
  eb timed "$win\\startup" reg.exe query "HKCU\\Software\\Tervane\\Quillmark" /v "$first_entry"
  grep -q "$first_entry" "$work/out" || { cat "$work/out" >&2; exit 1; }
  keep_wall startup_reg
done

# ---------------------------------------------------------------- report
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
over() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.1f %%", (a / b - 1) * 100 }'; }
share() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f %%", a / b * 100 }'; }
met() { awk -v a="$1" -v b="$2" -v goal="$3" 'BEGIN { print (a / b - 1 < goal) ? "met" : "MISSED" }'; }
engine_line() {  # <engine figure> <raw figure> <label> <raw label>
  local e=${best[$1]} r=${best[$2]}
  printf "  %-15s %8.3f s   %-16s %8.3f s   overhead %8s (goal < 10 %%: %s)\n" "$3" "$e" "$4" "$r" \
    "$(over "$e" "$r")" "$(met "$e" "$r" 0.10)"
  printf "  %-15s folder entry %.3f s (%s over %s), registry entry and settings files %.3f s" "" \
    "${folder_part[$1]}" "$(over "${folder_part[$1]}" "$r")" "$4" "${settings_part[$1]}"
  if [ "${prepare_part[$1]}" != "0.000" ]; then printf " + %.3f s unpacking them first" "${prepare_part[$1]}"; fi
  local registry
  registry=$(awk -v a="${settings_part[$1]}" -v b="${prepare_part[$1]}" 'BEGIN { print a + b }')
  printf "\n  %-15s registry share %s of the engine's time\n" "" "$(share "$registry" "$e")"
}
console_line() {  # <console figure> <engine figure> <raw figure> <label> <raw label>
  local c=${best[$1]} e=${best[$2]} r=${best[$3]}
  printf "  %-22s %8.3f s   %-16s %8.3f s   ratio %.2f (%s); in-process engine %.3f s, ratio %.2f\n" \
    "$4" "$c" "$5" "$r" "$(awk -v a="$c" -v b="$r" 'BEGIN { print a / b }')" "$(over "$c" "$r")" "$e" \
    "$(awk -v a="$c" -v b="$e" 'BEGIN { print a / b }')"
}

echo
echo "engine benchmark: a profile of $files files in $folders folders ($size MB) and $values registry values"
echo "in $keys keys (registry file $(mb "$registry_file") MB); fastest of $runs runs; each operation in a"
echo "process of its own, timed inside it"
echo "overhead = engine time / storage time - 1 (the engine also exports or imports the registry)"
engine_line backup_plain raw_copy_backup_plain "backup" "CopyFolderTree"
engine_line backup_packed raw_pack_backup_packed "backup packed" "AddFolder pack"
engine_line restore_plain raw_copy_restore_plain "restore" "CopyFolderTree"
engine_line restore_packed raw_unpack_restore_packed "restore packed" "UnpackFolder"
echo "  archives: the set's $(mb "$set_zip") MB, the tree's alone $(mb "$raw_zip") MB"
echo
echo "console program, whole processes under Wine (start-up, catalogue, selection, run, exit):"
console_line console_backup_plain backup_plain raw_copy_console_backup_plain "backupcmd /b /y" "CopyFolderTree"
console_line console_backup_packed backup_packed raw_pack_console_backup_packed "backupcmd /b /c:6 /y" "AddFolder pack"
console_line console_restore_plain restore_plain raw_copy_console_restore_plain "backupcmd /r /y" "CopyFolderTree"
console_line console_restore_packed restore_packed raw_unpack_console_restore_packed "backupcmd /r /y packed" \
  "UnpackFolder"
echo
echo "start-up, whole processes, fastest of $startup_runs:"
printf "  backupcmd /b /y, %d entries none selected %8.3f s   reg.exe query of one value %8.3f s   ratio %.2f\n" \
  "$entries" "${best[startup_ours]}" "${best[startup_reg]}" \
  "$(awk -v a="${best[startup_ours]}" -v b="${best[startup_reg]}" 'BEGIN { print a / b }')"

echo
echo "console program against its peers on the same profile, fastest of $runs runs, page cache warm:"
peer_row() {  # <operation> <peer label> <peer figure> <console figure>
  local peer=${best[$3]} ours=${best[$4]}
  printf "%-18s %-15s %-8.2f %-8.2f %.2f\n" "$1" "$2" "$peer" "$ours" \
    "$(awk -v a="$ours" -v b="$peer" 'BEGIN { print a / b }')"
}
printf "%-18s %-15s %-8s %-8s %s\n" operation peer "peer s" "ours s" "ratio (ours/peer)"
peer_row "unpacked backup" "floor copy" floor_backup console_backup_plain
peer_row "unpacked backup" "xcopy" xcopy_backup console_backup_plain
peer_row "packed backup" "zip -6" zip_backup console_backup_packed
peer_row "unpacked restore" "floor copy" floor_restore console_restore_plain
peer_row "packed restore" "unzip" unzip_restore console_restore_packed
echo "ours: backupcmd /b /y, /b /c:6 /y and /r /y of each set, whole processes under Wine; floor copy"
echo "(bench/floor_copy: FindFirstFileA walk, 1 MiB ReadFile/WriteFile blocks, nothing else) and"
echo "xcopy /E /I /Q /Y timed the same way; zip -r -6 -q and unzip -q -o natively on the same files"
