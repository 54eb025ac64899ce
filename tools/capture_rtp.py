#!/usr/bin/python3
"""Captures the RTP packets of GStreamer's payloaders into the fixture files
that the RTP parser tests replay (tests/data/rtp/*.rtp).

Run with Debian's interpreter, which has the GStreamer bindings:
    /usr/bin/python3 tools/capture_rtp.py [OUTPUT_DIR] [NAME...]

File format of a capture (.rtp), made for easy reading from C++:
    "ZRRTP 1\n"
    "caps <the RTP caps of the payloader's source pad>\n"
    then every packet as a 16-bit big-endian length followed by the packet.

The sources are GStreamer test sources with fixed settings, so a capture is
reproducible except for the encoders' own choices; the tests check counts and
invariants, never exact bytes.
"""
import os
import struct
import subprocess
import sys
import tempfile

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

VIDEO = "videotestsrc pattern=ball num-buffers={n} ! video/x-raw,format=I420,width={w},height={h},framerate={fps}/1"
AUDIO = "audiotestsrc wave=sine freq=440 num-buffers={n} samplesperbuffer={spb} ! audio/x-raw,rate={rate},channels={ch}"

# The 16-byte universal label of a KLV unit (SMPTE 336M), followed by a BER
# length and the value.
KLV_KEY = bytes.fromhex("060E2B34020B01010E01030101000000")

CAPTURES = {
    # Single NAL units, FU-A for larger slices; two slices per picture. The
    # encoder writes SPS and PPS in band before every IDR picture (the
    # payloader's config-interval=-1 would repeat them before every IDR
    # slice, which splits the picture for a decoder). Starts just before the
    # 16-bit sequence number and the 32-bit timestamp wrap around.
    "h264": (VIDEO.format(n=50, w=320, h=240, fps=25)
             + " ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=400 key-int-max=10"
             + " ! video/x-h264,stream-format=byte-stream"
             + " ! rtph264pay pt=96 seqnum-offset=65480 timestamp-offset=4294877296"),
    # A small MTU: nearly every slice is fragmented, SPS and PPS travel in
    # STAP-A packets.
    "h264_stapa": (VIDEO.format(n=30, w=320, h=240, fps=25)
                   + " ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=400 key-int-max=10"
                   + " ! video/x-h264,stream-format=byte-stream"
                   + " ! rtph264pay pt=96 mtu=300 aggregate-mode=zero-latency"),
    # The benchmark's stream: 2 s of 1080p at 8 Mbit/s.
    "h264_1080p": (VIDEO.format(n=50, w=1920, h=1080, fps=25).replace("pattern=ball", "pattern=smpte horizontal-speed=4")
                   + " ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=8000 key-int-max=25"
                   + " ! video/x-h264,stream-format=byte-stream ! rtph264pay pt=96"),
    # Single NAL units and fragmentation units; a small MTU with aggregation
    # so that VPS, SPS and PPS come in aggregation packets.
    "h265": (VIDEO.format(n=30, w=320, h=240, fps=25)
             + " ! x265enc tune=zerolatency speed-preset=ultrafast bitrate=300 key-int-max=10"
             + " ! rtph265pay pt=96 mtu=400 config-interval=-1 aggregate-mode=zero-latency"),
    # JPEG type 1 (4:2:0) and type 0 (4:2:2); the payloader sends the
    # quantization tables in band (Q 255).
    "jpeg420": (VIDEO.format(n=50, w=320, h=240, fps=10)
                + " ! videoconvert ! video/x-raw,format=I420 ! jpegenc quality=50 ! rtpjpegpay pt=26"),
    "jpeg422": (VIDEO.format(n=50, w=176, h=144, fps=10)
                + " ! videoconvert ! video/x-raw,format=Y42B ! jpegenc quality=50 ! rtpjpegpay pt=26"),
    # MPEG-4 part 2 with the configuration (VOS, VO, VOL) in band before every
    # I-VOP. GStreamer's own MPEG-4 encoder leaves its output without time
    # stamps, so FFmpeg encodes a file first ({tmp} is a scratch directory).
    "mp4v": ("filesrc location={tmp}/mp4v.mkv ! matroskademux ! mpeg4videoparse"
             + " ! rtpmp4vpay pt=96 config-interval=-1"),
    # AAC-hbr: one 13/3 AU header before each access unit.
    "aac": (AUDIO.format(n=100, spb=1024, rate=44100, ch=2)
            + " ! voaacenc bitrate=64000 ! aacparse ! rtpmp4gpay pt=97"),
    # AMR narrow band, octet-aligned, 12.2 kbit/s.
    "amr": (AUDIO.format(n=100, spb=160, rate=8000, ch=1)
            + " ! amrnbenc band-mode=MR122 ! rtpamrpay pt=98"),
    "pcma": AUDIO.format(n=50, spb=160, rate=8000, ch=1) + " ! alawenc ! rtppcmapay pt=8",
    "pcmu": AUDIO.format(n=50, spb=160, rate=8000, ch=1) + " ! mulawenc ! rtppcmupay pt=0",
    # G.726 with the RFC 3551 packing (force-aal2=false), 32 and 24 kbit/s.
    "g726_32": (AUDIO.format(n=50, spb=160, rate=8000, ch=1)
                + " ! avenc_g726 bitrate=32000 ! rtpg726pay pt=100 force-aal2=false max-ptime=20000000"),
    "g726_24": (AUDIO.format(n=50, spb=160, rate=8000, ch=1)
                + " ! avenc_g726 bitrate=24000 ! rtpg726pay pt=100 force-aal2=false max-ptime=20000000"),
    # KLV units pushed from here; the larger ones span several packets.
    "klv": "appsrc name=src format=time caps=meta/x-klv,parsed=true ! rtpklvpay pt=99",
}


def klv_unit(index):
    """One KLV unit whose value size varies from 20 to more than 3000 bytes."""
    size = 20 + (index * 397) % 3100
    value = bytes((index + i) & 0xFF for i in range(size))
    if size < 128:
        length = bytes([size])
    else:
        length = bytes([0x82]) + struct.pack(">H", size)
    return KLV_KEY + length + value


def feed_klv(pipeline):
    src = pipeline.get_by_name("src")
    for i in range(30):
        buf = Gst.Buffer.new_wrapped(klv_unit(i))
        buf.pts = i * Gst.SECOND // 10
        buf.duration = Gst.SECOND // 10
        src.emit("push-buffer", buf)
    src.emit("end-of-stream")


def prepare_mp4v(tmp):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=size=320x240:rate=25:duration=2", "-c:v", "mpeg4", "-b:v", "300k",
                    "-g", "10", os.path.join(tmp, "mp4v.mkv")], check=True)


def capture(name, launch, out_dir, tmp):
    if name == "mp4v":
        prepare_mp4v(tmp)
    launch = launch.replace("{tmp}", tmp)
    pipeline = Gst.parse_launch(launch + " ! appsink name=sink sync=false")
    sink = pipeline.get_by_name("sink")
    packets = []
    pipeline.set_state(Gst.State.PLAYING)
    if name == "klv":
        feed_klv(pipeline)
    caps = None
    while True:
        sample = sink.emit("pull-sample")
        if sample is None:
            break
        if caps is None:
            caps = sample.get_caps().to_string()
        buf = sample.get_buffer()
        ok, info = buf.map(Gst.MapFlags.READ)
        packets.append(bytes(info.data))
        buf.unmap(info)
    pipeline.set_state(Gst.State.NULL)
    path = os.path.join(out_dir, name + ".rtp")
    with open(path, "wb") as f:
        f.write(b"ZRRTP 1\n")
        f.write(b"caps " + caps.encode() + b"\n")
        for p in packets:
            f.write(struct.pack(">H", len(p)) + p)
    print("%s: %d packets, %d bytes" % (path, len(packets), os.path.getsize(path)))


def main():
    Gst.init(None)
    args = sys.argv[1:]
    out_dir = args.pop(0) if args and os.path.isdir(args[0]) else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "rtp")
    names = args or sorted(CAPTURES)
    with tempfile.TemporaryDirectory() as tmp:
        for name in names:
            capture(name, CAPTURES[name], out_dir, tmp)


if __name__ == "__main__":
    main()
