#!/usr/bin/env python3
"""Builds the extreme trees and checks their images.

Trees at the edges of what the tool takes, each built with the real program
and its image checked with `vornel-inspect --check` and compared with its
source tree with `vornel-inspect --compare`:

  files   100,000 entries in one directory (hard links to three files, so a
          name costs little to make), 1,000 of them one byte long
  dirs    50,000 empty subdirectories of the root
  deep    a chain of directories "d/d/.../d/f" whose file path is as long as
          the host's paths allow
  names   names that look like format directives, hold a line feed or bytes
          that are not text, and a name of 32 bytes; a placement file for one
          of them
  placed  20,000 one-byte files in 200 folders, half of them at blocks their
          placement files name, and 10,000 placement files more for names the
          tree does not hold: every record looks its file up in the tree

For each it prints the build's wall time and peak memory. It exits non-zero
when a build fails or an image does not check out. The largest image the tool
can make is bench/largest_image.sh.

Usage: bench/extreme_trees.py [build folder]   (default: build-bench)
"""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_files(src, work):
    targets = []
    for name, content in (("empty0", b""), ("empty1", b""), ("one", b"1")):
        with open(os.path.join(work, name), "wb") as f:
            f.write(content)
        targets.append(os.path.join(work, name))
    for i in range(100000):
        target = targets[2] if i % 100 == 0 else targets[i // 50000]
        os.link(target, os.path.join(src, f"file{i}"))


def make_dirs(src, work):
    for i in range(50000):
        os.mkdir(os.path.join(src, f"dir{i}"))


def make_deep(src, work):
    # src/d/.../d/f is the longest path the program composes: PATH_MAX - 1
    # bytes or one less.
    depth = (os.pathconf(src, "PC_PATH_MAX") - 1 - len(src) - 2) // 2
    fd = os.open(src, os.O_RDONLY | os.O_DIRECTORY)
    for _ in range(depth):
        os.mkdir("d", dir_fd=fd)
        nxt = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = nxt
    out = os.open("f", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(out, b"bottom")
    os.close(out)
    os.close(fd)


def make_names(src, work):
    files = {b"%s%n%i": b"directives", b"new\nline": b"line feed", b"\xff\xfe\x80\xc3": b"not text",
             b"%s%n%i" + b"L" * 26: b"thirty-two", b"%n.dat": b"n" * 3000, b"#%n.dat": b"500 700"}
    base = os.fsencode(src)
    for name, content in files.items():
        with open(os.path.join(base, name), "wb") as f:
            f.write(content)
    os.mkdir(os.path.join(base, b"#x"))  # a directory, not a placement file
    with open(os.path.join(base, b"#x", b"inner"), "wb") as f:
        f.write(b"inside")


def make_placed(src, work):
    one = os.path.join(work, "one")
    with open(one, "wb") as f:
        f.write(b"1")
    for d in range(200):
        folder = os.path.join(src, f"dir{d}")
        os.mkdir(folder)
        for k in range(100):
            i = d * 100 + k
            os.link(one, os.path.join(folder, f"file{i}"))
            with open(os.path.join(folder, f"#file{i}" if i % 2 == 0 else f"#absent{i}"), "w") as f:
                f.write(str(1000 + 2 * i))


def run(args, out):
    """Exit status, wall time and peak memory (KiB) of one command."""
    begin = time.perf_counter()
    child = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT)
    _, wait_status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(wait_status)
    return child.returncode, time.perf_counter() - begin, usage.ru_maxrss


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-bench"))
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release"], check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", "vornel", "vornel-inspect"], check=True,
                   stdout=subprocess.DEVNULL)
    vornel = os.path.join(build, "vornel")
    inspect = os.path.join(build, "vornel-inspect")
    # Trees of tens of thousands of entries are made far faster in memory.
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    failed = []
    for name, make in (("files", make_files), ("dirs", make_dirs), ("deep", make_deep), ("names", make_names),
                       ("placed", make_placed)):
        work = tempfile.mkdtemp(prefix="vornel-extreme-", dir=base)
        try:
            src = os.path.join(work, "src")
            os.mkdir(src)
            make(src, work)
            image = os.path.join(work, "image.iso")
            with open(os.path.join(work, "out.txt"), "w") as log:
                status, wall, peak = run([vornel, "-in", src, "-out", image], log)
            line = f"{name}: build {wall:.2f} s, peak memory {peak // 1024} MiB"
            if status != 0:
                with open(os.path.join(work, "out.txt"), errors="replace") as log:
                    print(f"{name}: the build failed with exit status {status}:\n{log.read()[-2000:]}")
                failed.append(name)
                continue
            for check in (["--check", image], ["--compare", src, image]):
                result = subprocess.run([inspect] + check, capture_output=True, text=True, errors="replace")
                line += f"; {check[0]} exit {result.returncode}"
                if result.returncode != 0:
                    print(result.stdout[-2000:] + result.stderr[-2000:])
                    failed.append(name)
            print(line, flush=True)
        finally:
            # rm, not shutil.rmtree: the deep chain is deeper than Python's recursion.
            subprocess.run(["rm", "-rf", work])
    if failed:
        sys.exit("failed: " + ", ".join(failed))


if __name__ == "__main__":
    main()
