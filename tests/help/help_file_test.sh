#!/usr/bin/env bash
# The built help file is a whole HTML Help file of the project: every page,
# the contents and the index are inside, every link and contents or index
# entry leads to a page that is, and a page comes out as it was written.
#   help_file_test.sh <Quillmark.chm> <help source folder>
set -uo pipefail
chm=$1 src=$2
project="$src/Quillmark.hhp"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

listing=$(7z l -slt "$chm" 2>&1) || { echo "$listing"; echo "FAIL: 7z can't read $chm"; exit 1; }
grep -qx 'Type = Chm' <<<"$listing" || { echo "FAIL: $chm is not an HTML Help file"; exit 1; }
inside=$(sed -n 's/^Path = //p' <<<"$listing" | tr -d '\r')
has() { grep -qixF -- "$1" <<<"$inside"; }

option() { sed -n "s/^$1=\([^\r]*\)\r\{0,1\}\$/\1/p" "$project"; }
contents=$(option 'Contents file')
index=$(option 'Index file')
topic=$(option 'Default topic')

# What the project lists, and what it names in its options.
files=$(sed -n '/^\[FILES\]/,/^\[/{/^\[/d;/^[[:space:]]*$/d;p}' "$project" | tr -d '\r')
count=$(wc -w <<<"$files")
[ "$count" -ge 10 ] || fail "the project lists only $count files"
for name in $files "$contents" "$index" "$topic"; do
  has "$name" || fail "$name is not in the help file"
done

# Every contents and index entry and every link between the pages.
# The file names the pattern finds, up to any "#" anchor.
targets() { grep -oiE "$1" "$2" | sed 's/.*"//' | sort -u; }
for list in "$contents" "$index"; do
  for name in $(targets '<param name="Local" value="[^"#]+' "$src/$list"); do
    has "$name" || fail "$list leads to $name, which is not in the help file"
  done
done
for page in $(grep -iE '\.htm$' <<<"$files"); do
  for name in $(targets 'href="[^":#]+' "$src/$page"); do
    has "$name" || fail "$page links to $name, which is not in the help file"
  done
done

# A page read back from the file is the page as written.
if ! 7z e -so "$chm" "$topic" 2>/dev/null | cmp -s - "$src/$topic"; then
  fail "$topic read from the help file differs from its source"
fi

[ "$failures" -eq 0 ] && echo "help file: $count files, contents, index and links whole"
exit $((failures > 0))
