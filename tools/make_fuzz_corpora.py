#!/usr/bin/python3
"""Makes the seed corpora of the session-description, sequence-header and
in-band format fuzz targets from the test fixtures (tests/data/sdp and
tests/data/es).

Usage: tools/make_fuzz_corpora.py   (from the repository root)
"""

import glob
import hashlib
import os
import shutil
import struct


def split_units(data):
    """Annex B units without start codes and trailing zero bytes."""
    starts = []
    i = data.find(b"\x00\x00\x01")
    while i >= 0:
        starts.append(i + 3)
        i = data.find(b"\x00\x00\x01", i + 3)
    return [data[s:(starts[n + 1] - 3 if n + 1 < len(starts) else len(data))].rstrip(b"\x00")
            for n, s in enumerate(starts)]


def write_seeds(target, seeds):
    directory = os.path.join("fuzz", "corpus", target)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(directory, name), "wb") as f:
            f.write(seed)
    print("%s: %d seeds" % (directory, len(seeds)))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    sdps = [read(p) for p in sorted(glob.glob("tests/data/sdp/*.sdp"))]
    write_seeds("sdpparser_fuzzer", sdps)
    write_seeds("mediatype_fuzzer", sdps)

    h264 = [read(p) for p in sorted(glob.glob("tests/data/es/h264_*"))]
    h264_seeds = set()
    for data in h264:
        h264_seeds.add(data)  # as a sequence header or frame
        h264_seeds.update(split_units(data))  # each unit alone
    write_seeds("h264sps_fuzzer", sorted(h264_seeds))

    h265_seeds = set()
    for path in sorted(glob.glob("tests/data/es/h265_*")):
        data = read(path)
        h265_seeds.add(data)
        # The target puts the NAL header in front itself.
        h265_seeds.update(unit[2:] for unit in split_units(data))
    write_seeds("h265parametersets_fuzzer", sorted(h265_seeds))

    mpeg4_seeds = set()
    for path in sorted(glob.glob("tests/data/es/mp4v_*")):
        data = read(path)
        mpeg4_seeds.add(data)
        mpeg4_seeds.update(split_units(data))  # header bodies behind their code byte
        mpeg4_seeds.update(unit[1:] for unit in split_units(data))
    write_seeds("mpeg4vol_fuzzer", sorted(mpeg4_seeds))

    # inbandformat_fuzzer: a setup byte (the codec, bit 2 a measured frame
    # rate) and frames behind their 16-bit lengths; the headers as the
    # front of a key frame, the first unit lost in a second try.
    inband_seeds = set()
    for prefix, codec in (("h264_", 0), ("h265_", 1), ("mp4v_", 6)):
        for path in sorted(glob.glob("tests/data/es/" + prefix + "*")):
            data = read(path)
            cut = data[data.find(b"\x00\x00\x01", 4):]
            inband_seeds.add(bytes([codec]) + b"".join(
                struct.pack(">H", len(frame)) + frame for frame in (cut, data)))
    write_seeds("inbandformat_fuzzer", sorted(inband_seeds))


if __name__ == "__main__":
    main()
