#!/usr/bin/env bash
# Interoperability of the ZIP module with the common unpackers and packers:
# archives written with ziptool (every level, with and without a password,
# names with backslashes and with slashes) must test and unpack cleanly with
# Info-ZIP unzip, 7z and miniunzip; archives made by zip, 7z and minizip must
# unpack with ziptool to the original bytes.
#   zip_interop_test.sh PATH_TO_ZIPTOOL
# Debian's minizip tools are built without encryption, so they take part
# only without a password.
set -u
tool=${1:?usage: zip_interop_test.sh PATH_TO_ZIPTOOL}
for program in zip unzip 7z minizip miniunzip; do
  command -v "$program" >/dev/null || { echo "missing $program (scripts/install-deps.sh)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-zip-interop.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Originals: compressible text, random bytes, an empty file, one in a folder.
src=$work/src
mkdir -p "$src/docs/deep" "$src/empty folder"
for i in $(seq 1 3000); do echo "line $i of the quill mark interop sample"; done >"$src/text.txt"
head -c 200000 /dev/urandom >"$src/random.bin"
: >"$src/empty.txt"
printf 'nested\r\n' >"$src/docs/deep/nested.txt"
files=(text.txt random.bin empty.txt docs/deep/nested.txt)

# The extracted file for an entry name, wherever the unpacker put it: in
# folders, or (for backslash names on this host) as one literal name.
same_as_original() { # dir entry-name original-relative-path
  local dir=$1 name=$2 original=$3 slashed=${2//\\//}
  if [ -f "$dir/$slashed" ]; then
    cmp -s "$dir/$slashed" "$src/$original"
  else
    cmp -s "$dir/$name" "$src/$original"
  fi
}

# unzip exits with 1 for warnings; backslash separators draw one. Accept
# that status only when the backslash warning is the only one.
unzip_ok() { # status output-file
  local status=$1 output=$2
  [ "$status" -eq 0 ] && return 0
  [ "$status" -eq 1 ] || return 1
  grep -qi 'backslash' "$output" || return 1
  ! grep -i -e 'warning' -e 'error' "$output" | grep -qvi -e 'backslash' -e 'No errors detected'
}

# ---------------------------------------------------------------- ours → theirs
# One archive of ours through unzip, 7z and (without a password) miniunzip.
check_theirs() { # level[:piece] password separator
  local level=$1 password=$2 separator=$3
  local label="level $level, password $password, separator $separator"
  local archive=$work/ours.zip f
  rm -f "$archive"
  local args=()
  for f in "${files[@]}"; do args+=("Set${separator}${f//\//$separator}" "$src/$f"); done
  "$tool" create "$archive" "$level" "$password" "${args[@]}" || { fail "ziptool create ($label)"; return; }
  local pass=()
  [ "$password" != - ] && pass=(-P "$password")

  local out=$work/unzip.txt
  unzip -t "${pass[@]}" "$archive" >"$out" 2>&1
  unzip_ok $? "$out" || { fail "unzip -t ($label)"; cat "$out"; }
  rm -rf "$work/x"
  unzip -q -o "${pass[@]}" "$archive" -d "$work/x" >"$out" 2>&1
  unzip_ok $? "$out" || { fail "unzip extract ($label)"; cat "$out"; }
  for f in "${files[@]}"; do
    same_as_original "$work/x" "Set/$f" "$f" || fail "unzip content of $f ($label)"
  done

  local seven=()
  [ "$password" != - ] && seven=("-p$password")
  7z t "${seven[@]}" "$archive" >"$out" 2>&1 || { fail "7z t ($label)"; cat "$out"; }
  rm -rf "$work/x"
  7z x -y "${seven[@]}" "-o$work/x" "$archive" >"$out" 2>&1 || { fail "7z x ($label)"; cat "$out"; }
  for f in "${files[@]}"; do
    same_as_original "$work/x" "Set${separator}${f//\//$separator}" "$f" || fail "7z content of $f ($label)"
  done

  if [ "$password" = - ]; then
    rm -rf "$work/x" && mkdir "$work/x"
    (cd "$work/x" && miniunzip -x -o "$archive") >"$out" 2>&1 || { fail "miniunzip ($label)"; cat "$out"; }
    grep -qi error "$out" && { fail "miniunzip reported an error ($label)"; cat "$out"; }
    for f in "${files[@]}"; do
      same_as_original "$work/x" "Set${separator}${f//\//$separator}" "$f" || fail "miniunzip content of $f ($label)"
    done
  fi
}

for level in 0 1 2 3 4 5 6 7 8 9; do
  for password in - 'Pa55 w0rd'; do
    for separator in '\' '/'; do
      check_theirs "$level" "$password" "$separator"
    done
  done
done
# Deflated in pieces, as the packer does with large files: odd piece sizes,
# pieces shorter than the 32 KiB history and longer.
for level in 0 1 6 9; do
  for piece in 7001 40000; do
    check_theirs "$level:$piece" - '\'
    check_theirs "$level:$piece" 'Pa55 w0rd' '/'
  done
done

# Appending keeps what was there, for the other tools too.
rm -f "$work/appended.zip"
"$tool" create "$work/appended.zip" 6 - 'one\text.txt' "$src/text.txt" &&
  "$tool" append "$work/appended.zip" 9 secret 'two\random.bin' "$src/random.bin" || fail "ziptool append"
unzip -t -P secret "$work/appended.zip" >"$work/unzip.txt" 2>&1
unzip_ok $? "$work/unzip.txt" || { fail "unzip -t of an appended archive"; cat "$work/unzip.txt"; }
7z t -psecret "$work/appended.zip" >/dev/null 2>&1 || fail "7z t of an appended archive"

# ---------------------------------------------------------------- theirs → ours
check_ours() { # label archive [password]
  local label=$1 archive=$2
  rm -rf "$work/y"
  if ! "$tool" extract "$archive" "$work/y" ${3:+"$3"}; then
    fail "ziptool extract of $label"
    return
  fi
  for f in "${files[@]}"; do
    cmp -s "$work/y/$f" "$src/$f" || fail "ziptool content of $f from $label"
  done
}

(cd "$src" && zip -q -r "$work/zip-r.zip" .) && check_ours "zip -r (with folder entries)" "$work/zip-r.zip"
"$tool" list "$work/zip-r.zip" | grep -q ' -D empty folder/$' || fail "folder entry from zip -r not listed as a folder"
[ -d "$work/y/empty folder" ] || fail "folder entry from zip -r not created"
(cd "$src" && zip -q -0 "$work/zip-0.zip" "${files[@]}") && check_ours "zip -0" "$work/zip-0.zip"
(cd "$src" && zip -q -9 -P 'zip pw' "$work/zip-p.zip" "${files[@]}") && check_ours "zip -P" "$work/zip-p.zip" 'zip pw'
"$tool" extract "$work/zip-p.zip" "$work/z" 'wrong pw' 2>/dev/null && fail "ziptool accepted a wrong password"
# From a pipe zip can't seek back, so it writes a data descriptor (bit 3).
rm -f "$work/zip-pipe.zip"
(cd "$src" && zip -q -P 'pipe pw' "$work/zip-pipe.zip" - <text.txt) || fail "zip from a pipe"
rm -rf "$work/y"
if "$tool" extract "$work/zip-pipe.zip" "$work/y" 'pipe pw'; then
  cmp -s "$work/y/-" "$src/text.txt" || fail "ziptool content from zip with a data descriptor"
else
  fail "ziptool extract of zip with a data descriptor"
fi

(cd "$src" && 7z a -tzip -mx9 "$work/7z-9.zip" "${files[@]}" >/dev/null) && check_ours "7z -mx9" "$work/7z-9.zip"
(cd "$src" && 7z a -tzip -mx0 "$work/7z-0.zip" "${files[@]}" >/dev/null) && check_ours "7z -mx0" "$work/7z-0.zip"
(cd "$src" && 7z a -tzip -mem=ZipCrypto '-p7z pw' "$work/7z-p.zip" "${files[@]}" >/dev/null) &&
  check_ours "7z ZipCrypto" "$work/7z-p.zip" '7z pw'

(cd "$src" && minizip -o -9 "$work/mz-9.zip" "${files[@]}" >/dev/null) && check_ours "minizip -9" "$work/mz-9.zip"
(cd "$src" && minizip -o -0 "$work/mz-0.zip" "${files[@]}" >/dev/null) && check_ours "minizip -0" "$work/mz-0.zip"

if [ "$failures" -ne 0 ]; then
  echo "$failures interoperability check(s) failed"
  exit 1
fi
echo "all interoperability checks passed"
