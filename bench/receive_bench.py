#!/usr/bin/env python3
"""The receive path beside FFmpeg and GStreamer, in one run on one machine.

Prints one table with:
  - 20 s of 1080p H.264 (8 Mbit/s) received over UDP and over TCP from
    GStreamer's RTSP server, from a live mount (the server encodes, a key
    frame every second) and from the stored file, by this system's player
    (build/linux/tools/rtspplay: the source, its streams and sample queues),
    by FFmpeg (-c copy -f null) and by GStreamer (rtspsrc ! rtph264depay !
    h264parse ! fakesink): CPU time (user + system of the client, from
    wait4), peak RSS, system calls (perf stat, all threads) and system calls
    per RTP packet (the packets the server sent that client);
  - 64 sources in one process (build/linux/bench/rtspreceive) on a shared
    live mount beside one source alone: CPU per source, extra memory per
    source, and the loss seen against the datagrams the kernel dropped at the
    receiver's own sockets;
  - from PLAY to the first sample, and from the sending of a frame's last
    packet to the sample reaching the application (bench/livesender.py, a
    scripted camera that logs both on the same clock);
and states the machine, its load and the versions. The machine may be
shared: compare CPU time and system calls, which depend little on load, and
use --repeat to take the median of several runs of each client.

    bench/receive_bench.py [--build build/linux] [--seconds 20] [--repeat 1]
                           [--sources 64] [--tsan build/tsan]

--tsan runs 64 sources for 30 s with the ThreadSanitizer build's
rtspreceive instead (configure build/tsan with -DZR_BENCH=ON) and reports
whether it found anything.
"""
import argparse
import datetime
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PERF = shutil.which("perf")
GOALS = []


def make_media(directory):
    """The stored file the server plays, and the Annex B file of the scripted
    camera (a key frame every 25 frames, access unit delimiters)."""
    os.makedirs(directory, exist_ok=True)
    common = ["-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=%d",
              "-c:v", "libx264", "-preset", "veryfast", "-b:v", "8M", "-maxrate", "8M",
              "-bufsize", "4M", "-pix_fmt", "yuv420p"]
    stored = os.path.join(directory, "bench1080.mkv")
    camera = os.path.join(directory, "camera1080.h264")
    for path, seconds, extra in (
            (stored, 30, ["-g", "50", "-f", "matroska"]),
            (camera, 10, ["-g", "25", "-keyint_min", "25", "-sc_threshold", "0", "-bf", "0",
                          "-x264-params", "aud=1", "-f", "h264"])):
        if os.path.exists(path):
            continue
        print("making %s (once)..." % path, file=sys.stderr)
        args = [a.replace("%d", str(seconds)) for a in common]
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error"] + args + extra +
                       ["-y", path + ".tmp"], check=True)
        os.rename(path + ".tmp", path)
    return stored, camera


def start_process(command, env=None):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True, env=env)
    for line in process.stdout:
        if line.startswith("PORT "):
            return process, int(line.split()[1])
    raise RuntimeError("%s did not start" % command[0])


def stop_process(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def descendants(pid):
    found = []
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            children = [int(c) for c in f.read().split()]
    except OSError:
        return found
    for child in children:
        found.append(child)
        found.extend(descendants(child))
    return found


def socket_drops(pids):
    """Datagrams the kernel dropped at the UDP sockets of the processes."""
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir("/proc/%d/fd" % pid):
                target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except OSError:
            pass
    drops = 0
    with open("/proc/net/udp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[9] in inodes:
                drops += int(fields[-1])
    return drops


def udp_send_errors():
    with open("/proc/net/snmp") as f:
        lines = [l.split() for l in f if l.startswith("Udp:")]
    return int(dict(zip(lines[0][1:], lines[1][1:]))["SndbufErrors"])


def measure(command, seconds=None, drops_at=None):
    """Runs the command, stopped with SIGINT after the given time if asked.
    Returns CPU seconds and peak RSS of the command (from wait4, through
    /usr/bin/time), its system calls (perf stat, all threads; None without
    perf), its output and, with drops_at, its sockets' drops at that time."""
    scratch = tempfile.mkdtemp(prefix="receive_bench.")
    time_file = os.path.join(scratch, "time")
    perf_file = os.path.join(scratch, "perf")
    wrapped = ["/usr/bin/time", "-f", "%U %S %M", "-o", time_file]
    if seconds:
        wrapped += ["timeout", "-s", "INT", "-k", "10", str(seconds)]
    wrapped += command
    if PERF:
        wrapped = [PERF, "stat", "-x,", "-e", "raw_syscalls:sys_enter", "-o", perf_file,
                   "--"] + wrapped
    process = subprocess.Popen(wrapped, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True)
    drops = None
    if drops_at:
        time.sleep(drops_at)
        drops = socket_drops(descendants(process.pid))
    output = process.communicate()[0]
    with open(time_file) as f:
        user, system, rss = f.read().split()[-3:]
    syscalls = None
    if PERF:
        with open(perf_file) as f:
            for line in f:
                if "raw_syscalls:sys_enter" in line:
                    syscalls = int(line.split(",")[0])
    shutil.rmtree(scratch, ignore_errors=True)
    return {"cpu": float(user) + float(system), "rss": int(rss) / 1024.0,
            "syscalls": syscalls, "output": output, "drops": drops}


class PacketLog:
    """The server's count of the RTP packets it sent for each media (a
    client of a mount that is not shared has its own)."""

    def __init__(self, path):
        self.path = path
        self.seen = 0

    def next_count(self, mount, limit=15):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            lines = open(self.path).read().splitlines() if os.path.exists(self.path) else []
            for line in lines[self.seen:]:
                self.seen += 1
                fields = line.split()
                if fields[0] == "SENT" and fields[1] == mount:
                    return int(fields[2].split("=")[1])
            time.sleep(0.2)
        return None


def clients(args, url, transport, seconds):
    query = "" if transport == "udp" else "?Transport=TCP"
    player = os.path.join(args.build, "tools", "rtspplay", "rtspplay")
    return [
        ("this system", [player, "--seconds", str(seconds), url + query], None),
        ("FFmpeg", ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "warning",
                    "-rtsp_transport", transport, "-i", url, "-t", str(seconds),
                    "-c", "copy", "-f", "null", "-"], None),
        ("GStreamer", ["gst-launch-1.0", "-q", "-e", "rtspsrc", "location=" + url,
                       "protocols=" + transport, "!", "rtph264depay", "!", "h264parse",
                       "!", "fakesink"], seconds),
    ]


def single_stream_rows(args, port, packets):
    rows = []
    for stream, mount in (("live", "/live1080"), ("stored", "/bench")):
        url = "rtsp://127.0.0.1:%d%s" % (port, mount)
        for transport in ("udp", "tcp"):
            for name, command, stop in clients(args, url, transport, args.seconds):
                runs = []
                for _ in range(args.repeat):
                    result = measure(command, stop)
                    result["packets"] = packets.next_count(mount)
                    runs.append(result)
                    print("  %s %s %s: %.3f s CPU, %s system calls, %s packets" % (
                        stream, transport, name, result["cpu"], result["syscalls"],
                        result["packets"]), file=sys.stderr)
                rows.append({"stream": stream, "transport": transport, "client": name,
                             "cpu": statistics.median(r["cpu"] for r in runs),
                             "rss": statistics.median(r["rss"] for r in runs),
                             "syscalls": median_or_none(r["syscalls"] for r in runs),
                             "packets": median_or_none(r["packets"] for r in runs)})
    return rows


def median_or_none(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def print_single_stream(rows):
    print("\n| stream | transport | client | CPU s | vs FFmpeg | vs GStreamer | peak RSS MiB "
          "| RTP packets | system calls | per packet |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for row in rows:
        peers = {r["client"]: r for r in rows
                 if r["stream"] == row["stream"] and r["transport"] == row["transport"]}
        per_packet = (row["syscalls"] / row["packets"]
                      if row["syscalls"] is not None and row["packets"] else None)
        row["per_packet"] = per_packet
        print("| %s | %s | %s | %.3f | %.2fx | %.2fx | %.1f | %s | %s | %s |" % (
            row["stream"], row["transport"], row["client"], row["cpu"],
            row["cpu"] / max(peers["FFmpeg"]["cpu"], 1e-9),
            row["cpu"] / max(peers["GStreamer"]["cpu"], 1e-9), row["rss"],
            "%d" % row["packets"] if row["packets"] else "n/a",
            "%d" % row["syscalls"] if row["syscalls"] is not None else "n/a",
            "%.2f" % per_packet if per_packet is not None else "n/a"))
    for transport, limit in (("udp", 2.0), ("tcp", 1.0)):
        for stream in ("live", "stored"):
            mine = [r for r in rows if r["client"] == "this system" and r["stream"] == stream
                    and r["transport"] == transport][0]
            peers = {r["client"]: r for r in rows
                     if r["stream"] == stream and r["transport"] == transport}
            if mine["per_packet"] is not None:
                goal("%s %s: system calls per RTP packet <= %.1f" % (stream, transport, limit),
                     "%.2f" % mine["per_packet"], mine["per_packet"] <= limit)
            ratio = max(mine["cpu"] / peers["FFmpeg"]["cpu"], mine["cpu"] / peers["GStreamer"]["cpu"])
            goal("%s %s: CPU <= 0.35x FFmpeg's and GStreamer's" % (stream, transport),
                 "%.2fx / %.2fx" % (mine["cpu"] / peers["FFmpeg"]["cpu"],
                                    mine["cpu"] / peers["GStreamer"]["cpu"]), ratio <= 0.35)
            goal("%s %s: peak RSS <= 8 MB" % (stream, transport), "%.1f MiB" % mine["rss"],
                 mine["rss"] * 1024 * 1024 <= 8e6)


def goal(text, figure, met):
    GOALS.append((text, figure, "yes" if met else "NO"))


def parse_receive(output):
    line = [l for l in output.splitlines() if l.startswith("sources=")]
    if not line:
        raise RuntimeError("rtspreceive failed:\n" + output)
    return dict(field.split("=") for field in line[-1].split())


def many_sources(args, receiver, url):
    rows = []
    for count in (1, args.sources):
        errors_before = udp_send_errors()
        result = measure([receiver, "--sources", str(count), url, str(args.seconds)],
                         drops_at=args.seconds - 1)
        counts = parse_receive(result["output"])
        rows.append((count, result, counts, udp_send_errors() - errors_before))
        print("  %d sources: %.3f s CPU, %.1f MiB" % (count, result["cpu"], result["rss"]),
              file=sys.stderr)
    print("\n| sources | CPU s | CPU per source s | peak RSS MiB | frames | fewest per source "
          "| gaps | datagrams dropped at our sockets | UDP send errors (machine) |")
    print("|---|---|---|---|---|---|---|---|---|")
    for count, result, counts, send_errors in rows:
        print("| %d | %.3f | %.4f | %.1f | %s | %s | %s | %s | %d |" % (
            count, result["cpu"], result["cpu"] / count, result["rss"], counts["frames"],
            counts["fewest"], counts["gaps"], result["drops"], send_errors))
    (_, alone, alone_counts, _), (count, many, many_counts, _) = rows
    extra = (many["rss"] - alone["rss"]) / (count - 1)
    ratio = (many["cpu"] / count) / alone["cpu"]
    goal("%d sources: no loss at our sockets" % count,
         "%s dropped, %s gaps" % (many["drops"], many_counts["gaps"]),
         many["drops"] == 0 and int(many_counts["fewest"]) > 0)
    goal("%d sources: extra memory per source <= 1 MiB" % count, "%.2f MiB" % extra, extra <= 1.0)
    goal("%d sources: CPU per source <= 1.2x one alone" % count, "%.2fx" % ratio, ratio <= 1.2)


def latency(args, receiver, camera):
    print("\n| transport | PLAY to first sample ms | frames | last packet to sample: p50 ms "
          "| p99 ms | max ms |")
    print("|---|---|---|---|---|---|")
    for transport in ("udp", "tcp"):
        scratch = tempfile.mkdtemp(prefix="receive_latency.")
        sent_log = os.path.join(scratch, "sent")
        got_log = os.path.join(scratch, "got")
        sender, port = start_process(["python3", os.path.join(HERE, "livesender.py"),
                                      "--file", camera, "--log", sent_log])
        query = "" if transport == "udp" else "?Transport=TCP"
        try:
            subprocess.run([receiver, "--latency", got_log,
                            "rtsp://127.0.0.1:%d/live%s" % (port, query), str(args.seconds)],
                           check=True, stdout=subprocess.DEVNULL)
        finally:
            stop_process(sender)
        sent = {}
        play = None
        for fields in (l.split() for l in open(sent_log)):
            if fields[0] == "PLAY":
                play = int(fields[1])
            elif fields[0] == "FRAME":
                sent[int(fields[1])] = int(fields[2])
        delays = []
        first = None
        for fields in (l.split() for l in open(got_log)):
            if fields[0] == "SAMPLE":
                first = first or int(fields[1])
                if int(fields[2]) in sent:
                    delays.append((int(fields[1]) - sent[int(fields[2])]) / 1e6)
        shutil.rmtree(scratch, ignore_errors=True)
        delays.sort()
        p99 = delays[min(len(delays) - 1, int(len(delays) * 0.99))]
        start = (first - play) / 1e6
        print("| %s | %.0f | %d | %.2f | %.2f | %.2f |" % (
            transport, start, len(delays), delays[len(delays) // 2], p99, delays[-1]))
        goal("%s: PLAY to first sample <= 1200 ms (key frame every 1000 ms)" % transport,
             "%.0f ms" % start, start <= 1200)
        goal("%s: last packet of a frame to its sample, p99 <= 2 ms" % transport,
             "%.2f ms" % p99, p99 <= 2.0)


def tsan_run(args, url):
    receiver = os.path.join(args.tsan, "bench", "rtspreceive")
    env = dict(os.environ, TSAN_OPTIONS="halt_on_error=0 exitcode=66")
    result = subprocess.run([receiver, "--sources", str(args.sources), url, "30"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
    reports = result.stdout.count("WARNING: ThreadSanitizer")
    print(result.stdout.splitlines()[-1] if result.stdout else "")
    print("ThreadSanitizer, %d sources for 30 s: %d reports, exit code %d" % (
        args.sources, reports, result.returncode))
    return 0 if reports == 0 and result.returncode == 0 else 1


def describe_machine(args):
    model = [l.split(":", 1)[1].strip() for l in subprocess.run(
        ["lscpu"], stdout=subprocess.PIPE, text=True).stdout.splitlines()
        if l.startswith("Model name")]
    version = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"],
                             stdout=subprocess.PIPE, text=True).stdout.strip()
    ffmpeg = subprocess.run(["ffmpeg", "-version"], stdout=subprocess.PIPE,
                            text=True).stdout.split("\n")[0]
    gst = subprocess.run(["gst-launch-1.0", "--version"], stdout=subprocess.PIPE,
                         text=True).stdout.split("\n")[1]
    print("Receive path benchmark, %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"))
    print("Machine: %s, %d CPUs, Linux %s, load average %s at the start" % (
        model[0] if model else "?", os.cpu_count(), os.uname().release,
        " ".join("%.1f" % l for l in os.getloadavg())))
    print("Versions: this system %s (%s); %s; %s; perf %s" % (
        version, args.build, ffmpeg, gst, "yes" if PERF else "missing (no system calls)"))
    print("Each client runs %d s; CPU is user + system time of the client's process tree "
          "(wait4), the median of %d run(s)." % (args.seconds, args.repeat))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "linux"))
    parser.add_argument("--seconds", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=1)
    parser.add_argument("--sources", type=int, default=64)
    parser.add_argument("--tsan", help="a ThreadSanitizer build: run only its check")
    args = parser.parse_args()
    stored, camera = make_media(os.path.join(args.build, "bench"))
    stats = tempfile.NamedTemporaryFile(prefix="receive_bench.", suffix=".stats", delete=False)
    stats.close()
    server, port = start_process(
        ["/usr/bin/python3", os.path.join(ROOT, "tools", "gst_rtsp_server.py"),
         "--file", "/bench=" + stored], env=dict(os.environ, ZR_RTSP_STATS=stats.name))
    try:
        if args.tsan:
            return tsan_run(args, "rtsp://127.0.0.1:%d/h264-shared" % port)
        describe_machine(args)
        receiver = os.path.join(args.build, "bench", "rtspreceive")
        rows = single_stream_rows(args, port, PacketLog(stats.name))
        print_single_stream(rows)
        many_sources(args, receiver, "rtsp://127.0.0.1:%d/live1080-shared" % port)
    finally:
        stop_process(server)
        os.unlink(stats.name)
    latency(args, receiver, camera)
    print("\n| goal | this run | met |")
    print("|---|---|---|")
    for text, figure, met in GOALS:
        print("| %s | %s | %s |" % (text, figure, met))
    return 0


if __name__ == "__main__":
    sys.exit(main())
