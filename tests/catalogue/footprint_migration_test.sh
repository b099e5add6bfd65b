#!/usr/bin/env bash
# Every program of the shipped catalogue moved to a new computer: each
# program's footprint (tests/catalogue/footprints, one file per program) is
# laid down on computer A as the program would write it, backed up with
# backupcmd and the shipped backup.xml, and restored on computer B, whose
# application data, documents, start menu and program folders lie elsewhere
# and where only the programs' installers have run. Then every setting must
# be on B, and every value B's installers wrote must still be B's own; and
# Wine's own Notepad, WordPad, Minesweeper and Registry Editor, started and
# closed on B, must keep what was restored.
#   footprint_migration_test.sh <build-dir> <win32|win64>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
build=$(cd "$1" && pwd)
arch=$2
root="$build/footprints"
rm -rf "$root/sets" "$root/expected.txt"
mkdir -p "$root/a" "$root/b" "$root/sets"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
probe=$(winpath "$build/bin/footprint_probe.exe")
prints=$(winpath "$here/footprints")
# The programs run from the programs' folder, where the shipped catalogue lies.
program_folder="$build/bin"
. "$here/../support/two_computers.sh"

for computer in a b; do
  "$scripts/wine-prefix.sh" "$root/$computer" "$arch" fresh "$build"
  on $computer reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null
done

# B keeps its application data, documents and start menu elsewhere.
usf='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
mkdir -p "$(drive a)/Documents A" "$(drive b)/Roaming B" "$(drive b)/Documents B" "$(drive b)/Start B/Programs"
on a reg add "$usf" /v Personal /t REG_EXPAND_SZ /d 'C:\Documents A' /f >/dev/null
on b reg add "$usf" /v AppData /t REG_EXPAND_SZ /d 'C:\Roaming B' /f >/dev/null
on b reg add "$usf" /v Personal /t REG_EXPAND_SZ /d 'C:\Documents B' /f >/dev/null
on b reg add "$usf" /v Programs /t REG_EXPAND_SZ /d 'C:\Start B\Programs' /f >/dev/null

# What a computer finds before any program is installed: the parts of
# Windows only.
detect() { on "$1" "$probe" detect backup.xml; }
fresh=$(detect b)
entries() { sed -n 's/^entry //p' "$here"/footprints/*.txt | tr -d '\r' | sort -u; }
installs() { grep -l '^installed ' "$here"/footprints/*.txt | xargs sed -n 's/^entry //p' | tr -d '\r' | sort -u; }
is_valid() { grep -qxF "$(printf 'valid\t%s' "$2")" < <(cut -f1,2 <<<"$1"); }

on a "$probe" lay "$prints" all 'C:\Program Files' || check "footprints laid on A" false
on b "$probe" lay "$prints" installed 'C:\Apps B' || check "installers' footprints laid on B" false
# B's expectations are taken before the restore, with B's own folders.
on b "$probe" expect "$prints" 'C:\Apps B' "$(winpath "$root/expected.txt")" || check "expectations on B" false
found_a=$(detect a)
found_b=$(detect b)
while IFS= read -r entry; do
  check "A finds $entry" is_valid "$found_a" "$entry"
  check "B finds $entry once it is installed" is_valid "$found_b" "$entry"
done < <(entries)
while IFS= read -r entry; do
  check "a computer without it doesn't offer $entry" bash -c '! grep -qxF "$1" < <(cut -f1,2 <<<"$0")' \
    "$fresh" "$(printf 'valid\t%s' "$entry")"
done < <(installs)

set_win="$(winpath "$root/sets")\\Moved"
out=$(on a backupcmd.exe /b "$set_win" /c: /y)
echo "$out" >"$root/backup-output.txt"
check "backup on A succeeded" [ -s "$root/sets/Moved/restore.zip" ]
check "backup on A reports no error ($(grep -i error <<<"$out" | head -n 3))" bash -c '! grep -qi "error" <<<"$0"' "$out"
out=$(on b backupcmd.exe /r "$set_win" /y)
echo "$out" >"$root/restore-output.txt"
check "restore on B reports no error ($(grep -i error <<<"$out" | head -n 3))" bash -c '! grep -qi "error" <<<"$0"' "$out"
check "B misses no program of the set ($(grep -A3 'not found' <<<"$out" | head -n 4))" \
  bash -c '! grep -q "were not found" <<<"$0"' "$out"

report=$(on b "$probe" check "$(winpath "$root/expected.txt")")
grep '^FAILED' <<<"$report"

# Wine's own programs on the new computer, drawing on a virtual screen. One
# virtual screen starts at a time: the windowed tests share the lock.
on b reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null
"$scripts/wine-prefix.sh" "$root/b" "$arch" down
check "Wine's programs keep the restored settings" flock "$build/wineprefix-x.lock" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$here/real_programs.sh" "$build" "$arch" "$root/b" "$root/expected.txt"
proven=$(grep -c '^proven: ' <<<"$report")

# Every program the catalogue ships has a footprint that proves it.
shipped=$(cut -f2 <<<"$found_a" | grep -v '\\' | sort -u)
unproven=$(comm -23 <(echo "$shipped") <(sed -n 's/^proven: \([^\\]*\).*/\1/p' <<<"$report" | sort -u))
check "every program shipped is proven (not: $(echo $unproven))" [ -z "$unproven" ]
programs=$(echo "$shipped" | grep -c .)
# Entries with items of their own; cookies and history can't be laid down
# under Wine, whose URL cache lists no cookie and whose history keeps nothing.
with_items=$(awk -F'\t' '$3 > 0 {print $2}' <<<"$found_a" | sort -u)
entries_proven=$(comm -12 <(echo "$with_items") <(sed -n 's/^proven: //p' <<<"$report" | sort -u) | grep -c .)
echo "entries proven: $entries_proven of $(echo "$with_items" | grep -c .) shipped with items;" \
  "programs proven: $((programs - $(echo -n "$unproven" | grep -c .))) of $programs"
echo "footprint migration: $passes checks passed, $failures failed"
[ "$failures" -eq 0 ] && ! grep -q '^FAILED' <<<"$report"
