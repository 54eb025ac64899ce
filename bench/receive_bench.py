#!/usr/bin/env python3
"""The receive path beside FFmpeg and GStreamer, in one run on one machine.

Makes (once) a 1080p H.264 file of about 8 Mbit/s, serves it from the local
GStreamer RTSP server (a stored file, so the server does not encode while
measuring), and receives 20 s of it over UDP and over TCP with:
  - this system (build/linux/bench/rtspreceive: samples created and dropped),
  - ffmpeg -rtsp_transport udp|tcp -i URL -c copy -f null -,
  - gst-launch-1.0 rtspsrc ... ! rtph264depay ! h264parse ! fakesink.
Prints each client's CPU time (user + system) and peak RSS, and the ratios
against this system. Absolute figures vary from machine to machine; the
ratios within one run are what to compare.

    bench/receive_bench.py [--build build/linux] [--seconds 20]
"""
import argparse
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def make_file(path):
    if os.path.exists(path):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    print("making %s (once)..." % path, file=sys.stderr)
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                    "testsrc2=size=1920x1080:rate=25:duration=30", "-c:v", "libx264",
                    "-preset", "veryfast", "-b:v", "8M", "-maxrate", "8M", "-bufsize", "4M",
                    "-g", "50", "-pix_fmt", "yuv420p", "-y", path + ".tmp.mkv"], check=True)
    os.rename(path + ".tmp.mkv", path)


def start_server(media):
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "tools", "gst_rtsp_server.py"),
                               "--file", "/bench=" + media], stdout=subprocess.PIPE, text=True)
    for line in server.stdout:
        if line.startswith("PORT "):
            return server, int(line.split()[1])
    raise RuntimeError("the RTSP server did not start")


def measure(command, seconds, stop_with_signal):
    """Runs the command, stopping it after the given time if asked; returns
    (CPU seconds, peak RSS in MiB, stdout+stderr)."""
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if stop_with_signal:
        try:
            process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            process.send_signal(signal.SIGINT)
    output = process.stdout.read()
    _, _, usage = os.wait4(process.pid, 0)
    cpu = usage.ru_utime + usage.ru_stime
    return cpu, usage.ru_maxrss / 1024.0, output, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "linux"))
    parser.add_argument("--seconds", type=int, default=20)
    args = parser.parse_args()
    receiver = os.path.join(args.build, "bench", "rtspreceive")
    media = os.path.join(args.build, "bench", "bench1080.mkv")
    make_file(media)
    server, port = start_server(media)
    url = "rtsp://127.0.0.1:%d/bench" % port
    rows = []
    try:
        for transport in ("udp", "tcp"):
            query = "" if transport == "udp" else "?Transport=TCP"
            clients = [
                ("this system", [receiver, url + query, str(args.seconds)], False),
                ("ffmpeg", ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "warning",
                            "-rtsp_transport", transport, "-i", url, "-t", str(args.seconds),
                            "-c", "copy", "-f", "null", "-"], False),
                ("gstreamer", ["gst-launch-1.0", "-e", "rtspsrc", "location=" + url,
                               "protocols=" + transport, "!", "rtph264depay", "!", "h264parse",
                               "!", "fakesink"], True),
            ]
            for name, command, stop in clients:
                cpu, rss, output, wall = measure(command, args.seconds, stop)
                lost = [line for line in output.splitlines()
                        if "gaps=" in line or "missed" in line.lower()]
                rows.append((transport, name, cpu, rss, wall, "; ".join(lost)[:70]))
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait()
    print("\n| transport | client | CPU s | CPU vs this | peak RSS MiB | RSS vs this | notes |")
    print("|---|---|---|---|---|---|---|")
    for transport in ("udp", "tcp"):
        mine = [r for r in rows if r[0] == transport and r[1] == "this system"][0]
        for row in rows:
            if row[0] != transport:
                continue
            print("| %s | %s | %.2f | %.2fx | %.1f | %.2fx | %s |" % (
                transport, row[1], row[2], row[2] / max(mine[2], 1e-9), row[3],
                row[3] / max(mine[3], 1e-9), row[5]))


if __name__ == "__main__":
    main()
