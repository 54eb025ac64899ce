#!/usr/bin/env python3
"""Writes the seed corpora of the RTP fuzz targets (fuzz/corpus/rtp_*_fuzzer)
from the captures in tests/data/rtp, in the input layout that
fuzz/rtpfuzzharness.h reads: a setup byte, then per packet a control byte
(marker bit, new timestamp), the 16-bit timestamp step, the 16-bit payload
length and the payload.

    tools/rtp_fuzz_seeds.py
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# Target: [(capture, setup byte)]. Setup bits 0-1 pick the clock rate (0 90000,
# 1 8000, 2 44100), bit 2 AU headers, bits 3-7 the target's variant.
SEEDS = {
    "rtp_h264_fuzzer": [("h264", 0x00), ("h264_stapa", 0x00)],
    "rtp_h265_fuzzer": [("h265", 0x00)],
    "rtp_jpeg_fuzzer": [("jpeg420", 0x00), ("jpeg422", 0x00)],
    "rtp_frame_fuzzer": [("mp4v", 0x00), ("klv", 0x08)],
    "rtp_aac_fuzzer": [("aac", 0x06)],
    "rtp_amr_fuzzer": [("amr", 0x01)],
    "rtp_audio_fuzzer": [("pcma", 0x01), ("pcmu", 0x01), ("g726_32", 0x11), ("g726_24", 0x09)],
}
MAX_PACKETS = 24


def load(name):
    with open(os.path.join(ROOT, "tests", "data", "rtp", name + ".rtp"), "rb") as f:
        data = f.read()
    pos = data.index(b"\n", data.index(b"\n") + 1) + 1
    packets = []
    while pos < len(data):
        (size,) = struct.unpack(">H", data[pos:pos + 2])
        packets.append(data[pos + 2:pos + 2 + size])
        pos += 2 + size
    return packets


def seed(packets, setup):
    out = bytearray([setup])
    previous = struct.unpack(">I", packets[0][4:8])[0]
    for packet in packets[:MAX_PACKETS]:
        timestamp = struct.unpack(">I", packet[4:8])[0]
        control = 0x01 if packet[1] & 0x80 else 0x00
        step = (timestamp - previous) & 0xFFFF
        payload = packet[12:]
        if step:
            out += bytes([control | 0x08]) + struct.pack(">H", step)
        else:
            out += bytes([control])
        out += struct.pack(">H", len(payload)) + payload
        previous = timestamp
    return bytes(out)


def main():
    for target, captures in SEEDS.items():
        directory = os.path.join(ROOT, "fuzz", "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for capture, setup in captures:
            path = os.path.join(directory, capture + ".bin")
            with open(path, "wb") as f:
                f.write(seed(load(capture), setup))
            print(path, os.path.getsize(path))


if __name__ == "__main__":
    main()
