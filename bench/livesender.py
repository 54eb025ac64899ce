#!/usr/bin/env python3
"""A scripted live camera for the latency benchmark.

Serves one H.264 stream over RTSP on 127.0.0.1 (a kernel-chosen port,
printed as "PORT <n>"), over UDP or interleaved TCP as the client asks. The
frames come from an Annex B file (with access unit delimiters) and are sent
in a loop, 25 a second, each frame's packets back to back as a camera sends
them. Every frame starts with a user-data-unregistered SEI that carries a
frame counter (bench/rtspreceive.cpp reads it back from the samples).

The log gets, on the monotonic clock in nanoseconds:
    PLAY <ns>             when a PLAY request arrived
    FRAME <n> <ns> <key>  when frame n's last packet had been sent

The first frame sent after PLAY is the one that follows a key frame, so that
a receiver waits almost a whole key-frame interval for its first sample.

    bench/livesender.py --file FILE.h264 --log LOG
"""
import argparse
import base64
import socket
import struct
import sys
import threading
import time

FRAME_MARK = bytes([0x5A, 0x52, 0x4C, 0x41, 0x54, 0x45, 0x4E, 0x43,
                    0x59, 0x46, 0x52, 0x41, 0x4D, 0x45, 0x49, 0x44])
PAYLOAD_TYPE = 96
MTU = 1400
FRAME_INTERVAL = 0.04
TICKS_PER_FRAME = 3600
SSRC = 0x4C415445


def split_nal_units(data):
    """The NAL units of an Annex B stream, without their start codes."""
    starts = []
    i = data.find(b"\x00\x00\x01")
    while i >= 0:
        starts.append(i + 3)
        i = data.find(b"\x00\x00\x01", i + 3)
    units = []
    for n, start in enumerate(starts):
        end = starts[n + 1] - 3 if n + 1 < len(starts) else len(data)
        unit = data[start:end]
        units.append(unit.rstrip(b"\x00") if n + 1 < len(starts) else unit)
    return [u for u in units if u]


def access_units(units):
    """Units grouped into access units at each delimiter (type 9), which is
    dropped."""
    frames = []
    for unit in units:
        if unit[0] & 0x1F == 9:
            frames.append([])
        elif frames:
            frames[-1].append(unit)
    return [f for f in frames if f]


def frame_sei(counter):
    """A SEI NAL unit with the frame counter, without zero bytes (so that no
    emulation prevention is needed)."""
    mark = bytes([0x80 | (counter >> 21) & 0x7F, 0x80 | (counter >> 14) & 0x7F,
                  0x80 | (counter >> 7) & 0x7F, 0x80 | counter & 0x7F])
    return bytes([0x06, 0x05, len(FRAME_MARK) + 4]) + FRAME_MARK + mark + b"\x80"


def payloads(units):
    """RFC 6184 payloads: a unit that fits is sent as it is, a larger one in
    FU-A fragments."""
    for unit in units:
        if len(unit) <= MTU:
            yield unit
            continue
        indicator = unit[0] & 0xE0 | 28
        body = unit[1:]
        for offset in range(0, len(body), MTU - 2):
            header = unit[0] & 0x1F
            if offset == 0:
                header |= 0x80
            if offset + MTU - 2 >= len(body):
                header |= 0x40
            yield bytes([indicator, header]) + body[offset:offset + MTU - 2]


class Sender:
    def __init__(self, frames, log):
        self.frames = frames
        self.log = log
        self.lock = threading.Lock()
        self.thread = None
        self.playing = False
        self.sequence = 1000
        self.timestamp = 0x12345678

    def start(self, send):
        self.stop()
        self.playing = True
        self.thread = threading.Thread(target=self.run, args=(send,), daemon=True)
        self.thread.start()

    def stop(self):
        self.playing = False
        if self.thread and self.thread is not threading.current_thread():
            self.thread.join()
        self.thread = None

    def run(self, send):
        start = time.monotonic()
        for n in range(1 << 28):
            if not self.playing:
                return
            delay = start + n * FRAME_INTERVAL - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            units = self.frames[(n + 1) % len(self.frames)]
            key = any(u[0] & 0x1F == 5 for u in units)
            parts = list(payloads([frame_sei(n)] + units))
            packets = []
            for i, part in enumerate(parts):
                marker = 0x80 if i + 1 == len(parts) else 0
                packets.append(struct.pack("!BBHII", 0x80, marker | PAYLOAD_TYPE,
                                           self.sequence & 0xFFFF,
                                           self.timestamp & 0xFFFFFFFF, SSRC) + part)
                self.sequence += 1
            self.timestamp += TICKS_PER_FRAME
            if not send(packets):
                return
            self.log.write("FRAME %d %d %d\n" % (n, time.monotonic_ns(), key))


class Connection:
    def __init__(self, sock, port, frames, log):
        self.sock = sock
        self.port = port
        self.log = log
        self.sender = Sender(frames, log)
        self.send_lock = threading.Lock()
        self.udp_target = None
        self.rtp = None
        self.rtcp = None
        sps = next(u for f in frames for u in f if u[0] & 0x1F == 7)
        pps = next(u for f in frames for u in f if u[0] & 0x1F == 8)
        self.sdp = ("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=live\r\nc=IN IP4 127.0.0.1\r\n"
                    "t=0 0\r\na=control:*\r\na=range:npt=now-\r\n"
                    "m=video 0 RTP/AVP %d\r\na=rtpmap:%d H264/90000\r\n"
                    "a=fmtp:%d packetization-mode=1;profile-level-id=%s;"
                    "sprop-parameter-sets=%s,%s\r\na=control:track1\r\n" % (
                        PAYLOAD_TYPE, PAYLOAD_TYPE, PAYLOAD_TYPE, sps[1:4].hex(),
                        base64.b64encode(sps).decode(), base64.b64encode(pps).decode()))

    def serve(self):
        pending = b""
        try:
            while True:
                while b"\r\n\r\n" not in pending:
                    data = self.sock.recv(65536)
                    if not data:
                        return
                    pending += data
                request, pending = pending.split(b"\r\n\r\n", 1)
                self.answer(request.decode("latin-1"))
        except OSError:
            pass
        finally:
            self.sender.stop()
            self.sock.close()

    def reply(self, cseq, headers="", body=""):
        text = "RTSP/1.0 200 OK\r\nCSeq: %s\r\n%s" % (cseq, headers)
        if body:
            text += "Content-Length: %d\r\n" % len(body)
        with self.send_lock:
            self.sock.sendall((text + "\r\n" + body).encode("latin-1"))

    def answer(self, request):
        lines = request.split("\r\n")
        method, url = lines[0].split(" ")[:2]
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        cseq = headers.get("cseq", "0")
        session = "Session: 4C415445;timeout=60\r\n"
        if method == "OPTIONS":
            self.reply(cseq, "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER\r\n")
        elif method == "DESCRIBE":
            self.reply(cseq, "Content-Base: rtsp://127.0.0.1:%d/live/\r\n"
                             "Content-Type: application/sdp\r\n" % self.port, self.sdp)
        elif method == "SETUP":
            self.reply(cseq, session + "Transport: %s\r\n" % self.setup(headers["transport"]))
        elif method == "PLAY":
            self.log.write("PLAY %d 0\n" % time.monotonic_ns())
            self.reply(cseq, session + "Range: npt=now-\r\n")
            self.sender.start(self.send_udp if self.udp_target else self.send_interleaved)
        elif method == "TEARDOWN":
            self.sender.stop()
            self.reply(cseq, session)
        else:
            self.reply(cseq, session)

    def setup(self, transport):
        if "interleaved" in transport:
            self.udp_target = None
            return "RTP/AVP/TCP;unicast;interleaved=0-1;ssrc=%08X" % SSRC
        client = next(p for p in transport.split(";") if p.startswith("client_port="))
        rtp_port = int(client.split("=")[1].split("-")[0])
        self.udp_target = ("127.0.0.1", rtp_port)
        if not self.rtp:
            self.rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.rtp.bind(("127.0.0.1", 0))
            self.rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.rtcp.bind(("127.0.0.1", 0))
        return "RTP/AVP;unicast;client_port=%d-%d;server_port=%d-%d;ssrc=%08X" % (
            rtp_port, rtp_port + 1, self.rtp.getsockname()[1], self.rtcp.getsockname()[1], SSRC)

    def send_udp(self, packets):
        try:
            for packet in packets:
                self.rtp.sendto(packet, self.udp_target)
            return True
        except OSError:
            return False

    def send_interleaved(self, packets):
        frames = b"".join(b"$\x00" + struct.pack("!H", len(p)) + p for p in packets)
        try:
            with self.send_lock:
                self.sock.sendall(frames)
            return True
        except OSError:
            return False


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)
        self.lock = threading.Lock()

    def write(self, line):
        with self.lock:
            self.file.write(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--file", required=True, help="Annex B H.264 with access unit delimiters")
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    with open(args.file, "rb") as f:
        frames = access_units(split_nal_units(f.read()))
    log = Log(args.log)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    port = listener.getsockname()[1]
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()
    while True:
        sock, _ = listener.accept()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        connection = Connection(sock, port, frames, log)
        threading.Thread(target=connection.serve, daemon=True).start()


if __name__ == "__main__":
    main()
