#!/usr/bin/env python3
"""Decodes the depacketized streams that the RTP tests wrote (see
tests/rtp/rtprealstream_test.cpp) with FFmpeg, as an independent check of the
depacketizers.

    tools/rtp_decode_check.py DIRECTORY

DIRECTORY/manifest.txt has one line per file, tab-separated: the file, what
to count ("frames" or "samples"), the expected count, FFmpeg's input options,
optionally a second file that must decode to the same samples, and
optionally the frequency in Hz of the test tone the audio holds. A file
passes when FFmpeg decodes it without printing anything at -v error, the
count matches, and the strongest frequency of the decoded audio is the
tone's (garbage that decodes without an error does not pass). A file of
"documents" holds XML documents, each ended by a zero byte: every one must
parse (Python's xml.etree), and their number match.
"""
import cmath
import concurrent.futures
import math
import os
import shlex
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

# The tone is measured at this rate, to the nearest few Hz.
TONE_RATE = 8000
TONE_TOLERANCE_HZ = 10


def decode(directory, name, options, output):
    """Decodes to stdout; output is the format with any output options."""
    command = (["ffmpeg", "-nostdin", "-hide_banner", "-v", "error"] + shlex.split(options)
               + ["-i", os.path.join(directory, name), "-fps_mode", "passthrough",
                  "-f"] + shlex.split(output) + ["-"])
    result = subprocess.run(command, capture_output=True)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def fft(values):
    """Radix-2 FFT of a list whose length is a power of two."""
    x = list(values)
    n = len(x)
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j ^= bit
        if i < j:
            x[i], x[j] = x[j], x[i]
    length = 2
    while length <= n:
        step = cmath.exp(-2j * cmath.pi / length)
        half = length // 2
        for start in range(0, n, length):
            w = 1
            for k in range(start, start + half):
                u, v = x[k], x[k + half] * w
                x[k], x[k + half] = u + v, u - v
                w *= step
        length <<= 1
    return x


def dominant_frequency(pcm):
    """The strongest frequency of mono 16-bit audio at TONE_RATE, over a
    Hann-windowed power-of-two stretch from its middle."""
    samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm[:len(pcm) // 2 * 2])
    n = 1
    while n * 2 <= min(len(samples), 8192):
        n *= 2
    if n < 256:
        return None
    start = (len(samples) - n) // 2
    windowed = [samples[start + i] * (0.5 - 0.5 * math.cos(2 * math.pi * i / n)) for i in range(n)]
    spectrum = [abs(c) for c in fft(windowed)[1:n // 2]]
    return (spectrum.index(max(spectrum)) + 1) * TONE_RATE / n


def count(framecrc, what):
    lines = [line.split(",") for line in framecrc.decode().splitlines()
             if line and not line.startswith("#")]
    if what == "frames":
        return len(lines)
    return sum(int(fields[3]) for fields in lines)


def check_documents(path, expected):
    """The problems of a file of XML documents that each end with a zero byte."""
    with open(path, "rb") as f:
        data = f.read()
    documents = data.split(b"\0")
    problems = [] if documents[-1] == b"" else ["the last document has no end"]
    documents = documents[:-1]
    for number, document in enumerate(documents):
        try:
            ElementTree.fromstring(document)
        except ElementTree.ParseError as error:
            problems.append("document %d: %s" % (number, error))
    if len(documents) != int(expected):
        problems.append("%d documents, expected %s" % (len(documents), expected))
    return len(documents), problems


def check(directory, entry, options_of):
    """The problems of one manifest entry, and the count found."""
    name, what, expected, options, reference, tone = entry
    if what == "documents":
        got, problems = check_documents(os.path.join(directory, name), expected)
        return problems, got
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
    if tone and code == 0:
        pcm = decode(directory, name, options, "s16le -ac 1 -ar %d" % TONE_RATE)[1]
        found = dominant_frequency(pcm)
        if found is None or abs(found - int(tone)) > TONE_TOLERANCE_HZ:
            problems.append("tone at %s Hz, expected %s Hz" % (found, tone))
    return problems, got


def main():
    directory = sys.argv[1]
    with open(os.path.join(directory, "manifest.txt")) as manifest:
        entries = [line.rstrip("\n").split("\t") for line in manifest if line.strip()]
    options_of = {entry[0]: entry[3] for entry in entries}
    failures = 0
    # The decoders run side by side; the lines come out in manifest order.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = pool.map(lambda entry: check(directory, entry, options_of), entries)
        for entry, (problems, got) in zip(entries, results):
            name, what = entry[0], entry[1]
            print("%-24s %s" % (name, "ok (%s %s)" % (got, what) if not problems
                                else "; ".join(problems)))
            failures += bool(problems)
    if not entries:
        print("no streams in the manifest")
        failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
