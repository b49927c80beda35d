#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the benchmarks of bench/ and the whole xrreport process, and prints one table: each
figure, what was measured, its target and a verdict. bench/run sets up and builds first.
    python3 bench/figures.py BUILD_DIR
Exits 1 when a figure misses its target or a benchmark fails to give its figures."""
import json
import os
import shlex
import signal
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
FLOOD = ROOT / "bench" / "machines" / "flood"  # a modem that never stops sending
ROW = "{:<50} {:>12} {:>14}  {}"
SERIAL_FLOOR_S = 1.0  # the report of examples/serial-pellan pauses 1 s on purpose
MS_PER_UNIT = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


class Failed(Exception):
    """A benchmark that did not give its figures."""


class Table:
    def __init__(self):
        self.missed = 0
        print(ROW.format("figure", "measured", "target", "verdict"))

    def figure(self, name, value, unit, limit=None, digits=1):
        """One line; no limit means information only."""
        measured = f"{value:.{digits}f} {unit}"
        if limit is None:
            target, verdict = "-", "info"
        else:
            target = f"<= {limit:.{digits}f} {unit}"
            verdict = "ok" if value <= limit else "OVER"
            self.missed += verdict == "OVER"
        print(ROW.format(name, measured, target, verdict), flush=True)

    def group(self, name, measure):
        """Runs one group of figures; a failure is a line of its own and counts as a miss."""
        try:
            measure()
        except Failed as failure:
            self.missed += 1
            print(ROW.format(name, "-", "-", "FAILED"), flush=True)
            print(f"  {failure}", file=sys.stderr, flush=True)


def checked(command, what):
    run = subprocess.run([str(part) for part in command], capture_output=True, text=True)
    if run.returncode != 0:
        raise Failed(f"{what} exited {run.returncode}: {run.stderr.strip()[-800:]}")
    return run.stdout


def google_benchmark(build, name, *flags):
    """Runs bench_NAME; its results by name without the iteration and timing suffixes,
    e.g. "AtFloodCpu" or "BM_LoadSnapshot/10000"."""
    executable = build / "bin" / f"bench_{name}"
    if not executable.exists():
        raise Failed(f"{executable} is missing (a build with -DXR_BUILD_BENCH=OFF?)")
    report = json.loads(checked([executable, "--benchmark_format=json", *flags], executable.name))
    results = {}
    for result in report["benchmarks"]:
        if result.get("error_occurred"):
            raise Failed(f"{executable.name} {result['name']}: {result['error_message']}")
        key = "/".join(p for p in result["name"].split("/") if ":" not in p and not p.endswith("_time"))
        result["real_ms"] = result["real_time"] * MS_PER_UNIT[result["time_unit"]]
        results[key] = result
    return results


def median_seconds(command, runs, warmup):
    """Median wall time of the whole process over `runs` runs, from hyperfine."""
    with tempfile.TemporaryDirectory() as scratch:
        times = Path(scratch) / "times.json"
        checked(["hyperfine", "--shell=none", "--style", "none", "--warmup", warmup, "--runs", runs,
                 "--export-json", times, shlex.join(str(part) for part in command)], "hyperfine")
        return json.loads(times.read_text())["results"][0]["median"]


def paired_medians(first, second, pairs, warmup):
    """Medians of the wall times of two commands and of their difference, each run of the first
    paired with one of the second just before or after it, in turn: a VM's speed drifts by tens
    of percent over seconds, and only runs side by side see the same machine. Output goes to
    /dev/null, as hyperfine's does."""
    null = os.open(os.devnull, os.O_WRONLY)
    commands = [[str(part) for part in first], [str(part) for part in second]]

    def seconds(argv):
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
        _, status = os.waitpid(pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            raise Failed(f"{shlex.join(argv)} exited {os.waitstatus_to_exitcode(status)}")
        return time.perf_counter() - start

    try:
        for _ in range(warmup):
            for argv in commands:
                seconds(argv)
        times = [[], []]
        for pair in range(pairs):
            order = (0, 1) if pair % 2 == 0 else (1, 0)
            for i in order:
                times[i].append(seconds(commands[i]))
    finally:
        os.close(null)
    differences = [a - b for a, b in zip(*times)]
    return statistics.median(times[0]), statistics.median(times[1]), statistics.median(differences)


def peak_resident_kb(xrreport):
    """Peak resident set of xrreport on every example, from GNU time. The reports run side
    by side: most of their time is a scripted modem's pauses, and memory does not depend on it.
    The peak counts the xrreport process only (the tools it launches are children)."""
    with tempfile.TemporaryDirectory() as scratch:
        runs = []
        for machine in sorted(path for path in EXAMPLES.iterdir() if path.is_dir()):
            out = Path(scratch) / machine.name
            process = subprocess.Popen(
                ["/usr/bin/time", "-f", "%M", "-o", str(out), str(xrreport), "--format", "json",
                 "--machine", str(machine)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            runs.append((machine.name, out, process))
        failed = [name for name, _, process in runs if process.wait() != 0]
        if failed:
            raise Failed(f"xrreport failed on examples/{', examples/'.join(failed)}")
        return {name: int(out.read_text().split()[-1]) for name, out, _ in runs}


def cpu_ns(pid):
    """CPU time of every thread of pid so far, in nanoseconds (the scheduler's own count,
    finer than the clock ticks of /proc/PID/stat)."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended since the listing
    return total


def watch_idle_cpu_ms(xrreport, args, seconds):
    """CPU that xrreport --watch uses while nothing happens: from its first report to a
    SIGTERM `seconds` later, which must end it with status 0."""
    process = subprocess.Popen([str(xrreport), "--watch", "--format", "json", *map(str, args)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        if not process.stdout.readline():
            raise Failed(f"xrreport --watch {shlex.join(map(str, args))} printed no report")
        before = cpu_ns(process.pid)
        time.sleep(seconds)
        after = cpu_ns(process.pid)
        process.send_signal(signal.SIGTERM)
        status = process.wait(timeout=10)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    if status != 0:
        raise Failed(f"xrreport --watch ended with {status} on SIGTERM")
    return (after - before) / 1e6


def busy_ports_machine(machine):
    """examples/linux-probe (four ports, one answering modem, five processes) grown to 100
    processes, the new ones with ten descriptors each of the kinds a desktop's processes hold."""
    shutil.copytree(EXAMPLES / "linux-probe", machine, symlinks=True)
    targets = ["/dev/null", "/dev/null", "/dev/null", "socket:[4711]", "pipe:[4712]", "anon_inode:[eventfd]",
               "/var/log/syslog", "/dev/urandom", "socket:[4713]", "/usr/lib/locale/locale-archive"]
    for pid in range(5000, 5095):
        fd = machine / "root" / "proc" / str(pid) / "fd"
        fd.mkdir(parents=True)
        (fd.parent / "comm").write_text(f"worker{pid}\n")
        for number, target in enumerate(targets):
            (fd / str(number)).symlink_to(target)
    return machine


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
    xrreport = build / "bin" / "xrreport"
    started = time.monotonic()
    print(f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores; build {build}")
    # A VM's speed can drift by half within minutes at no load; the whole-process figures move
    # with it. The cost of starting the smallest program, before and after, shows the drift.
    speed_before = median_seconds(["/bin/true"], 200, 20)
    table = Table()
    floor_ratio = None

    def report(machine, runs=100, warmup=10):
        return median_seconds([xrreport, "--format", "json", "--machine", EXAMPLES / machine], runs, warmup)

    def empty_report():
        table.figure("xrreport --format json, empty machine (median)", report("empty", 300, 20) * 1e3, "ms", 20)

    def driver_lookup():
        result = google_benchmark(build, "registry_driver_lookup")["BM_InternalSerialModemDriverName/100000"]
        table.figure("serial modem driver name, 100,000-entry plane", result["real_ms"], "ms", 50)

    def snapshot_load():
        results = google_benchmark(build, "registry_snapshot_load")
        small, large = results["BM_LoadSnapshot/10000"], results["BM_LoadSnapshot/100000"]
        table.figure("registry snapshot load, 100,000 entries", large["real_ms"], "ms", 1000)
        per_entry = small["retained_B_per_entry"]
        table.figure("registry bytes per entry, 10,000 entries", per_entry, "B", digits=0)
        # Linear: the cost of an entry does not grow with the registry (10 % for noise).
        table.figure("registry bytes per entry, 100,000 entries", large["retained_B_per_entry"], "B",
                     per_entry * 1.1, digits=0)

    def at_command():
        results = google_benchmark(build, "at_command")
        latency = results["AtReplyLatency"]
        table.figure("AT reply: last byte to send() return, median", latency["median_us"], "us", 50)
        table.figure("AT reply: last byte to send() return, p99", latency["p99_us"], "us", 1000)
        hop = results["PtyHop"]["median_us"]
        table.figure("bare pty hop to a waiting reader, median", hop, "us")
        table.figure("AT reply above the bare pty hop, median", latency["median_us"] - hop, "us")
        table.figure("AT command CPU while waiting 5 s on silence", results["AtSilentWaitCpu"]["cpu_ms"], "ms", 10,
                     digits=2)
        table.figure("AT command CPU, 10 MB flood", results["AtFloodCpu"]["cpu_ms"], "ms", 1000)

    def tool_runs():
        process = google_benchmark(build, "process_run")["BM_ProcessRunTrivialTool"]
        table.figure("trivial tool run, Process::run (median)", process["median_ms"], "ms", 3, digits=2)
        runner = google_benchmark(build, "tasks_sync_run")["BM_SynchronousTaskRunnerTrivialTool"]
        table.figure("trivial tool run, synchronous runner (median)", runner["median_ms"], "ms", 3, digits=2)

    def whole_reports():
        nonlocal floor_ratio
        serial = report("serial-pellan", 10, 1)
        floor_ratio = serial / SERIAL_FLOOR_S
        table.figure("xrreport, serial modem at once (median)", serial * 1e3, "ms", 1030)
        table.figure("xrreport, Torvin with preferences (median)", report("torvin-prefs") * 1e3, "ms", 30)
        table.figure("xrreport, no modem (median)", report("no-modem") * 1e3, "ms", 30)

    def live_registry():
        results = google_benchmark(build, "live_registry_build")
        table.figure("live registry build, nothing to find (fake tree)",
                     results["BM_LiveRegistryNothingToFind"]["real_ms"] * 1e3, "us", 1000, digits=0)
        table.figure("live registry build, this machine's /sys", results["BM_LiveRegistryThisMachine"]["real_ms"] * 1e3,
                     "us", digits=0)

    def live_report():
        # Measured side by side in one run, so the machine's load weighs on all three alike.
        live, empty, above = paired_medians([xrreport, "--format", "json"],
                                            [xrreport, "--format", "json", "--machine", EXAMPLES / "empty"], 300, 20)
        table.figure("xrreport --format json, this machine (median)", live * 1e3, "ms", digits=2)
        table.figure("  examples/empty, paired with it (median)", empty * 1e3, "ms", digits=2)
        table.figure("  this machine above examples/empty", above * 1e3, "ms", 2, digits=2)
        hwinfo = median_seconds(["hwinfo", "--modem"], 20, 2)
        table.figure("  hwinfo --modem (median)", hwinfo * 1e3, "ms", digits=1)
        table.figure("  this machine / hwinfo --modem", live / hwinfo, "", 0.25, digits=3)

    def modem_ports():
        holders = google_benchmark(build, "ports_holders")
        table.figure("ports holders pass, 4 ports, 100-process tree", holders["BM_HoldersPassProfileTree"]["median_ms"],
                     "ms", 3, digits=2)
        here = holders["BM_HoldersPassThisMachine"]
        table.figure(f"ports holders pass, this machine's /proc ({here['processes']:.0f})", here["median_ms"], "ms",
                     digits=2)
        with tempfile.TemporaryDirectory() as scratch:
            machine = busy_ports_machine(Path(scratch) / "machine")
            command = [xrreport, "--format", "json", "--machine", machine]
            passive = median_seconds(command, 100, 10)
            table.figure("xrreport, 4 ports and 100 processes (median)", passive * 1e3, "ms", 15)
            probed = median_seconds(command + ["--probe"], 50, 5)
            table.figure("xrreport --probe of one answering modem, above that", (probed - passive) * 1e3, "ms", 50)

    def peak_memory():
        peaks = peak_resident_kb(xrreport)
        largest = max(peaks, key=peaks.get)
        table.figure(f"peak RSS of {len(peaks)} examples (largest: {largest})", peaks[largest] / 1024, "MB", 15)

    def serial_lock():
        results = google_benchmark(build, "serial_lock")
        table.figure("UUCP lock checked, taken, given back (median)",
                     results["BM_UUCPLockTakeAndGiveBack"]["median_ms"], "ms", 0.1, digits=3)
        table.figure("trace note while --trace is off", results["BM_TraceNoteOff"]["real_ms"], "ms", 0.1, digits=6)

    def flood():
        def run(machine):
            with tempfile.TemporaryDirectory() as scratch:
                out = Path(scratch) / "time"
                checked(["/usr/bin/time", "-f", "%M %e", "-o", out, xrreport, "--format", "json",
                         "--machine", machine], f"xrreport on {machine.name}")
                peak_kb, seconds = out.read_text().split()[-2:]
                return int(peak_kb), float(seconds)
        usual, _ = run(EXAMPLES / "serial-pellan")
        peak, seconds = run(FLOOD)
        table.figure("flooding modem: peak RSS over serial-pellan's", (peak - usual) / 1024, "MB", 20)
        # The serial report's one-second pause, and the commands failing at their size limit.
        table.figure("flooding modem: whole report", seconds, "s", 1.5, digits=2)

    def country_list():
        results = google_benchmark(build, "country_lookup", "--benchmark_min_time=0.1")
        table.figure("country list load", results["BM_LoadCountryList"]["real_ms"] * 1e3, "us")
        # 0x3F is in no entry: the lookup walks the whole list.
        table.figure("country name lookup, whole list walked", results["BM_CountryNames/63"]["real_ms"] * 1e3, "us",
                     digits=2)

    def hotplug():
        result = google_benchmark(build, "hotplug")["HotplugToFirstMatch"]
        table.figure("hot-plug: testbed add to first-match callback (median)", result["median_ms"], "ms", 5,
                     digits=2)

    def watch():
        idle = watch_idle_cpu_ms(xrreport, ["--machine", EXAMPLES / "empty"], 10)
        table.figure("xrreport --watch, CPU over 10 s with nothing happening", idle, "ms", 5, digits=2)
        # This machine: the loop also waits on the udev monitor.
        idle = watch_idle_cpu_ms(xrreport, [], 10)
        table.figure("xrreport --watch, this machine, CPU over 10 s idle", idle, "ms", 5, digits=2)

    table.group("xrreport, empty machine", empty_report)
    table.group("serial modem driver name", driver_lookup)
    table.group("registry snapshot load", snapshot_load)
    table.group("AT command", at_command)
    table.group("trivial tool run", tool_runs)
    table.group("xrreport, example machines", whole_reports)
    table.group("live registry build", live_registry)
    table.group("xrreport, this machine", live_report)
    table.group("modem ports", modem_ports)
    table.group("peak RSS of the examples", peak_memory)
    table.group("country list", country_list)
    table.group("UUCP lock and trace", serial_lock)
    table.group("flooding modem", flood)
    table.group("hot-plug", hotplug)
    table.group("xrreport --watch", watch)

    print()
    speed_after = median_seconds(["/bin/true"], 200, 20)
    print(f"machine speed: /bin/true runs in {speed_before * 1e3:.2f} ms (median) before, "
          f"{speed_after * 1e3:.2f} ms after")
    if floor_ratio is not None:
        print(f"serial-modem report / 1 s floor: {floor_ratio:.3f}")
    verdict = f"{table.missed} missed or failed" if table.missed else "all targets met"
    print(f"{verdict}; took {time.monotonic() - started:.0f} s")
    return 1 if table.missed else 0


if __name__ == "__main__":
    sys.exit(main())
