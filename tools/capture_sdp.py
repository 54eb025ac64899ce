#!/usr/bin/python3
"""Captures the session descriptions of RTSP servers as test fixtures.

    tools/capture_sdp.py describe URL FILE
        sends DESCRIBE to URL over a raw socket and saves the body, byte for
        byte, to FILE;
    tools/capture_sdp.py gst DIRECTORY
        starts tools/gst_rtsp_server.py and saves the description of each of
        its mounts as DIRECTORY/gst_<mount>.sdp;
    tools/capture_sdp.py ffmpeg DIRECTORY
        lets ffmpeg's RTP muxer write descriptions (-sdp_file) as
        DIRECTORY/ffmpeg_<case>.sdp. The packets go to multicast groups (TTL
        1) or to an unused local port; only the description is kept.
"""

import os
import re
import socket
import subprocess
import sys
import urllib.parse

MOUNTS = ["h264", "h264-noconfig", "h265", "jpeg", "jpeg422", "mp4v", "aac", "amr", "pcma",
          "pcmu", "g726", "klv", "opus", "onvif", "av", "vod"]


def describe(url):
    """The body of the DESCRIBE answer for url."""
    parts = urllib.parse.urlsplit(url)
    with socket.create_connection((parts.hostname, parts.port or 554), timeout=30) as sock:
        request = ("DESCRIBE %s RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n"
                   "User-Agent: capture_sdp\r\n\r\n" % url)
        sock.sendall(request.encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = sock.recv(4096)
            if not chunk:
                raise RuntimeError("connection closed in the headers")
            answer += chunk
        headers, body = answer.split(b"\r\n\r\n", 1)
        status = headers.split(b"\r\n", 1)[0]
        if b" 200 " not in status:
            raise RuntimeError("%s: %s" % (url, status.decode()))
        length = int(re.search(rb"(?im)^content-length:\s*(\d+)", headers).group(1))
        while len(body) < length:
            chunk = sock.recv(4096)
            if not chunk:
                raise RuntimeError("connection closed in the body")
            body += chunk
        return body[:length]


def capture_gst(directory):
    server_script = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                 "gst_rtsp_server.py")
    server = subprocess.Popen(["/usr/bin/python3", server_script], stdout=subprocess.PIPE)
    try:
        line = server.stdout.readline().decode()
        if not line.startswith("PORT "):
            raise RuntimeError("the server did not start: %r" % line)
        port = int(line.split()[1])
        os.makedirs(directory, exist_ok=True)
        for mount in MOUNTS:
            body = describe("rtsp://127.0.0.1:%d/%s" % (port, mount))
            path = os.path.join(directory, "gst_%s.sdp" % mount.replace("-", "_"))
            with open(path, "wb") as f:
                f.write(body)
            print("%s: %d bytes" % (path, len(body)))
    finally:
        server.terminate()
        server.wait()


VIDEO = ["-f", "lavfi", "-i", "testsrc=size=640x480:rate=25"]
AUDIO_48K = ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000"]
AUDIO_8K = ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000"]
GROUP = "rtp://239.255.12.1:%d?ttl=1"
LOCAL = "rtp://127.0.0.1:%d"

# case: (inputs, [(encoder arguments, muxer, url)]); one output per stream.
FFMPEG_CASES = {
    # Without global headers the muxer knows no parameter sets: no sprop.
    "h264_aac_multicast": (VIDEO + AUDIO_48K, [
        ("-map 0:v -c:v libx264 -pix_fmt yuv420p -profile:v main", "rtp", GROUP % 5004),
        ("-map 1:a -c:a aac -b:a 96k -ac 2", "rtp", GROUP % 5006)]),
    "h264_sprop": (VIDEO, [
        ("-c:v libx264 -pix_fmt yuv420p -profile:v high -flags +global_header", "rtp",
         LOCAL % 5004)]),
    "h265_sprop": (VIDEO, [
        ("-c:v libx265 -pix_fmt yuv420p -x265-params log-level=error -flags +global_header",
         "rtp", LOCAL % 5004)]),
    "mp4v": (VIDEO, [("-c:v mpeg4 -flags +global_header", "rtp", LOCAL % 5004)]),
    "mjpeg": (VIDEO, [("-c:v mjpeg -pix_fmt yuvj420p", "rtp", LOCAL % 5004)]),
    "pcma_pcmu": (AUDIO_8K, [("-map 0:a -c:a pcm_alaw", "rtp", LOCAL % 5004),
                             ("-map 0:a -c:a pcm_mulaw", "rtp", LOCAL % 5006)]),
    "g726": (AUDIO_8K, [("-c:a adpcm_g726 -b:a 24k", "rtp", LOCAL % 5004)]),
    "opus": (AUDIO_48K, [("-c:a libopus -ac 2", "rtp", LOCAL % 5004)]),
}


def capture_ffmpeg(directory):
    os.makedirs(directory, exist_ok=True)
    for name, (inputs, outputs) in FFMPEG_CASES.items():
        path = os.path.join(directory, "ffmpeg_%s.sdp" % name)
        args = ["ffmpeg", "-hide_banner", "-v", "error", "-re"] + inputs
        for encoder, muxer, url in outputs:
            args += encoder.split() + ["-t", "0.2", "-f", muxer, url]
        subprocess.run(args + ["-sdp_file", path], check=True)
        print("%s: %d bytes" % (path, os.path.getsize(path)))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "describe":
        with open(sys.argv[3], "wb") as f:
            f.write(describe(sys.argv[2]))
    elif len(sys.argv) == 3 and sys.argv[1] == "gst":
        capture_gst(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "ffmpeg":
        capture_ffmpeg(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
