#!/usr/bin/env python3
"""Writes an image in the image fuzzer's compact form (see image/image_fuzzer.cpp),
so that a seed of a few blocks stands for a deep chain of directories.

Usage: python3 fuzz/compact_image.py IMAGE OUTPUT
"""
import sys

BLOCK = 2048


def bumped(block, steps):
    out = bytearray(block)
    for word, step in steps:
        if word + 4 <= len(out):
            value = (int.from_bytes(out[word:word + 4], "big") + step) & 0xFFFFFFFF
            out[word:word + 4] = value.to_bytes(4, "big")
    return bytes(out)


def steps_between(a, b):
    """The aligned words that grow by 1 to 255 from a to b, when they are the only difference."""
    if len(a) != BLOCK or len(b) != BLOCK:
        return None
    steps = [(w, (int.from_bytes(b[w:w + 4], "big") - int.from_bytes(a[w:w + 4], "big")) & 0xFFFFFFFF)
             for w in range(0, BLOCK, 4) if a[w:w + 4] != b[w:w + 4]]
    if len(steps) > 255 or any(step > 255 for _, step in steps):
        return None
    return steps


def compact(image):
    blocks = [image[i:i + BLOCK] for i in range(0, len(image), BLOCK)]
    out = bytearray(b"\xffREP")
    i = 0
    while i < len(blocks):
        steps = (steps_between(blocks[i], blocks[i + 1]) if i + 1 < len(blocks) else None) or []
        copies = 0
        while (copies < 0xFFFF and i + copies + 1 < len(blocks)
               and bumped(blocks[i + copies], steps) == blocks[i + copies + 1]):
            copies += 1
        out += copies.to_bytes(2, "big") + len(steps).to_bytes(1, "big")
        out += b"".join(w.to_bytes(2, "big") + s.to_bytes(1, "big") for w, s in steps) + blocks[i]
        i += copies + 1
    return bytes(out)


def expand(data):
    image, at = bytearray(), 4
    while at + 3 <= len(data) and at + 3 + 3 * data[at + 2] <= len(data):
        copies, count = int.from_bytes(data[at:at + 2], "big"), data[at + 2]
        steps = [(int.from_bytes(data[at + 3 + 3 * i:at + 5 + 3 * i], "big"), data[at + 5 + 3 * i])
                 for i in range(count)]
        block = data[at + 3 + 3 * count:at + 3 + 3 * count + BLOCK]
        for _ in range(copies + 1):
            image += block
            block = bumped(block, steps)
        at += 3 + 3 * count + BLOCK
    return bytes(image)


if __name__ == "__main__":
    image = open(sys.argv[1], "rb").read()
    data = compact(image)
    assert expand(data) == image, "the compact form does not give the image back"
    open(sys.argv[2], "wb").write(data)
    print(f"{len(image)} bytes of image in {len(data)} bytes")
