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


def properties(test):
    return {p["name"]: p["value"] for p in test.get("properties", [])}


def list_tests(build, regex):
    """The tests to repeat, each with the tests it runs (itself and the fixture
    setups it requires, which ctest runs first), and the names of those that
    must run alone (RUN_SERIAL: the Windows multicast test restarts the Wine
    server). A setup that another selected test requires runs only with it."""
    def listing(*selection):
        return json.loads(subprocess.run(
            ["ctest", "--test-dir", build, "--show-only=json-v1"] + list(selection),
            capture_output=True, text=True, check=True).stdout)["tests"]
    setups = {}
    for test in listing():
        for fixture in properties(test).get("FIXTURES_SETUP", []):
            setups.setdefault(fixture, set()).add(test["name"])
    members, serial = {}, set()
    for test in listing("-R", regex):
        props = properties(test)
        members[test["name"]] = {test["name"]}.union(
            *(setups.get(fixture, set()) for fixture in props.get("FIXTURES_REQUIRED", [])))
        if props.get("RUN_SERIAL"):
            serial.add(test["name"])
    required = set().union(*(runs - {name} for name, runs in members.items()))
    return {name: runs for name, runs in members.items() if name not in required}, serial


def run_once(build, name, log_dir, attempt):
    """Runs one test (and its setups) once; the path of its log and the names
    of the tests that failed in it, or None and []."""
    log = os.path.join(log_dir, "%s.%s.%d.log" % (os.path.basename(build), name, attempt))
    with open(log, "w") as output:
        result = subprocess.run(
            ["ctest", "--test-dir", build, "-R", "^%s$" % re.escape(name), "--output-on-failure"],
            stdout=output, stderr=subprocess.STDOUT)
    if result.returncode == 0:
        os.remove(log)
        return None, []
    summary = open(log).read().partition("The following tests FAILED:")[2]
    return log, re.findall(r"^\s*\d+ - (\S+) ", summary, re.MULTILINE) or [name]


def repeat(build, tests, serial, runs, jobs, log_dir):
    """Runs each of `tests` `runs` times, `jobs` at a time: never two runs of
    one test at once (a test's output folder is its own, not its run's), and a
    test of `serial` beside no other: all its runs come first, so that the
    others never wait for the running ones to drain. Yields (name, failed log
    or None, the names that failed, seconds) as runs end."""
    pending = sorted(((name, attempt) for attempt in range(runs) for name in tests),
                     key=lambda item: item[0] not in serial)
    running = set()
    ended = queue.Queue()
    condition = threading.Condition()

    def next_run():
        """The first pending run that may start now; None while the runs in
        flight must end first (a serial test is due)."""
        for item in pending:
            if running & tests[item[0]]:
                continue
            if item[0] in serial or running & serial:
                return None if running else item
            return item
        return None

    def worker():
        while True:
            with condition:
                while True:
                    item = next_run()
                    if item or not pending:
                        break
                    condition.wait()
                if item is None:
                    return
                pending.remove(item)
                running.update(tests[item[0]])
            started = time.monotonic()
            log, names = run_once(build, item[0], log_dir, item[1])
            ended.put((item[0], log, names, time.monotonic() - started))
            with condition:
                running.difference_update(tests[item[0]])
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
            print("%s: %d runs of each under %d busy loops: %s" % (
                build, args.n, args.load, ", ".join(
                    name + "".join(" (with %s)" % setup for setup in sorted(runs - {name}))
                    for name, runs in tests.items())), flush=True)
            for name, log, names, seconds in repeat(build, tests, serial, args.n, args.jobs,
                                                    log_dir):
                key = "%s %s" % (build, name)
                slowest[key] = max(slowest.get(key, 0.0), seconds)
                for failure in names:
                    failed.setdefault("%s %s" % (build, failure), []).append(log)
                    print("FAILED %s %s (%s)" % (build, failure, log), flush=True)
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
