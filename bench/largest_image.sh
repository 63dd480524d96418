#!/usr/bin/env bash
# Builds the largest image the tool can make, every one of the 330000 blocks
# owned, and prints how long the build took and how much memory it used; then
# checks the image with vornel-inspect --check and compares it with the tree
# with --compare, beside the time of a plain read of the image.
# A benchmark, not a test: it prints figures and fails only when the build
# fails or the image does not check out.
#
# The tree, with default options (three avatars per directory):
#   head            224 blocks: blocks 1 to 224, before the label's copy
#   d0 .. d6        each with e0 .. e7: 64 one-block directories, which take
#                   the last 3 x 64 blocks of the pool
#   d*/e*/f0..f19   1120 files of 294 or 295 blocks, from block 226 on
#   d*/e*/empty     an empty file in every leaf directory
# Files are sparse: each holds its own path and a line feed at its start,
# and zeros after that.
#
# Usage: bench/largest_image.sh [build folder]   (default: build-bench)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}

echo "== building the tool in $build"
# A new folder gets a Release build; an existing one keeps its own settings.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target vornel vornel-inspect >/dev/null

if [ ! -x /usr/bin/time ]; then
  echo "== installing time"
  apt-get update >/dev/null && apt-get install -y time >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/src

echo "== creating the tree in $src"
mkdir "$src"
make_file() {  # path relative to src, size in bytes
  printf '%s\n' "$1" >"$src/$1"
  truncate -s "$2" "$src/$1"
}
make_file head $((224 * 2048))
files=1
blocks=224
n=0
for d in 0 1 2 3 4 5 6; do
  mkdir "$src/d$d"
  for e in 0 1 2 3 4 5 6 7; do
    mkdir "$src/d$d/e$e"
    : >"$src/d$d/e$e/empty"
    for f in $(seq 0 19); do
      # 329582 blocks over 1120 files: 294 each, one more for the first 302.
      b=$((n < 302 ? 295 : 294))
      make_file "d$d/e$e/f$f" $((b * 2048 - n % 2048))
      blocks=$((blocks + b))
      files=$((files + 1))
      n=$((n + 1))
    done
  done
done
echo "files with data: $files, their blocks: $blocks, directories: 64 (root included)"
echo "source tree on disk: $(du -sh "$src" | cut -f1) (sparse), apparent size: $(du -sh --apparent-size "$src" | cut -f1)"

echo "== building the image"
image=$work/image.iso
status=0
/usr/bin/time -v "$build/vornel" -in "$src" -out "$image" >"$work/out.txt" 2>"$work/time.txt" || status=$?
if [ "$status" -ne 0 ]; then
  echo "the build failed with exit status $status:"
  tail -c 2000 "$work/out.txt"
  exit 1
fi
elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
user=$(sed -n 's/.*User time (seconds): //p' "$work/time.txt")
sys=$(sed -n 's/.*System time (seconds): //p' "$work/time.txt")
echo "elapsed: $elapsed (user ${user} s, system ${sys} s)"
echo "maximum resident set size: ${rss} KiB ($((rss / 1024)) MiB)"

size=$(stat -c %s "$image")
echo "image size: $size bytes"
if [ "$size" -ne 675840000 ]; then
  echo "expected 675840000 bytes"
  exit 1
fi

# Prints the elapsed time and the peak memory of a command: timed <name> <command...>
timed() {
  local name=$1
  shift
  local status=0
  /usr/bin/time -v "$@" >"$work/timed.out" 2>"$work/timed.time" || status=$?
  echo "$name: $(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/timed.time")," \
    "maximum resident set size $(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/timed.time") KiB"
  tail -n 3 "$work/timed.out"
  return "$status"
}

echo "== reading the image: a plain read, then the check, each from the page cache"
cat "$image" >/dev/null
timed "plain read (dd, 1 MiB reads)" dd if="$image" of=/dev/null bs=1M status=none
timed "vornel-inspect --check" "$build/vornel-inspect" --check "$image"
echo "== comparing the image with the tree"
timed "vornel-inspect --compare" "$build/vornel-inspect" --compare "$src" "$image"
