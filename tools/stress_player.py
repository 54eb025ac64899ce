#!/usr/bin/env python3
"""Plays the test server's live H.264 + AAC mount again and again with
rtspplay while busy loops load every CPU, through each way of playing and
over UDP and TCP, and reports the failures, the hangs and the slowest stop
(the time from the end of --seconds until the player had shut everything
down, from its summary). Not part of CI: a run takes minutes.

    tools/stress_player.py [--plays N] [--seconds S] [--busy-loops B]
                           [--wine] [--modes source,reader,session]
                           [--transports udp,tcp] [--build DIR]

Natively the player plays through the source (build/linux); with --wine the
Windows build plays through the DLL registered in its Wine prefix
(build/windows), through the source, a source reader and a media session.
GStreamer's test server is started for the run unless ZR_RTSP_PORT names
one. Exits with 1 when a play failed or hung, or a stop took longer than
--stop-limit seconds.
"""
import argparse
import json
import os
import select
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
ONE_SECOND = 10000000  # 100 ns units, as in the summary
HANG_MARGIN = 30  # seconds beyond --seconds after which a play counts as hung
SERVER_START_LIMIT = 120  # seconds


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--plays", type=int, default=20, help="plays per mode and transport")
    parser.add_argument("--seconds", type=float, default=3)
    parser.add_argument("--busy-loops", type=int, default=3)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--modes", help="default: source natively, all three under Wine")
    parser.add_argument("--transports", default="udp,tcp")
    parser.add_argument("--stop-limit", type=float, default=2.0)
    parser.add_argument("--build", help="default: build/linux or build/windows")
    args = parser.parse_args()
    if args.modes is None:
        args.modes = "source,reader,session" if args.wine else "source"
    if args.build is None:
        args.build = os.path.join(ROOT, "build", "windows" if args.wine else "linux")
    return args


class Player:
    """Runs the player natively or through tools/wine-run.sh, with the DLL
    registered in the build's Wine prefix for the player's lifetime."""

    def __init__(self, args):
        self.wine = args.wine
        program = "rtspplay.exe" if args.wine else "rtspplay"
        self.program = os.path.join(args.build, "tools", "rtspplay", program)
        self.dll = os.path.join(args.build, "src", "zrrtsp.dll")
        self.wine_run = os.path.join(HERE, "wine-run.sh")
        self.env = dict(os.environ)
        if self.wine:
            self.env["WINEPREFIX"] = os.path.join(args.build, "wineprefix")
            self.run([self.wine_run, "wineboot", "-i"])
            self.run([self.wine_run, "regsvr32", "/s", self.dll])

    def close(self):
        if self.wine:
            self.run([self.wine_run, "regsvr32", "/s", "/u", self.dll])

    def path(self, local):
        return "Z:" + local.replace("/", "\\") if self.wine else local

    def play(self, options, timeout):
        return self.run(([self.wine_run] if self.wine else []) + [self.program] + options, timeout)

    def run(self, command, timeout=None):
        """The exit code (None when the time ran out) and the output, which
        goes through a file: processes Wine starts hold an inherited pipe."""
        with tempfile.TemporaryFile() as output:
            try:
                code = subprocess.run(command, env=self.env, stdout=output,
                                      stderr=subprocess.STDOUT, timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                code = None
            output.seek(0)
            return code, output.read().decode(errors="replace")


def play(player, args, mode, transport, scratch):
    """One play: (exit code or None when it hung, seconds of wall time,
    stop time in seconds or None, output)."""
    summary = os.path.join(scratch, "summary.json")
    if os.path.exists(summary):
        os.remove(summary)
    url = "rtsp://127.0.0.1:%s/av%s" % (os.environ["ZR_RTSP_PORT"],
                                        "?Transport=TCP" if transport == "tcp" else "")
    options = ["--seconds", str(args.seconds), "--json", player.path(summary)]
    options += [] if mode == "source" else ["--" + mode]
    began = time.monotonic()
    code, output = player.play(options + [url], args.seconds + HANG_MARGIN)
    wall = time.monotonic() - began
    stop = None
    if code is not None and os.path.exists(summary):
        with open(summary) as text:
            stop = json.load(text).get("stop_time", 0) / ONE_SECOND
    return code, wall, stop, output


def start_server():
    """GStreamer's test server, once it has said its port (it makes its
    files first, which takes long on a loaded machine)."""
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "gst_rtsp_server.py")],
                              stdout=subprocess.PIPE, text=True)
    deadline = time.monotonic() + SERVER_START_LIMIT
    while time.monotonic() < deadline:
        ready, _, _ = select.select([server.stdout], [], [], deadline - time.monotonic())
        line = server.stdout.readline() if ready else ""
        if line.startswith("PORT "):
            os.environ["ZR_RTSP_PORT"] = line.split()[1]
            return server
        if not line and server.poll() is not None:
            break
    server.kill()
    server.wait()
    sys.exit("stress_player.py: the RTSP server did not start")


def main():
    args = parse_args()
    server = None if "ZR_RTSP_PORT" in os.environ else start_server()
    busy = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
            for _ in range(args.busy_loops)]
    player = Player(args)
    results = {}
    try:
        with tempfile.TemporaryDirectory() as scratch:
            for mode in args.modes.split(","):
                for transport in args.transports.split(","):
                    runs = []
                    for number in range(args.plays):
                        run = play(player, args, mode, transport, scratch)
                        runs.append(run)
                        code, wall, stop, output = run
                        if code != 0:
                            state = "HANG" if code is None else "exit %d" % code
                            print("%s %s play %d: %s after %.1f s: %s" % (
                                mode, transport, number + 1, state, wall,
                                output.strip().replace("\n", " | ")), flush=True)
                    results[(mode, transport)] = runs
    finally:
        player.close()
        for process in busy + ([server] if server else []):
            process.kill()
            process.wait()
    bad = False
    print("\n%-8s %-9s %6s %9s %6s %16s %16s %17s" % (
        "mode", "transport", "plays", "failures", "hangs", "median stop (s)", "slowest stop (s)",
        "longest play (s)"))
    for (mode, transport), runs in results.items():
        hangs = sum(1 for run in runs if run[0] is None)
        failures = sum(1 for run in runs if run[0] not in (0, None))
        stops = [run[2] for run in runs if run[2] is not None]
        median = sorted(stops)[len(stops) // 2] if stops else float("nan")
        slowest = max(stops) if stops else float("nan")
        longest = max(run[1] for run in runs)
        print("%-8s %-9s %6d %9d %6d %16.2f %16.2f %17.1f" % (
            mode, transport, len(runs), failures, hangs, median, slowest, longest))
        bad = bad or hangs or failures or not stops or slowest > args.stop_limit
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
