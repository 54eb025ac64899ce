#!/usr/bin/python3
"""Captures the RTP packets of GStreamer's payloaders and of FFmpeg's RTP
muxer into the fixture files that the RTP parser tests replay
(tests/data/rtp/*.rtp), each with the session description that announces it
(*.sdp).

Run with Debian's interpreter, which has the GStreamer bindings:
    /usr/bin/python3 tools/capture_rtp.py [OUTPUT_DIR] [NAME...]
    /usr/bin/python3 tools/capture_rtp.py --sdp-only [OUTPUT_DIR] [NAME...]
The second form writes the descriptions of existing GStreamer captures again
from their caps, without capturing.

File format of a capture (.rtp), made for easy reading from C++:
    "ZRRTP 1\n"
    "caps <the RTP caps of the payloader's source pad>\n"
    then every packet as a 16-bit big-endian length followed by the packet.
For FFmpeg's captures the caps line is made from the description FFmpeg
wrote. The description of a GStreamer capture is made from its caps the way
GStreamer's RTSP server makes it; FFmpeg's is the one it wrote, with its
version and port made constant.

The sources are test sources with fixed settings, so a capture is
reproducible except for the encoders' own choices and the random sequence
numbers and timestamps; the tests check counts and invariants, never exact
bytes.
"""
import os
import re
import socket
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
    # Access units larger than the MTU: each is cut into fragments, every
    # fragment with the AU header of the whole unit.
    "aac_fragmented": (AUDIO.format(n=100, spb=1024, rate=44100, ch=2)
                       + " ! voaacenc bitrate=128000 ! aacparse ! rtpmp4gpay pt=97 mtu=200"),
    # AMR narrow band, octet-aligned, 12.2 kbit/s.
    "amr": (AUDIO.format(n=100, spb=160, rate=8000, ch=1)
            + " ! amrnbenc band-mode=MR122 ! rtpamrpay pt=98"),
    "pcma": AUDIO.format(n=50, spb=160, rate=8000, ch=1) + " ! alawenc ! rtppcmapay pt=8",
    "pcmu": AUDIO.format(n=50, spb=160, rate=8000, ch=1) + " ! mulawenc ! rtppcmupay pt=0",
    # G.726 with the RFC 3551 packing (force-aal2=false), 32 and 24 kbit/s.
    # G.726-32 with the RFC 3551 packing (force-aal2=false). At 24 and 40
    # kbit/s the payloader's streams decode to noise: those come from FFmpeg.
    "g726_32": (AUDIO.format(n=50, spb=160, rate=8000, ch=1)
                + " ! avenc_g726 bitrate=32000 ! rtpg726pay pt=100 force-aal2=false max-ptime=20000000"),
    # KLV units pushed from here; the larger ones span several packets.
    "klv": "appsrc name=src format=time caps=meta/x-klv,parsed=true ! rtpklvpay pt=99",
}


FFMPEG_VIDEO = "-re -f lavfi -i testsrc=size=320x240:rate=25:duration={d}"
FFMPEG_TONE = "-re -f lavfi -i sine=frequency={f}:sample_rate={rate}:duration={d}"

# FFmpeg's RTP muxer: name -> (input and encoder options, packet size). The
# parameter sets of H.264 and H.265 go into the description
# (+global_header), not into the stream.
FFMPEG_CAPTURES = {
    # B-frames: RTP timestamps out of order.
    "ffmpeg_h264_bframes": (FFMPEG_VIDEO.format(d=2) + " -c:v libx264 -pix_fmt yuv420p -bf 2"
                            " -g 25 -b:v 300k -flags +global_header", 1400),
    "ffmpeg_h265_bframes": (FFMPEG_VIDEO.format(d=2) + " -c:v libx265 -pix_fmt yuv420p -b:v 300k"
                            " -x265-params log-level=error:bframes=3:keyint=25"
                            " -flags +global_header", 1400),
    # Packetization mode 0 (single NAL units, slices cut to fit), with High
    # 4:4:4 Predictive.
    "ffmpeg_h264_mode0_high444": (FFMPEG_VIDEO.format(d=2) + " -c:v libx264 -pix_fmt yuv444p"
                                  " -g 25 -b:v 300k -x264-params slice-max-size=1300"
                                  " -rtpflags h264_mode0 -flags +global_header", 1400),
    # One 64-byte quantization table per frame, shared by all components.
    "ffmpeg_mjpeg": (FFMPEG_VIDEO.format(d=1) + " -c:v mjpeg -huffman default -pix_fmt yuvj420p"
                     " -q:v 15", 1400),
    # Several access units per packet.
    "ffmpeg_aac": (FFMPEG_TONE.format(f=440, rate=44100, d=2) + " -ac 2 -c:a aac -b:a 64k", 1400),
    # Five frames per packet (100 ms); Debian's FFmpeg has no AMR encoder, so
    # GStreamer's encodes the file that FFmpeg sends ({tmp} is a scratch
    # directory).
    "ffmpeg_amr": ("-re -i {tmp}/tone.amr -c:a copy -max_delay 100000", 1400),
    # At FFmpeg's defaults: the parameter sets and the MPEG-4 configuration
    # travel only in band (no sprop and no config= in the description),
    # x264 and x265 send B-frames, and the MPEG-4 video object layer has no
    # fixed VOP rate.
    "ffmpeg_h264": (FFMPEG_VIDEO.format(d=2) + " -c:v libx264 -pix_fmt yuv420p -g 25", 1400),
    "ffmpeg_h265": (FFMPEG_VIDEO.format(d=2) + " -c:v libx265 -pix_fmt yuv420p"
                    " -x265-params log-level=error:keyint=25", 1400),
    "ffmpeg_mp4v": (FFMPEG_VIDEO.format(d=2) + " -c:v mpeg4 -g 25", 1400),
    # Access units larger than the packet size: fragments with the marker
    # bit on the last.
    "ffmpeg_aac_fragmented": (FFMPEG_TONE.format(f=440, rate=44100, d=2)
                              + " -ac 2 -c:a aac -b:a 128k", 200),
    # G.711 at another rate, in stereo: a dynamic payload type with
    # "PCMU/16000/2".
    "ffmpeg_pcmu_16k_stereo": (FFMPEG_TONE.format(f=440, rate=16000, d=1)
                               + " -ac 2 -c:a pcm_mulaw", 1400),
    # FFmpeg's g726 encoder: "AAL2-G726-24", code words packed from the most
    # significant bit.
    "ffmpeg_g726_aal2_24": (FFMPEG_TONE.format(f=1000, rate=8000, d=1) + " -c:a g726 -b:a 24k",
                            112),
    # Static payload type 8 without an rtpmap line.
    "ffmpeg_pcma": (FFMPEG_TONE.format(f=440, rate=8000, d=1) + " -c:a pcm_alaw", 172),
    # G.726 in the RFC 3551 packing ("G726-n"; g726 would be AAL2-G726-n).
    "ffmpeg_g726_24": (FFMPEG_TONE.format(f=1000, rate=8000, d=1) + " -c:a g726le -b:a 24k",
                       112),
    "ffmpeg_g726_40": (FFMPEG_TONE.format(f=1000, rate=8000, d=1) + " -c:a g726le -b:a 40k",
                       112),
}

# Caps fields that GStreamer's RTSP server does not put into a=fmtp.
SDP_RESERVED = {"media", "payload", "clock-rate", "encoding-name", "encoding-params", "ssrc",
                "timestamp-offset", "seqnum-offset", "npt-start", "npt-stop", "play-speed",
                "play-scale", "clock-base", "onvif-mode"}
SDP_HEADER = "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=capture\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"


def sdp_from_caps(caps):
    """The media section that GStreamer's RTSP server writes for these caps:
    rtpmap, a-* fields as attributes, the other fields as fmtp parameters."""
    st = Gst.Caps.from_string(caps).get_structure(0)
    values = {st.nth_field_name(i): str(st.get_value(st.nth_field_name(i)))
              for i in range(st.n_fields())}
    pt = values["payload"]
    lines = ["m=%s 0 RTP/AVP %s" % (values["media"], pt)]
    rtpmap = "%s/%s" % (values["encoding-name"], values["clock-rate"])
    if "encoding-params" in values:
        rtpmap += "/" + values["encoding-params"]
    lines.append("a=rtpmap:%s %s" % (pt, rtpmap))
    fmtp = []
    for name, value in values.items():
        if name.startswith("a-"):
            lines.append("a=%s:%s" % (name[2:], value))
        elif name not in SDP_RESERVED and not name.startswith("x-"):
            fmtp.append("%s=%s" % (name, value))
    if fmtp:
        lines.append("a=fmtp:%s %s" % (pt, ";".join(fmtp)))
    return SDP_HEADER + "".join(line + "\r\n" for line in lines)


def caps_from_sdp(sdp):
    """A caps line in GStreamer's notation from the media section of a
    description: media, payload type, rtpmap and fmtp parameters."""
    fields = []
    media = re.search(r"^m=(\w+) \d+ RTP/AVP (\d+)", sdp, re.M)
    fields += ["media=(string)" + media.group(1), "payload=(int)" + media.group(2)]
    rtpmap = re.search(r"^a=rtpmap:\d+ ([^/\s]+)/(\d+)(?:/(\d+))?", sdp, re.M)
    if rtpmap:
        fields += ["clock-rate=(int)" + rtpmap.group(2), "encoding-name=(string)" + rtpmap.group(1)]
        if rtpmap.group(3):
            fields.append("encoding-params=(string)" + rtpmap.group(3))
    fmtp = re.search(r"^a=fmtp:\d+ (.*)$", sdp, re.M)
    for parameter in (fmtp.group(1).split(";") if fmtp else []):
        name, _, value = parameter.strip().partition("=")
        if "," in value:
            value = '"%s"' % value
        fields.append("%s=(string)%s" % (name, value))
    return "application/x-rtp, " + ", ".join(fields)


def write_capture(out_dir, name, caps, packets, sdp):
    path = os.path.join(out_dir, name + ".rtp")
    with open(path, "wb") as f:
        f.write(b"ZRRTP 1\n")
        f.write(b"caps " + caps.encode() + b"\n")
        for p in packets:
            f.write(struct.pack(">H", len(p)) + p)
    with open(os.path.join(out_dir, name + ".sdp"), "w", newline="") as f:
        f.write(sdp)
    print("%s: %d packets, %d bytes" % (path, len(packets), os.path.getsize(path)))


def prepare_amr(tmp):
    """A storage-format AMR file (RFC 4867 section 5) of a 440 Hz tone."""
    pipeline = Gst.parse_launch(AUDIO.format(n=100, spb=160, rate=8000, ch=1)
                                + " ! amrnbenc band-mode=MR122 ! appsink name=sink sync=false")
    data = bytearray(b"#!AMR\n")
    for buf in pull_buffers(pipeline):
        data += buf
    with open(os.path.join(tmp, "tone.amr"), "wb") as f:
        f.write(data)


def capture_ffmpeg(name, out_dir, tmp):
    if name == "ffmpeg_amr":
        prepare_amr(tmp)
    options, packet_size = FFMPEG_CAPTURES[name]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    sock.settimeout(1.0)
    sdp_path = os.path.join(tmp, name + ".sdp")
    url = "rtp://127.0.0.1:%d?pkt_size=%d" % (sock.getsockname()[1], packet_size)
    process = subprocess.Popen(["ffmpeg", "-nostdin", "-v", "error", "-y"]
                               + options.replace("{tmp}", tmp).split()
                               + ["-f", "rtp", "-sdp_file", sdp_path, url])
    packets = []
    while True:
        try:
            packets.append(sock.recv(65536))
        except socket.timeout:
            if process.poll() is not None:
                break
    sock.close()
    if process.returncode != 0:
        raise RuntimeError("ffmpeg failed for " + name)
    with open(sdp_path) as f:
        sdp = f.read()
    sdp = re.sub(r"a=tool:libavformat .*", "a=tool:libavformat LIBAVFORMAT_VERSION", sdp)
    sdp = re.sub(r"^(m=\w+) \d+", r"\1 5004", sdp, flags=re.M)
    write_capture(out_dir, name, caps_from_sdp(sdp), packets, sdp)


# Payload formats that no sender at hand writes: mpeg4-generic with
# interleaving, and AMR in the bandwidth-efficient mode and with the CRC
# list. Their packets are written here, following RFC 3640 and RFC 4867, from
# the frames of GStreamer's encoders.
HANDMADE = ["aac_interleaved", "amr_bandwidth_efficient", "amr_crc"]

# Speech bits of the AMR-NB frame types 0-8 (3GPP TS 26.101).
AMR_SPEECH_BITS = [95, 103, 118, 134, 148, 159, 204, 244, 39]


def rtp_packet(pt, seq, ts, marker, payload, ssrc=0x5EED0001):
    return struct.pack(">BBHII", 0x80, (0x80 if marker else 0) | pt, seq & 0xFFFF,
                       ts & 0xFFFFFFFF, ssrc) + payload


def encoded_frames(launch):
    """The encoder's output buffers and the caps of the first."""
    pipeline = Gst.parse_launch(launch + " ! appsink name=sink sync=false")
    caps = []
    frames = list(pull_buffers(pipeline, caps))
    return frames, caps[0]


def aac_interleaved():
    """AAC-hbr with interleaving (RFC 3640 sections 3.2.3.2 and 3.3.6): nine
    access units in three packets of three, packet j holding units j, j + 3
    and j + 6 (AU-Index-delta 2); each packet's timestamp is its first
    unit's."""
    frames, caps = encoded_frames(AUDIO.format(n=99, spb=1024, rate=44100, ch=2)
                                  + " ! voaacenc bitrate=64000 ! aacparse"
                                  + " ! audio/mpeg,stream-format=raw")
    config_hex = re.search(r"codec_data=\(buffer\)([0-9a-f]+)", caps).group(1)
    packets = []
    seq = 4000
    for block in range(0, len(frames) - 8, 9):
        for j in range(3):
            units = [block + j + 3 * k for k in range(3)]
            headers = b""
            for k, unit in enumerate(units):
                index = unit % 8 if k == 0 else 2
                headers += struct.pack(">H", len(frames[unit]) << 3 | index)
            payload = struct.pack(">H", 8 * len(headers)) + headers + b"".join(
                frames[unit] for unit in units)
            packets.append(rtp_packet(97, seq, 1000 + units[0] * 1024, True, payload))
            seq += 1
    sdp = (SDP_HEADER + "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 mpeg4-generic/44100/2\r\n"
           "a=fmtp:97 streamtype=5;profile-level-id=2;mode=AAC-hbr;config=%s;sizelength=13;"
           "indexlength=3;indexdeltalength=3\r\n" % config_hex)
    return packets, sdp


def amr_frames(mode):
    frames, _ = encoded_frames(AUDIO.format(n=100, spb=160, rate=8000, ch=1)
                               + " ! amrnbenc band-mode=%s" % mode)
    return frames


def amr_bandwidth_efficient():
    """Three 5.15 kbit/s frames a packet, their bits one after another
    (RFC 4867 section 4.3); the description has no fmtp, so the mode is
    bandwidth-efficient."""
    frames = amr_frames("MR515")
    packets = []
    for n in range(0, len(frames) - 2, 3):
        group = frames[n:n + 3]
        bits = "1111"
        for k, frame in enumerate(group):
            bits += ("1" if k < len(group) - 1 else "0") + format(frame[0] >> 3 & 15, "04b") + "1"
        for frame in group:
            speech = "".join(format(b, "08b") for b in frame[1:])
            bits += speech[:AMR_SPEECH_BITS[frame[0] >> 3 & 15]]
        bits += "0" * (-len(bits) % 8)
        payload = int(bits, 2).to_bytes(len(bits) // 8, "big")
        packets.append(rtp_packet(98, 100 + n // 3, 2000 + n * 160, n == 0, payload))
    sdp = SDP_HEADER + "m=audio 0 RTP/AVP 98\r\na=rtpmap:98 AMR/8000/1\r\n"
    return packets, sdp


def amr_crc():
    """Two 12.2 kbit/s frames a packet, octet-aligned with the CRC list (RFC
    4867 section 4.4.2.1). The CRC bytes are written as 0: the receiver skips
    the list and does not check it."""
    frames = amr_frames("MR122")
    packets = []
    for n in range(0, len(frames) - 1, 2):
        group = frames[n:n + 2]
        toc = bytes([0x80 | group[0][0], group[1][0]])
        payload = b"\xf0" + toc + bytes(len(group)) + b"".join(f[1:] for f in group)
        packets.append(rtp_packet(98, 60000 + n // 2, 3000 + n * 160, n == 0, payload))
    sdp = (SDP_HEADER + "m=audio 0 RTP/AVP 98\r\na=rtpmap:98 AMR/8000/1\r\n"
           "a=fmtp:98 octet-align=1;crc=1\r\n")
    return packets, sdp


def capture_handmade(name, out_dir):
    packets, sdp = {"aac_interleaved": aac_interleaved,
                    "amr_bandwidth_efficient": amr_bandwidth_efficient,
                    "amr_crc": amr_crc}[name]()
    write_capture(out_dir, name, caps_from_sdp(sdp), packets, sdp)


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


def pull_buffers(pipeline, caps_out=None, before_pull=None):
    """Plays the pipeline to its end and gives the bytes of every buffer that
    reaches its appsink "sink"; the caps of the first go into caps_out."""
    sink = pipeline.get_by_name("sink")
    pipeline.set_state(Gst.State.PLAYING)
    if before_pull:
        before_pull(pipeline)
    while True:
        sample = sink.emit("pull-sample")
        if sample is None:
            break
        if caps_out is not None and not caps_out:
            caps_out.append(sample.get_caps().to_string())
        buf = sample.get_buffer()
        ok, info = buf.map(Gst.MapFlags.READ)
        yield bytes(info.data)
        buf.unmap(info)
    pipeline.set_state(Gst.State.NULL)


def capture(name, launch, out_dir, tmp):
    if name == "mp4v":
        prepare_mp4v(tmp)
    launch = launch.replace("{tmp}", tmp)
    pipeline = Gst.parse_launch(launch + " ! appsink name=sink sync=false")
    caps = []
    packets = list(pull_buffers(pipeline, caps, feed_klv if name == "klv" else None))
    write_capture(out_dir, name, caps[0], packets, sdp_from_caps(caps[0]))


def write_sdp_only(name, out_dir):
    with open(os.path.join(out_dir, name + ".rtp"), "rb") as f:
        f.readline()
        caps = f.readline().decode()[len("caps "):].rstrip("\n")
    with open(os.path.join(out_dir, name + ".sdp"), "w", newline="") as f:
        f.write(sdp_from_caps(caps))


def main():
    Gst.init(None)
    args = sys.argv[1:]
    sdp_only = bool(args) and args[0] == "--sdp-only"
    if sdp_only:
        args.pop(0)
    out_dir = args.pop(0) if args and os.path.isdir(args[0]) else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "rtp")
    names = args or sorted(CAPTURES) + ([] if sdp_only else sorted(FFMPEG_CAPTURES) + HANDMADE)
    with tempfile.TemporaryDirectory() as tmp:
        for name in names:
            if sdp_only:
                write_sdp_only(name, out_dir)
            elif name in HANDMADE:
                capture_handmade(name, out_dir)
            elif name in FFMPEG_CAPTURES:
                capture_ffmpeg(name, out_dir, tmp)
            else:
                capture(name, CAPTURES[name], out_dir, tmp)


if __name__ == "__main__":
    main()
