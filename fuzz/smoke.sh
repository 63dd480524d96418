#!/usr/bin/env bash
# Builds the fuzzers and runs each for a short, bounded time on a copy of
# its seed corpus, so the corpus in the repository is never modified. Fails
# (non-zero exit) when the build fails or a fuzzer reports a crash, a
# sanitizer error, a timeout or running out of memory.
#
# Usage: bash fuzz/smoke.sh [build folder]
#   The build folder defaults to build-fuzz; a relative one is taken from the
#   repository root. FUZZ_SECONDS (default 30) is each fuzzer's run time and
#   FUZZ_JOBS (default 2) the build's parallelism. Crashing inputs are kept in
#   <build folder>/fuzz-artifacts/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build-fuzz}"
case "$build" in
  /*) ;;
  *) build="$root/$build" ;;
esac
seconds="${FUZZ_SECONDS:-30}"
jobs="${FUZZ_JOBS:-2}"

fuzzer_runtime() {
  local lib
  lib="$(clang++ -print-file-name="libclang_rt.fuzzer-$(uname -m).a" 2>/dev/null || true)"
  [[ "$lib" == /* && -f "$lib" ]]
}

# A fresh Debian machine may lack clang or its libFuzzer runtime, which comes
# in a package of its own (libclang-rt-<version>-dev).
if ! command -v clang++ >/dev/null 2>&1 || ! fuzzer_runtime; then
  sudo=""
  if [[ "$(id -u)" != 0 ]] && command -v sudo >/dev/null 2>&1; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  if ! command -v clang++ >/dev/null 2>&1; then $sudo apt-get install -y clang; fi
  if ! fuzzer_runtime; then
    major="$(clang++ -dumpversion | cut -d. -f1)"
    $sudo apt-get install -y "libclang-rt-${major}-dev"
  fi
  if ! fuzzer_runtime; then
    echo "smoke.sh: clang's libFuzzer runtime is still missing" >&2
    exit 1
  fi
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVORNEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$jobs" --target placement_fuzzer image_fuzzer layout_fuzzer

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

# run <fuzzer> <seed corpus folder>
run() {
  local name="$1" seeds="$2"
  local binary="$build/fuzz/$name"
  mkdir -p "$work/$name"
  cp -R "$seeds/." "$work/$name/"
  echo "== $name: ${seconds}s on a copy of ${seeds#"$root"/}"
  if ! "$binary" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
    tail -n 80 "$work/$name.log"
    echo "smoke.sh: $name failed; the input is in $artifacts/" >&2
    return 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::new_units_added' "$work/$name.log" || true
}

status=0
run placement_fuzzer "$root/tree/fuzz_corpus/placement" || status=1
run image_fuzzer "$root/image/fuzz_corpus" || status=1
run layout_fuzzer "$root/layout/fuzz_corpus" || status=1
exit "$status"
