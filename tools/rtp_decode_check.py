#!/usr/bin/env python3
"""Decodes the depacketized streams that the RTP tests wrote (see
tests/rtp/rtprealstream_test.cpp) with FFmpeg, as an independent check of the
depacketizers.

    tools/rtp_decode_check.py DIRECTORY

DIRECTORY/manifest.txt has one line per file, tab-separated: the file, what
to count ("frames" or "samples"), the expected count, FFmpeg's input options,
and optionally a second file that must decode to the same samples. A file
passes when FFmpeg decodes it without printing anything at -v error and the
count matches.
"""
import os
import shlex
import subprocess
import sys


def decode(directory, name, options, output_format):
    command = (["ffmpeg", "-nostdin", "-hide_banner", "-v", "error"] + shlex.split(options)
               + ["-i", os.path.join(directory, name), "-fps_mode", "passthrough",
                  "-f", output_format, "-"])
    result = subprocess.run(command, capture_output=True)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def count(framecrc, what):
    lines = [line.split(",") for line in framecrc.decode().splitlines()
             if line and not line.startswith("#")]
    if what == "frames":
        return len(lines)
    return sum(int(fields[3]) for fields in lines)


def main():
    directory = sys.argv[1]
    with open(os.path.join(directory, "manifest.txt")) as manifest:
        entries = [line.rstrip("\n").split("\t") for line in manifest if line.strip()]
    options_of = {entry[0]: entry[3] for entry in entries}
    failures = 0
    for name, what, expected, options, reference in entries:
        code, out, err = decode(directory, name, options, "framecrc")
        problems = []
        if code != 0 or err:
            problems.append("decoder said: " + (err.strip() or "exit code %d" % code))
        got = count(out, what) if code == 0 else None
        if got != int(expected):
            problems.append("%s %s, expected %s" % (got, what, expected))
        if reference:
            mine = decode(directory, name, options, "s16le")[1]
            theirs = decode(directory, reference, options_of[reference], "s16le")[1]
            if not mine or mine != theirs:
                problems.append("samples differ from " + reference)
        print("%-24s %s" % (name, "ok (%s %s)" % (got, what) if not problems else "; ".join(problems)))
        failures += bool(problems)
    if not entries:
        print("no streams in the manifest")
        failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
