#!/usr/bin/env python3
"""Plays the H.264 + AAC mount of the test server with rtspplay and checks
what it wrote: the player exits with 0, the JSON summary describes both
streams, sample times advance as the frames do, and FFmpeg decodes every
written stream without a word. The stored presentation (/vod) is played
from 10 s, and with a pause: its duration is reported, the first samples lie
within a key-frame interval of the start, and a pause neither moves the
times on nor loses the streams. The finite mount ends each stream with a
BYE: the player sees both ends and the end of the presentation, and stops
by itself. The live mount also plays over RTSPS and over IPv6 (UDP and TCP)
when the server offers them, in the first mode only. Runs under
tests/with_rtsp_server.sh --tls --ipv6.

    check_player.py --player PATH --out DIR --modes source,reader,session
                    [--wine WINE_RUN --dll DLL]

With --wine the player is the Windows build, run through tools/wine-run.sh:
the DLL is registered with regsvr32 first (twice, and a copy at another
path is unregistered in between, which must change nothing) and
unregistered at the end, which must leave the registry as it was.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

CLSID = "{6F0B1E43-93C2-4C5E-9A7D-2B8E51F4D7A1}"
REGISTRY_KEYS = [
    "HKCR\\CLSID\\" + CLSID,
    "HKLM\\Software\\Microsoft\\Windows Media Foundation",
    "HKCU\\Software\\Microsoft\\Windows Media Foundation",
]
SECONDS = 3
FRAME_TIME = 400000  # 25 frames per second, in 100 ns
ONE_SECOND = 10000000
KEY_FRAME_INTERVAL = 2 * ONE_SECOND  # the /vod file: 50 frames at 25 fps

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)
    return condition


class Wine:
    def __init__(self, wine_run, program):
        self.wine_run = wine_run
        prefix = subprocess.run([wine_run, "--print-prefix", program], capture_output=True,
                                text=True, check=True).stdout.strip()
        self.env = dict(os.environ, WINEPREFIX=prefix)

    def run(self, *args, timeout=None):
        """The exit code and the output. The output goes through a file: the
        services Wine starts inherit a pipe and hold it open for seconds."""
        with tempfile.TemporaryFile() as output:
            result = subprocess.run([self.wine_run] + list(args), env=self.env, stdout=output,
                                    stderr=subprocess.STDOUT, timeout=timeout)
            output.seek(0)
            return result.returncode, output.read().decode(errors="replace")

    @staticmethod
    def path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def registry(self, scratch):
        """The exported text of every key registration touches ("" when absent)."""
        texts = []
        for number, key in enumerate(REGISTRY_KEYS):
            exported = os.path.join(scratch, "key%d.reg" % number)
            if os.path.exists(exported):
                os.remove(exported)
            self.run("reg", "export", key, self.path(exported), "/y")
            texts.append(open(exported, "rb").read() if os.path.exists(exported) else b"")
        return texts

    def regsvr32(self, dll, *flags):
        return self.run("regsvr32", "/s", *flags, self.path(dll))[0]


def check_summary(summary, label, stored, finite):
    streams = summary.get("streams", [])
    if not check(len(streams) == 2, "%s: %d streams in the summary" % (label, len(streams))):
        return
    video, audio = streams
    check((video["kind"], video["codec"], video["width"], video["height"])
          == ("video", "H264", 640, 480), "%s: video stream %s" % (label, video))
    check((audio["kind"], audio["codec"]) == ("audio", "AAC"), "%s: audio stream %s" % (label, audio))
    if stored:
        check(30 * ONE_SECOND <= summary["duration"] < 31 * ONE_SECOND,
              "%s: duration %d" % (label, summary["duration"]))
    else:
        check(summary["duration"] == 0, "%s: a live presentation has no duration" % label)
    for stream in streams:
        name = "%s %s" % (label, stream["codec"])
        check(stream["samples"] >= 10 * SECONDS, "%s: only %d samples" % (name, stream["samples"]))
        check(stream["bytes"] > 0 and stream["ended"] == finite, "%s: %s" % (name, stream))
    check(video["key_frames"] >= 1, "%s: no key frame" % label)
    # Times advance with the frames: the span of n frames is about n - 1
    # frame times (a few may be late or lost, none come twice).
    span = video["last_time"] - video["first_time"]
    expected = (video["samples"] - 1) * FRAME_TIME
    check(0.9 * expected <= span <= 1.5 * expected,
          "%s: %d frames span %d (100 ns)" % (label, video["samples"], span))


def check_start(summary, label):
    """Played from 10 s: every stream begins within a key-frame interval."""
    for stream in summary.get("streams", []):
        check(abs(stream["first_time"] - 10 * ONE_SECOND) < KEY_FRAME_INTERVAL,
              "%s %s: first sample at %d" % (label, stream["codec"], stream["first_time"]))


def check_pause(summary, label):
    """Paused for 2 s: the times resume where they stood (the span is the
    playing time, not the wall time), with a discontinuity at the resume."""
    for stream in summary.get("streams", []):
        span = stream["last_time"] - stream["first_time"]
        check(span < (SECONDS + 1) * ONE_SECOND,
              "%s %s: %d (100 ns) span a pause" % (label, stream["codec"], span))
        check(stream["discontinuities"] >= 2,
              "%s %s: %d discontinuities" % (label, stream["codec"], stream["discontinuities"]))


# What each play does: the mount, the transport, the player's options and
# the check of its summary beyond the common one.
CASES = [
    ("live_udp", "/av", "udp", [], None),
    ("live_tcp", "/av", "tcp", [], None),
    ("start", "/vod", "udp", ["--start", "10"], check_start),
    ("pause", "/vod", "tcp", ["--pause", "1:2"], check_pause),
    ("finite", "/finite", "udp", None, None),  # no --seconds: it plays to the end
    ("tls_udp", "/av", "udp", [], None),
    ("tls_tcp", "/av", "tcp", [], None),
    ("ipv6_udp", "/av", "udp", [], None),
    ("ipv6_tcp", "/av", "tcp", [], None),
]


def case_url(name, mount, transport):
    """The URL of a case, or None when the server does not offer its kind."""
    options = ["Transport=TCP"] if transport == "tcp" else []
    if name.startswith("tls"):
        # The server's certificate is self-signed.
        server = "rtsps://127.0.0.1:%s" % os.environ.get("ZR_RTSP_TLS_PORT", "")
        options.append("TlsVerify=0")
    elif name.startswith("ipv6"):
        server = "rtsp://[::1]:%s" % os.environ.get("ZR_RTSP_IPV6_PORT", "")
    else:
        server = "rtsp://127.0.0.1:%s" % os.environ["ZR_RTSP_PORT"]
    if server.endswith(":"):
        return None
    return server + mount + ("?" + "&".join(options) if options else "")


def check_decodes(directory, label):
    for name in ("stream0.h264", "stream1.aac"):
        path = os.path.join(directory, name)
        if not check(os.path.exists(path), "%s: %s was not written" % (label, name)):
            continue
        result = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"],
                                capture_output=True, text=True)
        check(result.returncode == 0 and not result.stderr.strip(),
              "%s: FFmpeg on %s: %s" % (label, name, result.stderr.strip()))


def play(args, wine, mode, case):
    name, mount, transport, extra, check_more = case
    label = "%s %s" % (mode, name)
    directory = os.path.join(args.out, "%s_%s" % (mode, name))
    shutil.rmtree(directory, ignore_errors=True)
    url = case_url(name, mount, transport)
    if url is None:
        print("%s: skipped, the server does not offer it" % label)
        return
    summary_path = os.path.join(directory, "summary.json")
    options = ["--seconds", str(SECONDS)] + extra if extra is not None else []
    options += [] if mode == "source" else ["--" + mode]
    if wine:
        command = [args.player] + options + ["--out", wine.path(directory),
                                             "--json", wine.path(summary_path), url]
        code, output = wine.run(*command, timeout=120)
    else:
        command = [args.player] + options + ["--out", directory, "--json", summary_path, url]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120)
        code, output = result.returncode, result.stderr
    print("%s: exit %d" % (label, code))
    if not check(code == 0, "%s: exit %d: %s" % (label, code, output.strip())):
        return
    summary = json.load(open(summary_path))
    check_summary(summary, label, mount == "/vod", mount == "/finite")
    if check_more:
        check_more(summary, label)
    check_decodes(directory, label)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--modes", default="source")
    parser.add_argument("--wine")
    parser.add_argument("--dll")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    wine = Wine(args.wine, args.player) if args.wine else None
    if wine:
        wine.regsvr32(args.dll, "/u")  # what an interrupted run left behind
        before = wine.registry(args.out)
        check(wine.regsvr32(args.dll) == 0, "regsvr32 failed")
        registered = wine.registry(args.out)
        check(registered[0] and registered != before, "registration wrote nothing")
        copy = os.path.join(args.out, "copy", os.path.basename(args.dll))
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copy(args.dll, copy)
        check(wine.regsvr32(copy, "/u") == 0, "unregistering a copy failed")
        check(wine.registry(args.out) == registered, "unregistering a copy changed the registry")
        check(wine.regsvr32(args.dll) == 0, "registering again failed")
        check(wine.registry(args.out) == registered, "registering again changed the registry")
    modes = args.modes.split(",")
    for mode in modes:
        for case in CASES:
            # The secure and IPv6 plays change only the connection: once.
            if mode == modes[0] or not case[0].startswith(("tls", "ipv6")):
                play(args, wine, mode, case)
    if wine:
        check(wine.regsvr32(args.dll, "/u") == 0, "unregistering failed")
        check(wine.registry(args.out) == before, "unregistering left the registry changed")
    print("%d failures" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
