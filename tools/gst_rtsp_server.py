#!/usr/bin/python3
"""The project's GStreamer RTSP test server.

Serves one mount per payload format on 127.0.0.1 with a port chosen by the
kernel, prints exactly one line "PORT <n>" on stdout when it is ready and
runs until SIGTERM or SIGINT.

    /usr/bin/python3 tools/gst_rtsp_server.py [--auth none|basic|digest
        --user U --password P] [--protocols udp,tcp,http,multicast]
        [--tls] [--ipv6]

--tls serves the same mounts over RTSPS as well, on 127.0.0.1 with a port of
its own and a self-signed certificate for "localhost" made with openssl at
start-up; --ipv6 serves them on ::1 as well. Before the PORT line the server
then prints "TLS_PORT <n>" and "TLS_CA <file of the certificate>", and
"IPV6_PORT <n>".

Mounts:
    /h264          H.264 640x480, parameter sets in band and in SDP
    /h264-noconfig H.264 640x480, parameter sets only in sprop-parameter-sets
    /h265          H.265 640x480
    /jpeg          Motion JPEG 4:2:0 (RTP/JPEG type 1)
    /jpeg422       Motion JPEG 4:2:2 (RTP/JPEG type 0)
    /mp4v          MPEG-4 part 2 from a file made with ffmpeg at start-up
    /aac           AAC (mpeg4-generic, AAC-hbr), 44100 Hz stereo
    /amr           AMR narrow-band, octet-aligned
    /pcma, /pcmu   G.711 A-law and mu-law
    /g726          G.726-32 with the RFC 3551 bit packing
    /klv           KLV metadata (smpte336m) pushed from this script
    /opus          Opus, mono: rtpmap OPUS/48000/2 with sprop-stereo=0
    /onvif         ONVIF metadata (vnd.onvif.metadata): ten XML documents a
                   second, each over several packets; every seventh
                   (ObjectId 3, 10, 17, ...) loses a packet on the way
    /av            two tracks: H.264 video (pixel aspect ratio 16:15) and AAC audio
    /vod           a stored H.264 + AAC presentation of 30 s with a range
    /finite        two finite live tracks: 2 s of H.264 video, 6 s of AAC audio;
                   each ends with an RTCP BYE
    /live1080      H.264 1920x1080 at about 8 Mbit/s, a key frame every second
    /live1080-shared, /h264-shared  /live1080 and /h264 with one encoder that
                   every client shares, as a camera has (the benchmark's)
    --file /PATH=FILE  also serves an H.264 Matroska file (the benchmark's)

With ZR_RTSP_STATS naming a file, the server appends one line to it for every
new receiver report block that its RTP sessions hold from a client:
    RR <mount> <stream> ssrc=<client SSRC, hex> rb-ssrc=<reported SSRC, hex>
       fraction=<n> lost=<n> highest=<n> lsr=<n> dlsr=<n>   (on one line)
and, when a media ends (the last client of a mount left), the RTP packets
its first stream sent:
    SENT <mount> packets=<n>

With ZR_RTSP_FILES naming a directory, the stored presentations are made
there and left in place (vod.mkv, mp4v.mkv), so that a test can compare what
it played with the file; otherwise they live in a temporary directory.

The GObject bindings need Debian's interpreter, /usr/bin/python3.
"""

import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import Gio, GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

H264_SOURCE = ("videotestsrc is-live=true pattern=smpte horizontal-speed=4 ! "
               "video/x-raw,width=640,height=480,framerate=25/1 ! "
               "x264enc tune=zerolatency speed-preset=ultrafast bitrate=1000 key-int-max=50")
# The benchmark's live camera: what a 1080p camera sends.
LIVE1080 = ("videotestsrc is-live=true pattern=smpte horizontal-speed=4 ! "
            "video/x-raw,width=1920,height=1080,framerate=25/1 ! "
            "x264enc tune=zerolatency speed-preset=ultrafast bitrate=8000 key-int-max=25 ! "
            "rtph264pay name=pay0 pt=96 config-interval=-1")
AAC_SOURCE = ("audiotestsrc is-live=true ! audio/x-raw,rate=44100,channels=2 ! "
              "voaacenc bitrate=128000 ! aacparse")


def pipelines(files):
    return {
        "/h264": H264_SOURCE + " ! rtph264pay name=pay0 pt=96 config-interval=-1",
        "/h264-noconfig": H264_SOURCE + " ! rtph264pay name=pay0 pt=96 config-interval=0",
        # x265 on one thread: its pool's hand-overs wait for the scheduler, and
        # on a loaded machine it fell to a few frames a second.
        "/h265": "videotestsrc is-live=true ! video/x-raw,width=640,height=480,framerate=25/1 ! "
                 "x265enc tune=zerolatency speed-preset=ultrafast bitrate=1000 key-int-max=50 "
                 "option-string=pools=none:frame-threads=1 ! "
                 "rtph265pay name=pay0 pt=96 config-interval=-1",
        "/jpeg": "videotestsrc is-live=true ! "
                 "video/x-raw,width=640,height=480,framerate=25/1,format=I420 ! "
                 "jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26",
        "/jpeg422": "videotestsrc is-live=true ! "
                    "video/x-raw,width=640,height=480,framerate=25/1,format=Y42B ! "
                    "jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26",
        # A live MPEG-4 encoder fails inside the server ("Invalid pts").
        "/mp4v": "filesrc location=%s ! matroskademux ! mpeg4videoparse ! "
                 "rtpmp4vpay name=pay0 pt=96 config-interval=-1" % files["mp4v"],
        "/aac": AAC_SOURCE + " ! rtpmp4gpay name=pay0 pt=97",
        "/amr": "audiotestsrc is-live=true ! audio/x-raw,rate=8000,channels=1 ! "
                "amrnbenc band-mode=MR122 ! rtpamrpay name=pay0 pt=98",
        "/pcma": "audiotestsrc is-live=true ! audio/x-raw,rate=8000,channels=1 ! alawenc ! "
                 "rtppcmapay name=pay0 pt=8",
        "/pcmu": "audiotestsrc is-live=true ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! "
                 "rtppcmupay name=pay0 pt=0",
        # force-aal2=false packs code words as RFC 3551 says; max-ptime keeps
        # packets at 20 ms instead of 256-512 ms.
        "/g726": "audiotestsrc is-live=true ! audio/x-raw,rate=8000,channels=1 ! "
                 "avenc_g726 bitrate=32000 ! "
                 "rtpg726pay name=pay0 pt=100 force-aal2=false max-ptime=20000000",
        # rtpklvpay writes the encoding name in upper case; RFC 6597 registers
        # it as smpte336m, which is what cameras send. The element that the
        # server takes the stream from is the last one, named pay0.
        "/klv": "appsrc name=klvsrc is-live=true do-timestamp=true format=time "
                "caps=meta/x-klv,parsed=true ! rtpklvpay pt=99 ! "
                "capssetter name=pay0 caps=application/x-rtp,encoding-name=smpte336m",
        "/opus": "audiotestsrc is-live=true freq=440 ! audio/x-raw,rate=48000,channels=1 ! "
                 "opusenc ! rtpopuspay name=pay0 pt=111",
        # No payloader writes ONVIF metadata: this script sends the packets.
        "/onvif": "appsrc name=pay0 is-live=true do-timestamp=true format=time "
                  "caps=application/x-rtp,media=application,clock-rate=90000,"
                  "encoding-name=vnd.onvif.metadata,payload=107",
        # Non-square pixels, as a PAL camera's: the sequence header says 16:15.
        "/av": H264_SOURCE.replace("framerate=25/1", "framerate=25/1,pixel-aspect-ratio=16/15") +
               " ! rtph264pay name=pay0 pt=96 config-interval=-1 " +
               AAC_SOURCE + " ! rtpmp4gpay name=pay1 pt=97",
        "/vod": "filesrc location=%s ! matroskademux name=demux "
                "demux.video_0 ! queue ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=-1 "
                "demux.audio_0 ! queue ! aacparse ! rtpmp4gpay name=pay1 pt=97" % files["vod"],
        "/live1080": LIVE1080,
        "/live1080-shared": LIVE1080,
        "/h264-shared": H264_SOURCE + " ! rtph264pay name=pay0 pt=96 config-interval=-1",
        # 50 frames at 25/s, 260 buffers of 1024 samples at 44100 Hz.
        "/finite": H264_SOURCE.replace("is-live=true", "is-live=true num-buffers=50") +
                   " ! rtph264pay name=pay0 pt=96 config-interval=-1 " +
                   AAC_SOURCE.replace("is-live=true", "is-live=true num-buffers=260") +
                   " ! rtpmp4gpay name=pay1 pt=97",
    }


def make_files(directory):
    """The stored presentations, made with ffmpeg (both encodes at once)."""
    files = {"mp4v": os.path.join(directory, "mp4v.mkv"),
             "vod": os.path.join(directory, "vod.mkv")}
    jobs = [
        subprocess.Popen(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                          "testsrc=size=640x480:rate=25:duration=30", "-c:v", "mpeg4",
                          "-b:v", "1M", "-g", "25", "-y", files["mp4v"]]),
        subprocess.Popen(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                          "testsrc=size=640x480:rate=25:duration=30", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=44100:duration=30", "-c:v", "libx264",
                          "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", "50",
                          "-c:a", "aac", "-b:a", "128k", "-y", files["vod"]]),
    ]
    for job in jobs:
        if job.wait() != 0:
            raise RuntimeError("ffmpeg failed to make a stored presentation")
    return files


# A KLV unit (SMPTE 336M): the UAS Datalink local set key, a BER length and
# two items (tag 2, the precision time stamp; tag 65, the version).
KLV_KEY = bytes([0x06, 0x0E, 0x2B, 0x34, 0x02, 0x0B, 0x01, 0x01,
                 0x0E, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00])


def klv_unit(counter):
    value = bytes([0x02, 0x08]) + counter.to_bytes(8, "big") + bytes([0x41, 0x01, 0x0B])
    return KLV_KEY + bytes([len(value)]) + value


class KlvFeeder:
    """Pushes ten KLV units a second into the appsrc of a /klv media."""

    def __init__(self, appsrc):
        self.appsrc = appsrc
        self.counter = 0
        self.source = GLib.timeout_add(100, self.push)

    def push(self):
        self.counter += 1
        buffer = Gst.Buffer.new_wrapped(klv_unit(self.counter))
        return self.appsrc.emit("push-buffer", buffer) == Gst.FlowReturn.OK


def on_klv_configure(factory, media):
    appsrc = media.get_element().get_child_by_name("klvsrc")
    media.klv_feeder = KlvFeeder(appsrc)


def onvif_document(number):
    """An ONVIF metadata document (a scene description) of about 700 bytes."""
    objects = "".join(
        '<tt:Object ObjectId="%d"><tt:Appearance><tt:Shape><tt:BoundingBox left="%d.0" '
        'top="10.0" right="%d.0" bottom="90.0"/></tt:Shape></tt:Appearance></tt:Object>'
        % (number, k, k + 20) for k in range(3))
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<tt:MetadataStream xmlns:tt="http://www.onvif.org/ver10/schema">'
            '<tt:VideoAnalytics><tt:Frame UtcTime="2024-01-01T00:00:%02d.%dZ">%s</tt:Frame>'
            '</tt:VideoAnalytics></tt:MetadataStream>'
            % (number // 10 % 60, number % 10, objects)).encode()


class OnvifFeeder:
    """Sends ten ONVIF metadata documents a second as RTP packets into the
    appsrc of an /onvif media: 200 bytes of a document per packet, the last
    with the marker bit, all with the document's timestamp. Every seventh
    document loses its second packet: the sequence number goes on as if it
    had been sent."""

    PAYLOAD = 200
    SSRC = 0x0BADCAFE

    def __init__(self, appsrc):
        self.appsrc = appsrc
        self.number = 0
        self.sequence = 4242
        self.source = GLib.timeout_add(100, self.push)

    def push(self):
        document = onvif_document(self.number)
        timestamp = (self.number * 9000 + 0x12345678) & 0xFFFFFFFF
        pieces = [document[i:i + self.PAYLOAD] for i in range(0, len(document), self.PAYLOAD)]
        for index, piece in enumerate(pieces):
            marker = 0x80 if index == len(pieces) - 1 else 0
            header = struct.pack(">BBHII", 0x80, marker | 107, self.sequence & 0xFFFF, timestamp,
                                 self.SSRC)
            self.sequence += 1
            if self.number % 7 == 3 and index == 1:
                continue
            buffer = Gst.Buffer.new_wrapped(header + piece)
            if self.appsrc.emit("push-buffer", buffer) != Gst.FlowReturn.OK:
                return False
        self.number += 1
        return True


def on_onvif_configure(factory, media):
    appsrc = media.get_element().get_child_by_name("pay0")
    media.onvif_feeder = OnvifFeeder(appsrc)


class ReportLog:
    """Appends the receiver report blocks that the medias' RTP sessions hold
    from their clients to a file, each distinct one once."""

    def __init__(self, path):
        self.path = path
        self.medias = []
        self.seen = set()
        GLib.timeout_add(200, self.poll)

    def add(self, mount, media):
        self.medias.append((mount, media))
        sent = [0]

        def count(pad, info):
            if info.type & Gst.PadProbeType.BUFFER_LIST:
                sent[0] += info.get_buffer_list().length()
            else:
                sent[0] += 1
            return Gst.PadProbeReturn.OK

        payloader = media.get_element().get_child_by_name("pay0")
        payloader.get_static_pad("src").add_probe(
            Gst.PadProbeType.BUFFER | Gst.PadProbeType.BUFFER_LIST, count)
        media.connect("unprepared", self.remove, mount, sent)

    def remove(self, media, mount, sent):
        self.medias = [(m, x) for (m, x) in self.medias if x is not media]
        with open(self.path, "a") as log:
            log.write("SENT %s packets=%d\n" % (mount, sent[0]))

    def poll(self):
        lines = []
        for mount, media in self.medias:
            for index in range(media.n_streams()):
                session = media.get_stream(index).get_rtpsession()
                if session is None:
                    continue
                # The sources live only as long as the statistics: keep them.
                stats = session.get_property("stats")
                for source in stats.get_value("source-stats"):
                    # Only remote sources carry the blocks of their reports.
                    if not source.has_field("have-rb") or not source.get_value("have-rb"):
                        continue
                    line = ("RR %s %d ssrc=%08X rb-ssrc=%08X fraction=%d lost=%d highest=%d "
                            "lsr=%d dlsr=%d\n" % (
                                mount, index, source.get_value("ssrc"),
                                source.get_value("rb-ssrc"), source.get_value("rb-fractionlost"),
                                source.get_value("rb-packetslost"),
                                source.get_value("rb-exthighestseq"),
                                source.get_value("rb-lsr"), source.get_value("rb-dlsr")))
                    if line not in self.seen:
                        self.seen.add(line)
                        lines.append(line)
        if lines:
            with open(self.path, "a") as log:
                log.writelines(lines)
        return True


PROTOCOLS = {
    "udp": GstRtsp.RTSPLowerTrans.UDP,
    "tcp": GstRtsp.RTSPLowerTrans.TCP,
    "http": GstRtsp.RTSPLowerTrans.HTTP | GstRtsp.RTSPLowerTrans.TCP,
    "multicast": GstRtsp.RTSPLowerTrans.UDP_MCAST,
}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--auth", choices=["none", "basic", "digest"], default="none")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="password")
    parser.add_argument("--file", action="append", default=[], metavar="/PATH=FILE",
                        help="serve an H.264 Matroska file on a mount of its own")
    parser.add_argument("--protocols", default="udp,tcp,http",
                        help="comma-separated: " + ",".join(PROTOCOLS))
    parser.add_argument("--tls", action="store_true", help="also serve RTSPS")
    parser.add_argument("--ipv6", action="store_true", help="also serve on ::1")
    args = parser.parse_args()
    args.lower_transports = GstRtsp.RTSPLowerTrans(0)
    for name in args.protocols.split(","):
        if name not in PROTOCOLS:
            parser.error("unknown protocol %r" % name)
        args.lower_transports |= PROTOCOLS[name]
    return args


class OpenTlsAuth(GstRtspServer.RTSPAuth):
    """Lets every client in: the connection check, which sets up the TLS
    handshake, is the only one left to the base class."""

    def do_check(self, ctx, check):
        if check == GstRtspServer.RTSP_AUTH_CHECK_CONNECT:
            return GstRtspServer.RTSPAuth.do_check(self, ctx, check)
        return True


def make_certificate(directory):
    """A self-signed certificate for localhost and its key, for two days."""
    cert = os.path.join(directory, "server.pem")
    key = os.path.join(directory, "server.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    return cert, key


def extra_server(address, mounts, tls_certificate=None):
    """Another listener for the same mounts."""
    server = GstRtspServer.RTSPServer()
    server.set_address(address)
    server.set_service("0")
    server.set_mount_points(mounts)
    if tls_certificate:
        auth = OpenTlsAuth()
        auth.set_tls_certificate(Gio.TlsCertificate.new_from_files(*tls_certificate))
        server.set_auth(auth)
    server.attach(None)
    return server


def add_authentication(server, args):
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string("media.factory.role", args.user)
    if args.auth == "basic":
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
    else:
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        auth.add_digest(args.user, args.password, token)
    server.set_auth(auth)


def main():
    args = parse_arguments()
    Gst.init(None)
    shared = os.environ.get("ZR_RTSP_FILES")
    directory = shared or tempfile.mkdtemp(prefix="gst_rtsp_server.")
    try:
        files = make_files(directory)
        server = GstRtspServer.RTSPServer()
        server.set_address("127.0.0.1")
        server.set_service("0")
        if args.auth != "none":
            add_authentication(server, args)
        mounts = server.get_mount_points()
        # Multicast needs group addresses to hand out (TTL 1).
        multicast_pool = GstRtspServer.RTSPAddressPool()
        multicast_pool.add_range("239.255.42.1", "239.255.42.254", 45000, 45999, 1)
        multicast_pool.add_range("ff15::5a52:10", "ff15::5a52:ff", 46000, 46999, 1)
        report_log = ReportLog(os.environ["ZR_RTSP_STATS"]) if os.environ.get(
            "ZR_RTSP_STATS") else None
        launches = pipelines(files)
        for mount in args.file:
            path, name = mount.split("=", 1)
            launches[path] = ("filesrc location=%s ! matroskademux ! h264parse ! "
                              "rtph264pay name=pay0 pt=96 config-interval=-1" % name)
        for path, launch in launches.items():
            factory = GstRtspServer.RTSPMediaFactory()
            factory.set_launch("( %s )" % launch)
            factory.set_shared(path.endswith("-shared"))
            factory.set_protocols(args.lower_transports)
            if args.auth != "none":
                factory.add_role_from_structure(Gst.Structure.new_from_string(
                    "%s, media.factory.access=(boolean)true, "
                    "media.factory.construct=(boolean)true" % args.user))
            if args.lower_transports & GstRtsp.RTSPLowerTrans.UDP_MCAST:
                factory.set_address_pool(multicast_pool)
            if path == "/klv":
                factory.connect("media-configure", on_klv_configure)
            if path == "/onvif":
                factory.connect("media-configure", on_onvif_configure)
            if report_log:
                factory.connect("media-configure",
                                lambda factory, media, mount=path: report_log.add(mount, media))
            mounts.add_factory(path, factory)
        server.attach(None)
        if args.tls:
            certificate = make_certificate(directory)
            tls_server = extra_server("127.0.0.1", mounts, certificate)
            sys.stdout.write("TLS_PORT %d\nTLS_CA %s\n" % (tls_server.get_bound_port(),
                                                          certificate[0]))
        if args.ipv6:
            ipv6_server = extra_server("::1", mounts)
            sys.stdout.write("IPV6_PORT %d\n" % ipv6_server.get_bound_port())

        loop = GLib.MainLoop()
        for signum in (signal.SIGTERM, signal.SIGINT):
            # A shell starts background jobs with SIGINT ignored; GLib's
            # handler is only reached when the disposition is the default.
            signal.signal(signum, signal.SIG_DFL)
            GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
        sys.stdout.write("PORT %d\n" % server.get_bound_port())
        sys.stdout.flush()
        loop.run()
    finally:
        if not shared:
            shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
