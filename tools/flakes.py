#!/usr/bin/env python3
"""Repeats the tests that talk to real or scripted servers, and every test of
the Windows build (they run under Wine), N times each while busy loops load
the CPU, and reports every test that failed even once, with the output of
its failing runs. Not part of the test command: run it before trusting a
change to timing, threads or the network.

    tools/flakes.py [-n 20] [--load 3] [--jobs 1] [-R REGEX] BUILD_DIR...

With no BUILD_DIR it takes build/linux and build/windows (both must have been
built, the Windows one with its Wine prefix booted, as tools/test.sh does).
A native build repeats only its real-server, scripted-server and player
tests (-R overrides that); the Windows build repeats all of them.
"""
import argparse
import json
import multiprocessing
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

NATIVE_DEFAULT = r"integration|session|mfsource|rtspplay|decode|multicast|realserver"


def busy_loop():
    while True:
        pass


def list_tests(build, regex):
    """The names of the tests `regex` selects, and those of them that must run
    alone (RUN_SERIAL: the Windows multicast test restarts the Wine server)."""
    listing = json.loads(subprocess.run(
        ["ctest", "--test-dir", build, "--show-only=json-v1", "-R", regex],
        capture_output=True, text=True, check=True).stdout)
    names, serial = [], set()
    for test in listing["tests"]:
        names.append(test["name"])
        if any(p["name"] == "RUN_SERIAL" and p["value"] for p in test.get("properties", [])):
            serial.add(test["name"])
    return names, serial


def run_once(build, name, log_dir, attempt):
    """Runs one test once; the path of its log when it failed, else None."""
    log = os.path.join(log_dir, "%s.%s.%d.log" % (os.path.basename(build), name, attempt))
    with open(log, "w") as output:
        result = subprocess.run(
            ["ctest", "--test-dir", build, "-R", "^%s$" % re.escape(name), "--output-on-failure"],
            stdout=output, stderr=subprocess.STDOUT)
    if result.returncode == 0:
        os.remove(log)
        return None
    return log


def repeat(build, tests, serial, runs, jobs, log_dir):
    """Runs each test `runs` times, `jobs` at a time, never two runs of one
    test at once (a test's output folder is its own, not its run's) and a
    test of `serial` beside no other; yields (name, failed log or None,
    seconds) as runs end."""
    pending = [(name, attempt) for attempt in range(runs) for name in tests]
    running = set()
    ended = queue.Queue()
    condition = threading.Condition()

    def startable(name):
        if name in serial:
            return not running
        return name not in running and not (running & serial)

    def worker():
        while True:
            with condition:
                while True:
                    item = next((it for it in pending if startable(it[0])), None)
                    if item or not pending:
                        break
                    condition.wait()
                if item is None:
                    return
                pending.remove(item)
                running.add(item[0])
            started = time.monotonic()
            log = run_once(build, item[0], log_dir, item[1])
            ended.put((item[0], log, time.monotonic() - started))
            with condition:
                running.discard(item[0])
                condition.notify_all()

    threads = [threading.Thread(target=worker, daemon=True) for _ in range(jobs)]
    for thread in threads:
        thread.start()
    for _ in range(runs * len(tests)):
        yield ended.get()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("builds", nargs="*", default=["build/linux", "build/windows"])
    parser.add_argument("-n", type=int, default=20, help="runs of each test")
    parser.add_argument("--load", type=int, default=3, help="busy loops beside the tests")
    parser.add_argument("--jobs", type=int, default=1, help="tests run at the same time")
    parser.add_argument("-R", dest="regex", help="the tests to repeat (ctest -R)")
    args = parser.parse_args()

    env_prefix = os.environ.get("WINEPREFIX")
    loops = [multiprocessing.Process(target=busy_loop, daemon=True) for _ in range(args.load)]
    for loop in loops:
        loop.start()
    log_dir = tempfile.mkdtemp(prefix="flakes.")
    failed = {}
    slowest = {}
    try:
        for build in args.builds:
            windows = os.path.exists(os.path.join(build, "wineprefix"))
            if windows:
                os.environ["WINEPREFIX"] = os.path.abspath(os.path.join(build, "wineprefix"))
            elif env_prefix is None:
                os.environ.pop("WINEPREFIX", None)
            regex = args.regex or (".*" if windows else NATIVE_DEFAULT)
            tests, serial = list_tests(build, regex)
            print("%s: %d tests x %d runs under %d busy loops" %
                  (build, len(tests), args.n, args.load), flush=True)
            for name, log, seconds in repeat(build, tests, serial, args.n, args.jobs, log_dir):
                key = "%s %s" % (build, name)
                slowest[key] = max(slowest.get(key, 0.0), seconds)
                if log:
                    failed.setdefault(key, []).append(log)
                    print("FAILED %s (%s)" % (key, log), flush=True)
    finally:
        for loop in loops:
            loop.terminate()

    print("\nSlowest run of each test:")
    for key, seconds in sorted(slowest.items(), key=lambda item: -item[1]):
        print("  %7.1f s  %s" % (seconds, key))
    if failed:
        print("\nFlaky or failing (%d):" % len(failed))
        for key, logs in sorted(failed.items()):
            print("  %s: %d of %d runs failed; logs: %s" % (key, len(logs), args.n, " ".join(logs)))
        return 1
    print("\nNo test failed in %d runs. Logs: %s" % (args.n, log_dir))
    return 0


if __name__ == "__main__":
    sys.exit(main())
