#!/usr/bin/env python3
"""Writes the seed corpora of the RTP fuzz targets (fuzz/corpus/rtp_*_fuzzer)
from the captures in tests/data/rtp.

The depacketizer targets read the input layout of fuzz/rtpfuzzharness.h: a
setup byte, then per packet a control byte (marker bit, new timestamp), the
16-bit timestamp step, the 16-bit payload length and the payload.
rtp_packet_fuzzer reads raw packets (fuzz/rtp_packet_fuzzer.cpp): a setup
byte, the session payload type, then each packet behind its 16-bit length;
its seeds are the captures' first packets with RTCP reports among them.
rtp_onvif_fuzzer's seed is made here: XML documents over several packets,
one of them lost.

    tools/rtp_fuzz_seeds.py
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# Target: [(capture, setup byte)]. Setup bits 0-1 pick the clock rate (0 90000,
# 1 8000, 2 44100), bit 2 AU headers, bits 3-7 the target's variant (for AMR
# bit 3 octet-aligned, bit 4 the CRC list).
SEEDS = {
    "rtp_h264_fuzzer": [("h264", 0x00), ("h264_stapa", 0x00), ("ffmpeg_h264_bframes", 0x00),
                        ("ffmpeg_h264_mode0_high444", 0x00), ("ffmpeg_h264", 0x00)],
    "rtp_h265_fuzzer": [("h265", 0x00), ("ffmpeg_h265_bframes", 0x00), ("ffmpeg_h265", 0x00)],
    "rtp_jpeg_fuzzer": [("jpeg420", 0x00), ("jpeg422", 0x00), ("ffmpeg_mjpeg", 0x00)],
    "rtp_frame_fuzzer": [("mp4v", 0x00), ("klv", 0x08), ("ffmpeg_mp4v", 0x00)],
    "rtp_aac_fuzzer": [("aac", 0x06), ("ffmpeg_aac", 0x06), ("aac_fragmented", 0x06),
                       ("ffmpeg_aac_fragmented", 0x06), ("aac_interleaved", 0x06)],
    "rtp_amr_fuzzer": [("amr", 0x09), ("ffmpeg_amr", 0x09), ("amr_bandwidth_efficient", 0x01),
                       ("amr_crc", 0x19)],
    "rtp_audio_fuzzer": [("pcma", 0x01), ("pcmu", 0x01), ("g726_32", 0x11),
                         ("ffmpeg_g726_24", 0x09), ("ffmpeg_g726_40", 0x19),
                         ("ffmpeg_g726_aal2_24", 0x09), ("ffmpeg_pcmu_16k_stereo", 0x01)],
}
MAX_PACKETS = 24

# rtp_packet_fuzzer: the internal kind (setup bits 0-2) by encoding name,
# and bit 3 for AU headers.
PACKET_KINDS = {"H264": 1, "H265": 2, "JPEG": 3, "MP4V-ES": 4, "MPEG4-GENERIC": 5 | 8, "AMR": 6,
                "SMPTE336M": 7}


def load(name):
    """The caps line and the packets of a capture."""
    with open(os.path.join(ROOT, "tests", "data", "rtp", name + ".rtp"), "rb") as f:
        data = f.read()
    first = data.index(b"\n") + 1
    second = data.index(b"\n", first) + 1
    caps = data[first:second].decode()
    pos = second
    packets = []
    while pos < len(data):
        (size,) = struct.unpack(">H", data[pos:pos + 2])
        packets.append(data[pos + 2:pos + 2 + size])
        pos += 2 + size
    return caps, packets


def caps_field(caps, name):
    key = " " + name + "=("
    if key not in caps:
        return ""
    value = caps.split(key, 1)[1].split(")", 1)[1].split(", ", 1)[0]
    return value.strip('"\n')


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


def onvif_seed():
    """Four ONVIF metadata documents, each cut into payloads of up to 60
    bytes, the last with the marker bit; the second loses a packet in its
    middle (control bits 1-2: the sequence number skips one)."""
    out = bytearray([0x00])
    for number in range(4):
        document = ('<?xml version="1.0" encoding="UTF-8"?><tt:MetadataStream '
                    'xmlns:tt="http://www.onvif.org/ver10/schema"><tt:Event n="%d"/>'
                    '</tt:MetadataStream>' % number).encode()
        pieces = [document[i:i + 60] for i in range(0, len(document), 60)]
        for index, piece in enumerate(pieces):
            control = 0x01 if index == len(pieces) - 1 else 0x00
            if number == 1 and index == 1:
                continue
            if number == 1 and index == 2:
                control |= 0x02
            if index == 0:
                out += bytes([control | 0x08]) + struct.pack(">H", 9000)
            else:
                out += bytes([control])
            out += struct.pack(">H", len(piece)) + piece
    return bytes(out)


def rtcp_reports(ssrc):
    """A sender report with one report block and a source description, as
    GStreamer sends them, and a BYE."""
    sr = struct.pack(">BBHIIIIII", 0x81, 200, 12, ssrc, 0xE8000000, 0x12345678, 0x00010000,
                     100, 10000)
    sr += struct.pack(">IIIIII", 0x11223344, 0, 100, 0, 0xE7FF1234, 0x00008000)
    cname = b"user@host"
    chunk = struct.pack(">IBB", ssrc, 1, len(cname)) + cname + b"\x00"
    chunk += b"\x00" * (-len(chunk) % 4)
    sdes = struct.pack(">BBH", 0x81, 202, len(chunk) // 4) + chunk
    bye = struct.pack(">BBHI", 0x81, 203, 1, ssrc)
    return sr + sdes, bye


def packet_seed(caps, packets):
    kind = PACKET_KINDS.get(caps_field(caps, "encoding-name"), 0)
    payload_type = int(caps_field(caps, "payload") or packets[0][1] & 0x7F)
    ssrc = struct.unpack(">I", packets[0][8:12])[0]
    compound, bye = rtcp_reports(ssrc)
    chosen = list(packets[:MAX_PACKETS])
    chosen.insert(len(chosen) // 2, compound)
    chosen.append(bye)
    out = bytearray([kind, payload_type])
    for packet in chosen:
        out += struct.pack(">H", len(packet)) + packet
    return bytes(out)


def write(target, name, data):
    directory = os.path.join(ROOT, "fuzz", "corpus", target)
    os.makedirs(directory, exist_ok=True)
    path = os.path.join(directory, name + ".bin")
    with open(path, "wb") as f:
        f.write(data)
    print(path, len(data))


def main():
    for target, captures in SEEDS.items():
        for capture, setup in captures:
            write(target, capture, seed(load(capture)[1], setup))
    write("rtp_onvif_fuzzer", "onvif_documents", onvif_seed())
    for capture in sorted({c for captures in SEEDS.values() for c, _ in captures}):
        caps, packets = load(capture)
        write("rtp_packet_fuzzer", capture, packet_seed(caps, packets))


if __name__ == "__main__":
    main()
