#!/usr/bin/env python3
"""Checks what `scripts/demo --wine` (scripts/try-setup on the demo setup) showed: result 0, the
product installed, nothing pending, and a screenshot in which the progress window is seen.
    try_setup_check.py OUTPUT PNG"""
import subprocess
import sys


def lit_share(png):
    """The share of pixels that are not black."""
    ppm = subprocess.run(["pngtopnm", png], capture_output=True, check=True).stdout
    fields, at = [], 0
    while len(fields) < 4:  # P6, width, height, maxval; whitespace separated
        while ppm[at:at + 1].isspace():
            at += 1
        end = at
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[at:end])
        at = end
    width, height = int(fields[1]), int(fields[2])
    pixels = ppm[at + 1:at + 1 + width * height * 3]
    lit = sum(1 for i in range(0, len(pixels), 3) if pixels[i:i + 3] != b"\0\0\0")
    return lit / (width * height)


def main(output_path, png):
    text = open(output_path, encoding="latin-1").read()
    problems = []
    for expected in ["== exit code: 0 (0x00000000): installed",
                     "identities.exe ", "samples.bin ", "RunSfx() - END",
                     "PendingFileRenameOperations: (none)", "RunOnce Pondwick: (none)"]:
        if expected not in text:
            problems.append("missing from the output: " + expected)
    try:
        share = lit_share(png)
        # The window is about 330 x 90 of 1024 x 768 pixels: some 4%; a black frame has none.
        if share < 0.02:
            problems.append("the screenshot is (nearly) black: %.2f%% lit" % (share * 100))
    except (OSError, subprocess.CalledProcessError, ValueError, IndexError) as e:
        problems.append("no readable screenshot: %s" % e)
    for p in problems:
        print("try-setup check: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
