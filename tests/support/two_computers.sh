# Sourced by the tests that move settings from computer A to computer B,
# Wine prefixes in "$root/a" and "$root/b": the checks they count, how they
# run a program on one of them, and stopping both servers at the end.
# Set scripts, root, arch and program_folder (the programs' current folder)
# first.
. "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
# on <a|b> <windows program> [args...]: runs it on that computer, output to stdout.
on() {
  local computer=$1
  shift
  "$scripts/on-computer.sh" "$root/$computer" "$arch" "$program_folder" "$@"
}
drive() { echo "$root/$1/wineprefix/drive_c"; }
cleanup() {
  "$scripts/wine-prefix.sh" "$root/a" "$arch" down
  "$scripts/wine-prefix.sh" "$root/b" "$arch" down
}
trap cleanup EXIT
