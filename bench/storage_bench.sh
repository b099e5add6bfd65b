#!/usr/bin/env bash
# Times copying, packing and unpacking a generated folder tree against the
# peers doing the same job on the same files, and prints the speed ratios
# (peer time / our time: 1 or more means at least as fast) with the peak
# memory of each operation, on the tree and on one large file.
#   storage_bench.sh <build-dir> <win32|win64> [--size MB] [--big MB] [--runs N]
# --size: the tree (default 500 MB); --big: the large file (default 1024 MB,
# 0 leaves it out); --runs: how often each side runs, the fastest counts
# (default 3).
# Copying races Wine's xcopy, both started as child processes inside Wine.
# Packing and unpacking race Info-ZIP zip and unzip, which run natively on
# the same files while ours pay for Wine's file I/O on top.
# The data lives in the build folder and is removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)

usage() {
  echo "usage: $0 <build-dir> <win32|win64> [--size MB] [--big MB] [--runs N]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
build=$1 arch=$2
shift 2
size=500 big=1024 runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=${2:-}; shift 2 ;;
    --big) big=${2:-}; shift 2 ;;
    --runs) runs=${2:-}; shift 2 ;;
    *) usage ;;
  esac
done
for number in "$size" "$big" "$runs"; do
  [[ "$number" =~ ^[0-9]+$ ]] || usage
done
[ "$size" -gt 0 ] && [ "$runs" -gt 0 ] || usage
for tool in zip unzip; do
  command -v "$tool" >/dev/null || { echo "storage_bench: $tool is not installed" >&2; exit 1; }
done

. "$top/scripts/wine-env.sh" "$build" "$arch"
exe="$QM_BUILD_DIR/bin/storage_bench.exe"
[ -f "$exe" ] || { echo "storage_bench: build the storage_bench target first" >&2; exit 1; }
work="$QM_BUILD_DIR/storage-bench"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
"$top/scripts/wine-prefix.sh" "$build" "$arch" up
# The same folder as the programs under Wine see it.
"$QM_WINE" winepath.exe -w "$work" >"$work/path" 2>/dev/null </dev/null
win=$(tr -d '\r\n' <"$work/path")
[ -n "$win" ] || { echo "storage_bench: winepath gave no Windows path for $work" >&2; exit 1; }

# One operation of the benchmark program; its output lands in $work/out.
op() {
  if ! "$top/scripts/wine-test.sh" "$build" "$arch" "$exe" "$@" >"$work/raw" 2>&1; then
    tr -d '\r' <"$work/raw" >&2
    echo "storage_bench: '$1' failed" >&2
    exit 1
  fi
  tr -d '\r' <"$work/raw" >"$work/out"
}
# value <line tag> <key>: a figure from the last output.
value() { sed -n "s/^$1 .*\b$2=\([0-9.]*\).*/\1/p" "$work/out" | tail -n 1; }
verify() {
  op verify "$win\\tree" "$win\\$1"
  grep -q '^verify ok' "$work/out" || { cat "$work/out" >&2; exit 1; }
}
# Every measurement starts from a missing target and nothing left to write back.
fresh() {
  rm -rf "$@"
  sync
}
now() { date +%s.%N; }
lowest() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
highest() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 > a + 0) ? b : a }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

echo "storage benchmark: generating a $size MB tree ..."
op generate "$win\\tree" "$size"
files=$(value tree files) folders=$(value tree folders) large=$(value tree large_bytes)

declare -A best peak_ws peak_private
keep_time() { best[$1]=$(lowest "${best[$1]:-}" "$2"); }
keep_memory() {
  peak_ws[$1]=$(highest "${peak_ws[$1]:-}" "$(value result peak_working_set)")
  peak_private[$1]=$(highest "${peak_private[$1]:-}" "$(value result peak_private)")
}

copy_ours() {
  fresh "$work/copy-ours"
  op timed-copy "$win\\tree" "$win\\copy-ours"
  keep_time copy_ours "$(value wall seconds)"
  keep_memory copy
  verify copy-ours
}
copy_peer() {
  fresh "$work/copy-xcopy"
  op timed-xcopy "$win\\tree" "$win\\copy-xcopy"
  keep_time copy_peer "$(value wall seconds)"
  verify copy-xcopy
}
pack_ours() {
  fresh "$work/ours.zip"
  op pack "$win\\tree" "$win\\ours.zip"
  keep_time pack_ours "$(value result seconds)"
  keep_memory pack
}
pack_peer() {
  fresh "$work/peer.zip"
  local start end
  start=$(now)
  (cd "$work/tree" && zip -r -6 -q "$work/peer.zip" .)
  end=$(now)
  keep_time pack_peer "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')"
  # Not a shortcut: every file went in and reads back.
  unzip -tqq "$work/peer.zip"
  local entries
  entries=$(unzip -Z1 "$work/peer.zip" | grep -vc '/$' || true)
  [ "$entries" = "$files" ] || { echo "storage_bench: zip stored $entries of $files files" >&2; exit 1; }
}
unpack_ours() {
  fresh "$work/unpack-ours"
  op unpack "$win\\ours.zip" "$win\\unpack-ours"
  keep_time unpack_ours "$(value result seconds)"
  keep_memory unpack
  verify unpack-ours
}
unpack_peer() {
  fresh "$work/unpack-unzip"
  local start end status=0
  start=$(now)
  # Our archives store backslashes, which unzip converts with a warning (1).
  unzip -q -o "$work/ours.zip" -d "$work/unpack-unzip" 2>"$work/unzip.err" || status=$?
  end=$(now)
  [ "$status" -le 1 ] || { cat "$work/unzip.err" >&2; exit 1; }
  keep_time unpack_peer "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')"
  verify unpack-unzip
}

# Each side goes first every other run.
for step in copy pack unpack; do
  echo "  $step ..."
  for ((run = 1; run <= runs; run++)); do
    if ((run % 2)); then "${step}_ours"; "${step}_peer"; else "${step}_peer"; "${step}_ours"; fi
  done
  # The copies aren't needed any more; the archives are, until the end.
  [ "$step" = copy ] && rm -rf "$work/copy-ours" "$work/copy-xcopy"
done
ours_zip=$(stat -c %s "$work/ours.zip") peer_zip=$(stat -c %s "$work/peer.zip")
rm -rf "$work/unpack-ours" "$work/unpack-unzip"

declare -A big_time big_ws big_private
if [ "$big" -gt 0 ]; then
  echo "  one $big MB file ..."
  rm -rf "$work/tree" "$work/ours.zip" "$work/peer.zip"
  op bigfile "$win\\big" "$big"
  big_op() {  # <step> <operation> <source> <target>
    sync
    op "$2" "$win\\$3" "$win\\$4"
    big_time[$1]=$(value result seconds)
    big_ws[$1]=$(value result peak_working_set)
    big_private[$1]=$(value result peak_private)
  }
  big_verify() {
    op verify "$win\\big" "$win\\$1"
    grep -q '^verify ok' "$work/out" || { cat "$work/out" >&2; exit 1; }
    rm -rf "${work:?}/$1"
  }
  big_op copy copy big big-copy
  big_verify big-copy
  big_op pack pack big big.zip
  big_op unpack unpack big.zip big-unpacked
  big_verify big-unpacked
fi

ratio() { awk -v peer="$1" -v ours="$2" 'BEGIN { printf "%.2f", peer / ours }'; }
goal() { awk -v peer="$1" -v ours="$2" -v goal="$3" 'BEGIN { print (peer / ours >= goal) ? "met" : "MISSED" }'; }
line() {  # <step> <peer name> <goal>
  local ours=${best[$1_ours]} peer=${best[$1_peer]}
  printf "  %-7s ours %8.3f s   %-22s %8.3f s   speed ratio %s (goal %s: %s)\n" "$1" "$ours" "$2" "$peer" \
    "$(ratio "$peer" "$ours")" "$3" "$(goal "$peer" "$ours" "$3")"
}
echo
echo "storage benchmark: $files files in $folders folders, $size MB (six of $(mb "$large") MB each:" \
  "text, random bytes, mixed; the rest 1-64 KB); fastest of $runs runs"
echo "speed ratio = peer time / our time (1 or more: at least as fast)"
line copy "xcopy /E /I /Q /Y" 0.9
line pack "zip -r -6 -q" 0.85
line unpack "unzip -q -o" 0.85
echo "  archives: ours $(mb "$ours_zip") MB, zip's $(mb "$peer_zip") MB; both unpacked from ours and" \
  "checked against the tree"
echo "  copy: both sides timed as child processes inside Wine; pack and unpack: ours timed inside"
echo "  Wine, zip and unzip natively on the same files"
echo
echo "peak memory of each operation's process, MB (working set / private bytes; private bytes"
echo "sampled every 10 ms as well, since Wine reports the current figure as the peak):"
if [ "$big" -gt 0 ]; then
  printf "  %-7s %-22s %-22s %s\n" "" "tree of $size MB" "one file of $big MB" "our time on the file"
  for step in copy pack unpack; do
    printf "  %-7s %-22s %-22s %.3f s (%.0f MB/s)\n" "$step" \
      "$(mb "${peak_ws[$step]}") / $(mb "${peak_private[$step]}")" \
      "$(mb "${big_ws[$step]}") / $(mb "${big_private[$step]}")" "${big_time[$step]}" \
      "$(awk -v s="${big_time[$step]}" -v m="$big" 'BEGIN { print m / s }')"
  done
else
  for step in copy pack unpack; do
    printf "  %-7s %s / %s\n" "$step" "$(mb "${peak_ws[$step]}")" "$(mb "${peak_private[$step]}")"
  done
fi
