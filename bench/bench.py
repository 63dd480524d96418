#!/usr/bin/env python3
"""Times the built vornel on four generated trees and prints figures.

A benchmark, not a test: it prints figures and fails only when a build fails
or an image does not match its source tree.

The trees, generated from a fixed seed and kept in the work folder, so that a
second run does not make them again:
  disc   2,000 files of mixed sizes (most small, a few of 50-100 MB) in 101
         directories, 650 MB, the system files present
  many   100,000 one-block files in 1,000 directories
  dirs   20,020 empty directories in a three-level tree
  holes  70,000 files of 4 blocks in 70 directories, with a 1-block boot_code
         and os_code, so that blocks 3 to 5 stay free: no file fits there

Each round builds the image and then lets `cat` copy the same source files
into one file. Per tree it prints the medians of the build's wall time, of the
copy, of the per-round ratio build / copy, of the scan, the layout stages and
the writer, and the highest peak resident memory of the rounds. The stage
times come from the status lines, which the program flushes as it prints
them, timestamped as they arrive through a pipe. Every image is checked once
its round is timed: against its source tree with vornel-inspect --compare
when the build folder has it, else whole with the image reader. Last,
bench/extreme_trees.py prints its lines and bench/largest_image.sh runs and
its peak memory is printed with the rest.

Usage: bench/bench.py [--build DIR] [--work DIR] [--rounds N]
                      [--holes-rounds N] [--trees disc,many,...] [--no-largest]
                      [--no-extreme]
"""

import argparse
import bisect
import fcntl
import itertools
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEED = 20261207
BLOCK = 2048
# Bumped whenever a tree's recipe changes, so that a cached tree is remade.
RECIPE = "1"


# ---------------------------------------------------------------- the trees

def write_file(path, size, pattern, rng):
    """Writes size bytes taken from pattern at a random offset: each file
    differs from the others without generating that many random bytes."""
    with open(path, "wb") as f:
        at = rng.randrange(len(pattern))
        left = size
        while left > 0:
            chunk = pattern[at:at + left]
            f.write(chunk)
            left -= len(chunk)
            at = 0


def make_disc(src, rng, pattern):
    # The system files at their fixed blocks, each small enough for its place.
    for name, size in (("rom_tags", 1000), ("boot_code", 4 * BLOCK), ("os_code", 60 * BLOCK),
                       ("misc_code", 150 * BLOCK), ("BannerScreen", 100000)):
        write_file(os.path.join(src, name), size, pattern, rng)
    dirs = [src]
    for d in range(100):
        path = os.path.join(src, "d%03d" % d)
        os.mkdir(path)
        dirs.append(path)
    total = 650_000_000 - (1000 + 214 * BLOCK + 100000)
    big = [rng.randint(50_000_000, 100_000_000) for _ in range(6)]
    rest = total - sum(big)
    # Log-uniform weights: most files small, some of a few MB.
    weights = [10 ** rng.uniform(0, 3.5) for _ in range(2000 - 5 - len(big))]
    scale = rest / sum(weights)
    sizes = big + [int(w * scale) for w in weights]
    rng.shuffle(sizes)
    for i, size in enumerate(sizes):
        write_file(os.path.join(rng.choice(dirs), "f%04d.bin" % i), size, pattern, rng)


def make_many(src, rng, pattern):
    for d in range(1000):
        path = os.path.join(src, "d%03d" % d)
        os.mkdir(path)
        for f in range(100):
            write_file(os.path.join(path, "f%03d" % f), rng.randint(1, BLOCK), pattern, rng)


def make_dirs(src, rng, pattern):
    for a in range(20):
        for b in range(20):
            for c in range(49):
                os.makedirs(os.path.join(src, "a%02d" % a, "b%02d" % b, "c%02d" % c))


def make_holes(src, rng, pattern):
    # One block each: blocks 3 to 5, between boot_code and os_code, stay free.
    write_file(os.path.join(src, "boot_code"), BLOCK, pattern, rng)
    write_file(os.path.join(src, "os_code"), BLOCK, pattern, rng)
    for d in range(70):
        path = os.path.join(src, "d%02d" % d)
        os.mkdir(path)
        for f in range(1000):
            write_file(os.path.join(path, "f%03d" % f), 3 * BLOCK + 1, pattern, rng)


TREES = {"disc": make_disc, "many": make_many, "dirs": make_dirs, "holes": make_holes}


def tree(work, name):
    """The source tree, made once and kept: a stamp marks a complete tree.
    A lock keeps two runs from making the same tree at once."""
    src = os.path.join(work, "trees", name)
    stamp = src + ".done"
    key = "%s %d" % (RECIPE, SEED)
    os.makedirs(os.path.dirname(src), exist_ok=True)
    with open(os.path.join(work, "trees.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (os.path.exists(stamp) and open(stamp).read() == key):
            generate(src, stamp, key, name)
    return src


def generate(src, stamp, key, name):
    print("== generating the tree %s in %s" % (name, src), flush=True)
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    rng = random.Random("%d %s" % (SEED, name))
    TREES[name](src, rng, rng.randbytes(1 << 20))
    with open(stamp, "w") as f:
        f.write(key)


def source_files(src):
    files = []
    for dirpath, _, names in os.walk(src):
        files.extend(os.path.relpath(os.path.join(dirpath, n), src) for n in names)
    files.sort()
    return files


# ---------------------------------------------------------------- one round

def stage_times(chunks):
    """Seconds per stage from the (arrival time, text) pieces of the output:
    the scan between its status line and its "Done.", the layout stages from
    there to "File system created successfully.", the writer between its
    status line and its "Done."."""
    text = "".join(piece for _, piece in chunks)
    ends = list(itertools.accumulate(len(piece) for _, piece in chunks))

    def arrival(offset):  # when the byte just before offset arrived
        return chunks[bisect.bisect_left(ends, offset)][0]

    def after(marker, at):  # the offset just past marker, searched from at
        found = text.find(marker, at) if at is not None else -1
        return found + len(marker) if found >= 0 else None

    scan_begin = after("Now parsing source directory - ", 0)
    scan_end = after("Done.\n", scan_begin)
    layout_end = after("File system created successfully.\n", scan_end)
    writer_begin = after("Now write ISO image to output file - ", layout_end)
    writer_end = after("Done.\n", writer_begin)
    times = {}
    for stage, begin, end in (("scan", scan_begin, scan_end), ("layout", scan_end, layout_end),
                              ("writer", writer_begin, writer_end)):
        if begin is not None and end is not None:
            times[stage] = arrival(end) - arrival(begin)
    return times


STAGES = ("scan", "layout", "writer")


def run_build(vornel, src, image):
    """Builds the image; returns wall seconds, stage times and peak KiB."""
    read_end, write_end = os.pipe()
    actions = [(os.POSIX_SPAWN_DUP2, write_end, 1), (os.POSIX_SPAWN_CLOSE, read_end)]
    begin = time.perf_counter()
    pid = os.posix_spawn(vornel, [vornel, "-in", src, "-out", image], os.environ, file_actions=actions)
    os.close(write_end)
    chunks = []
    while True:
        data = os.read(read_end, 65536)
        if not data:
            break
        chunks.append((time.perf_counter(), data.decode("latin-1")))
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - begin
    os.close(read_end)
    if os.waitstatus_to_exitcode(status) != 0:
        output = "".join(text for _, text in chunks)
        sys.exit("the build of %s failed:\n%s" % (src, output[-2000:]))
    return wall, stage_times(chunks), usage.ru_maxrss


def run_cat(src, files, copy):
    """Seconds for cat to copy the files into one file (xargs keeps each
    command line within the host's limit)."""
    listing = "\0".join(files).encode()
    begin = time.perf_counter()
    with open(copy, "wb") as out:
        subprocess.run(["xargs", "-0", "cat"], input=listing, stdout=out, cwd=src, check=True)
    return time.perf_counter() - begin


def check_image(build, src, image):
    """Checks the image block by block against its source tree."""
    command = [os.path.join(build, "vornel-inspect"), "--compare", src, image]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        verdict = "could not be compared with" if result.returncode == 2 else "does not match"
        sys.exit("the image %s %s %s (%s):\n%s%s" %
                 (image, verdict, src, " ".join(command), result.stdout[-2000:], result.stderr[-2000:]))
    return os.path.basename(command[0])


# ---------------------------------------------------------------- figures

def median(values):
    return statistics.median(values) if values else None


def seconds(value):
    return "-" if value is None else "%.3f" % value


def remove(*paths):
    for path in paths:
        if os.path.exists(path):
            os.remove(path)


def bench_tree(args, name, out):
    """Runs the rounds of one tree and prints its line of figures."""
    src = tree(args.work, name)
    files = [] if name == "dirs" else source_files(src)
    image, copy = os.path.join(out, name + ".iso"), os.path.join(out, name + ".cat")
    rounds = args.holes_rounds if name == "holes" else args.rounds
    walls, cats, ratios, peaks, stages = [], [], [], [], {stage: [] for stage in STAGES}
    for _ in range(rounds):
        remove(image, copy)
        wall, times, peak = run_build(os.path.join(args.build, "vornel"), src, image)
        cat = run_cat(src, files, copy) if files else None
        checker = check_image(args.build, src, image)
        walls.append(wall)
        peaks.append(peak)
        if cat is not None:
            cats.append(cat)
            ratios.append(wall / cat)
        for stage, seconds_taken in times.items():
            stages[stage].append(seconds_taken)
    remove(image, copy)
    ratio = median(ratios)
    print("%-6s build %s s, cat %s s, build/cat %s, scan %s s, layout %s s, writer %s s, peak %.1f MiB "
          "(%d rounds, checked with %s)" %
          (name, seconds(median(walls)), seconds(median(cats)), "-" if ratio is None else "%.2f" % ratio,
           seconds(median(stages["scan"])), seconds(median(stages["layout"])), seconds(median(stages["writer"])),
           max(peaks) / 1024, rounds, checker), flush=True)


def largest_image_peak(args):
    """Runs bench/largest_image.sh and returns its peak memory line."""
    result = subprocess.run([os.path.join(ROOT, "bench", "largest_image.sh"), args.build],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("bench/largest_image.sh failed:\n" + result.stdout[-2000:] + result.stderr[-2000:])
    for line in result.stdout.splitlines():
        if line.startswith("maximum resident set size"):
            return line
    return "no peak memory figure in its output"


def load():
    return open("/proc/loadavg").read().split()[:3]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"),
                        help="build folder holding vornel (default: build-bench)")
    parser.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "vornel-bench"),
                        help="where the trees are kept and the images written")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--holes-rounds", type=int, default=3)
    parser.add_argument("--trees", default=",".join(TREES))
    parser.add_argument("--no-largest", action="store_true", help="skip bench/largest_image.sh")
    parser.add_argument("--no-extreme", action="store_true", help="skip bench/extreme_trees.py")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.work = os.path.abspath(args.work)
    names = args.trees.split(",")
    unknown = [n for n in names if n not in TREES]
    if unknown:
        parser.error("unknown tree: " + ", ".join(unknown))
    for program in (os.path.join(args.build, "vornel"), os.path.join(args.build, "vornel-inspect")):
        if not os.access(program, os.X_OK):
            parser.error("no %s: build it first (cmake -DCMAKE_BUILD_TYPE=Release)" % program)

    for name in names:
        tree(args.work, name)
    print("== %s, load average %s" % (os.path.join(args.build, "vornel"), " ".join(load())), flush=True)
    # Images and copies go to a folder of this run's own, beside the trees.
    out = tempfile.mkdtemp(prefix="out-", dir=args.work)
    try:
        for name in names:
            bench_tree(args, name, out)
    finally:
        shutil.rmtree(out, ignore_errors=True)
    if not args.no_extreme:
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "extreme_trees.py"), args.build], check=True)
    if not args.no_largest:
        print("largest image: " + largest_image_peak(args), flush=True)
    print("== load average %s" % " ".join(load()), flush=True)


if __name__ == "__main__":
    main()
