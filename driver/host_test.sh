#!/bin/bash
# The built program on the real host, for what only the host shows: an image
# streamed into a FIFO or a pipe is byte for byte the image a regular file
# gets; new outputs get 0666 less the umask; a second build into the source
# tree gives the first one's image; host failures say why on standard error.
# Usage: host_test.sh VORNEL EXAMPLE_TREE
set -u
vornel=$1
example=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...
  if ! "${@:2}"; then
    echo "FAILED: $1" >&2
    failures=$((failures + 1))
  fi
}

# A tree with system files, placement files, several avatars and an empty file.
tree=$work/tree
mkdir -p "$tree/sub/deeper"
head -c 1000 /dev/urandom >"$tree/rom_tags"
head -c 8192 /dev/urandom >"$tree/sub/boot_code"
head -c 70000 /dev/urandom >"$tree/sub/movie.str"
echo "400 700 900" >"$tree/sub/#movie.str"
: >"$tree/sub/deeper/empty"
echo "hello" >"$tree/sub/deeper/hello.txt"

for source in "$example" "$tree"; do
  "$vornel" -q -da 2 -in "$source" -out "$work/file.iso" || check "build into a file from $source" false
  "$vornel" -q -da 2 -in "$source" -out - | cat >"$work/pipe.iso"
  check "-out - into a pipe gives the file's bytes ($source)" cmp -s "$work/file.iso" "$work/pipe.iso"
  mkfifo "$work/fifo"
  timeout 60 cat "$work/fifo" >"$work/fifo.iso" &
  reader=$!
  # The reader ends either way: after a failure, the FIFO is opened once
  # more (not waiting for long, as the reader may have ended already).
  "$vornel" -q -da 2 -in "$source" -out "$work/fifo" || timeout 5 sh -c ': >"$1"' sh "$work/fifo" || :
  wait "$reader"
  check "a FIFO read by another process gets the file's bytes ($source)" cmp -s "$work/file.iso" "$work/fifo.iso"
  check "the FIFO is still a FIFO" test -p "$work/fifo"
  rm -f "$work/fifo" "$work/pipe.iso" "$work/fifo.iso"
done

for mask in 022 077; do
  rm -f "$work/new.iso"
  (umask $mask && "$vornel" -q -in "$example" -out "$work/new.iso")
  want=$(printf '%o' $((0666 & ~0$mask)))
  check "a new output under umask $mask has mode $want" test "$(stat -c %a "$work/new.iso")" = "$want"
done
chmod 0640 "$work/new.iso"
"$vornel" -q -in "$example" -out "$work/new.iso"
check "a replaced output keeps its mode" test "$(stat -c %a "$work/new.iso")" = 640

"$vornel" -q -in "$tree" -out "$tree/sub/game.iso" && cp "$tree/sub/game.iso" "$work/first.iso"
"$vornel" -in "$tree" -out "$tree/sub/game.iso" >/dev/null 2>"$work/second.err"
check "the second build into the tree gives the first one's image" cmp -s "$work/first.iso" "$tree/sub/game.iso"
check "the second build warns that it left the output out" \
  grep -q "^vornel: warning: left out .*game.iso" "$work/second.err"

"$vornel" -in "$example" -out "$work/nodir/g.iso" >"$work/out.txt" 2>"$work/err.txt"
check "a missing output folder fails with 255" test $? -eq 255
check "... its message on standard output" grep -q "Error create output file $work/nodir/g.iso$" "$work/out.txt"
check "... and the host's reason on standard error" grep -qx "vornel: .*[Nn]o such file.*" "$work/err.txt"
check "--version prints one line" test "$("$vornel" --version | head -1)" = "vornel 1.0"

exit $((failures != 0))
