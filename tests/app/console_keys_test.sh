#!/usr/bin/env bash
# Console questions answered by single key presses in a real terminal
# (a tmux pane), as a person at the keyboard answers them.
#   console_keys_test.sh <build-dir> <win32|win64>
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
"$scripts/wine-prefix.sh" "$1" "$2" up
. "$scripts/wine-env.sh" "$1" "$2"
probe="$QM_BUILD_DIR/bin/ask_probe.exe"
socket="qm-keys-$$"
tm() { tmux -L "$socket" "$@"; }
trap 'tm kill-server 2>/dev/null || true' EXIT
failures=0
passes=0

wait_for() {  # wait_for <pattern>: until the pane shows it (20 s at most)
  for _ in $(seq 200); do
    if tm capture-pane -p -t q 2>/dev/null | grep -qE "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# start_pane [new-session options...] <command>: the pane "q" running the
# command. A terminal server that is just starting may go away on a busy
# machine ("server exited unexpectedly"); then it is started again.
start_pane() {
  local attempt
  for attempt in 1 2 3; do
    if tm new-session -d -s q -x 160 -y 20 "$@"; then return 0; fi
    sleep 1
  done
  return 1
}

# ask <probe arguments> <keys> <expected screen>: the keys are not echoed,
# so the screen holds only the question and the answer.
ask() {
  tm kill-session -t q 2>/dev/null || true
  start_pane \
    "env HOME='$HOME' WINEPREFIX='$WINEPREFIX' WINEARCH=$WINEARCH WINEDEBUG=-all WINELOADER='$WINELOADER' WINESERVER='$WINESERVER' WINEDLLOVERRIDES='$WINEDLLOVERRIDES' '$QM_WINE' '$probe' $1; echo END; sleep 60"
  local screen
  if wait_for 'Question\?|Overwrite\?'; then
    sleep 0.3
    tm send-keys -t q -l "$2"
    wait_for '^END' || true
  fi
  screen=$(tm capture-pane -p -t q | tr -d '\r' | sed -e 's/[[:space:]]*$//' | sed -e '/^$/d')
  if [ "$screen" = "$(printf '%s\nEND' "$3")" ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAILED: ask_probe %s, keys "%s": expected "%s", screen:\n%s\n' "$1" "$2" "$3" "$screen"
  fi
}

q="Question?"
ask yesno "xqY" "$(printf '%s\n([Y]es/[N]o)\nanswer=6' "$q")"
ask yesno "zn" "$(printf '%s\n([Y]es/[N]o)\nanswer=7' "$q")"
ask okcancel "Kc" "$(printf '%s\n([O]k/[C]ancel)\nanswer=2' "$q")"
ask ari "R" "$(printf '%s\n([A]bort/[R]etry/[I]gnore)\nanswer=4' "$q")"
ask notice "w" "$(printf '%s\nanswer=1' "$q")"
o="File C:\\data\\settings.ini already exists! Overwrite? ([Y]es/[N]o/Yes to [A]ll/No to A[l]l/[C]ancel)"
ask overwrite "qA" "$(printf '%s\nresult=1 answer=3' "$o")"
ask overwrite "C" "$(printf '%s\nresult=0 answer=0' "$o")"

# A packed restore over a changed file: the real console program asks, the
# key answers, and the file is back as it was saved.
dir="$WINEPREFIX/drive_c/qmkeys"
rm -rf "$dir"
mkdir -p "$dir/data"
printf '<catalogue>\r\n<backup name="Keys">\r\n <item path="C:\\qmkeys\\data\\*"/>\r\n</backup>\r\n</catalogue>\r\n' >"$dir/backup.xml"
printf 'saved' >"$dir/data/a.txt"
"$QM_WINE" reg add 'HKCU\Software\Tervane\Quillmark' /f >/dev/null 2>&1
(cd "$dir" && "$QM_WINE" "$QM_BUILD_DIR/bin/backupcmd.exe" /b 'C:\qmkeys\set' /c: /y >/dev/null 2>&1 </dev/null)
printf 'changed' >"$dir/data/a.txt"
tm kill-session -t q 2>/dev/null || true
start_pane -c "$dir" \
  "env HOME='$HOME' WINEPREFIX='$WINEPREFIX' WINEARCH=$WINEARCH WINEDEBUG=-all WINELOADER='$WINELOADER' WINESERVER='$WINESERVER' WINEDLLOVERRIDES='$WINEDLLOVERRIDES' '$QM_WINE' '$QM_BUILD_DIR/bin/backupcmd.exe' /r 'C:\qmkeys\set'; echo END; sleep 60"
if wait_for 'Overwrite\?'; then
  sleep 0.3
  tm send-keys -t q -l "y"
  wait_for '^END' || true
fi
screen=$(tm capture-pane -p -t q | tr -d '\r')
if [ "$(cat "$dir/data/a.txt")" = saved ] && grep -q 'a.txt already exists! Overwrite?' <<<"$screen" &&
  grep -q 'Restore finished' <<<"$screen"; then
  passes=$((passes + 1))
else
  failures=$((failures + 1))
  printf 'FAILED: restore answered from the keyboard; a.txt holds "%s", screen:\n%s\n' "$(cat "$dir/data/a.txt")" "$screen"
fi
rm -rf "$dir"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
