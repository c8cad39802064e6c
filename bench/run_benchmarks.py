#!/usr/bin/env python3
"""End-to-end benchmark of the agent against floor agents on Java workloads.

Every workload runs under every configuration, round-robin, several times;
the table shows medians. Ratios compare the measured part of a workload (its
own timer, without JVM start-up and agent shutdown) with the floor that does
the same JVMTI work minus the logging. Start with bench/run.sh, which builds
what this script needs.
"""
import argparse
import datetime
import fnmatch
import os
import platform
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
# In dependency order, so that any leading part of the list compiles on its own.
JAVAC_INPUT = [str(BENCH_DIR / "javac-input" / (name + ".java"))
               for name in ("CalcException", "Token", "Node", "Parser", "Calculator")]


class Workload:
    """size: work units for the events floor and the runs measured against it;
    receiver_size: the smaller size for runs that fetch a receiver on every
    instance call that reaches them, which costs tens of microseconds per call
    (None: too slow to run at all); own_instance_calls: whether the workload's
    own package, the one its filters keep, makes instance calls in bulk;
    idle_size: the larger size for runs that record none of its calls, whose
    work at `size` would be over in hundredths of a second, too short to
    compare (None: `size`)."""

    def __init__(self, name, main, size, receiver_size, args, package, own_instance_calls=True,
                 idle_size=None):
        self.name, self.main, self.size, self.receiver_size = name, main, size, receiver_size
        self.args, self.package, self.own_instance_calls = args, package, own_instance_calls
        self.idle_size = idle_size


WORKLOADS = [
    Workload("static", "bench.StaticRecursion", 400, 400, lambda n, _: [str(n)], "bench*", False,
             idle_size=24_000),
    Workload("instance", "bench.InstanceCalls", 150, 3, lambda n, _: [str(n)], "bench*",
             idle_size=20_000),
    Workload("exceptions", "bench.Exceptions", 250_000, 3_000, lambda n, _: [str(n)], "bench*"),
    Workload("threads2", "bench.Threads", 3_000_000, 60_000, lambda n, _: ["2", str(n)], "bench*"),
    Workload("threads8", "bench.Threads", 3_000_000, 60_000, lambda n, _: ["8", str(n)], "bench*"),
    Workload("jdk-heavy", "bench.WorkloadJdkHeavy", 20_000, 150, lambda n, _: [str(n)], "bench*",
             False, idle_size=150_000),
    # Size: how many of the bundled source files javac compiles, once.
    Workload("javac", "bench.JavacRun", len(JAVAC_INPUT), None,
             lambda n, tmp: ["1", str(Path(tmp) / "classes")] + JAVAC_INPUT[:n],
             "com.sun.tools.javac*"),
]


class Config:
    """filtered: False, True (the workload's package), "class" (its main class
    alone) or "nothing" (a filter that keeps none of its code)."""

    def __init__(self, name, agent, settings=(), receiver_tags=None, filtered=False):
        self.name, self.agent, self.settings = name, agent, list(settings)
        self.receiver_tags, self.filtered = receiver_tags, filtered
        self.compact = "CompressLogfile=2" in self.settings
        self.binary = "CompressLogfile=1" in self.settings or self.compact
        # Fixed-layout records: three words, and the optional ones.
        self.record_bytes = 12 + sum(4 for key in ("RecordMethodCallCount=1", "RecordThreadID=1")
                                     if key in self.settings) + (8 if "RecordTime=1" in self.settings else 0)
        # Hooks in the bytecode number receivers without a safepoint.
        self.bytecode = "CaptureMode=bytecode" in self.settings

    def fetches_receivers(self, workload):
        """Pays for a receiver on the workload's instance calls in bulk."""
        if self.bytecode or self.agent == "jdk-trace":
            return False
        if self.agent == "receiver" or (self.agent == "kolvaprof" and self.receiver_tags is None):
            return True
        return self.receiver_tags == "2" and (not self.filtered or workload.own_instance_calls)

    @property
    def idle(self):
        """Records none of the workload's calls."""
        return self.agent is None or self.filtered == "nothing"

    @property
    def floor(self):
        if self.agent == "receiver":
            return "events-floor"
        if self.agent != "kolvaprof":
            return None
        return "receiver-floor" if self.receiver_tags is None else "events-floor"


def make_configs():
    configs = [Config("none", None), Config("events-floor", "events"),
               Config("receiver-floor", "receiver")]
    modes = [("text-thread", []),
             ("text-shared", ["RecordThreadID=1", "RecordMethodCallCount=1",
                              "SeparateLogfilePerThread=0"]),
             ("binary", ["CompressLogfile=1"])]
    for tags in (None, "0", "2"):
        for filtered in (False, True):
            for mode, settings in modes:
                name = mode + ("+filter" if filtered else "") + ("" if tags is None else "@rt" + tags)
                extra = ["ReceiverTags=" + tags] if tags is not None else []
                configs.append(Config(name, "kolvaprof", settings + extra, tags, filtered))
    # The bytecode engine, beside the JDK's own method tracing of the same
    # class: each call traced with its receiver numbered.
    bytecode = ["CompressLogfile=1", "CaptureMode=bytecode"]
    configs += [Config("jdk-trace", "jdk-trace", filtered="class"),
                Config("bytecode+class", "kolvaprof", bytecode, filtered="class"),
                Config("bytecode+nothing", "kolvaprof", bytecode, filtered="nothing"),
                Config("bytecode", "kolvaprof", bytecode)]
    # Each encoding with and without times, beside the JDK's tracer (which
    # always records times), and javac traced whole in each.
    encodings = [("text", []), ("binary", ["CompressLogfile=1"]), ("compact", ["CompressLogfile=2"])]
    for encoding, settings in encodings:
        for times in (False, True):
            if encoding == "binary" and not times:
                continue  # bytecode+class
            name = "bytecode-" + encoding + ("-time" if times else "")
            chosen = settings + ["CaptureMode=bytecode"] + (["RecordTime=1"] if times else [])
            configs.append(Config(name + "+class", "kolvaprof", chosen, filtered="class"))
            if times:
                configs.append(Config(name, "kolvaprof", chosen))
    return configs


def settings_text(config, workload, log_root):
    lines = ["LogfileDirectory=" + str(log_root)] + config.settings
    if config.filtered == "class":
        lines += ["FilterMode=1", "ClassFilter=" + workload.main]
    elif config.filtered == "nothing":
        lines += ["FilterMode=1", "PackageFilter=no.such.package"]
    elif config.filtered:
        lines += ["FilterMode=1", "PackageFilter=" + workload.package]
    return "\n".join(lines) + "\n"


def compact_records(path):
    """The records a file of compact blocks holds, from the blocks' headers."""
    records = 0
    with open(path, "rb") as f:
        while len(header := f.read(16)) == 16 and header[:3] == b"kvb":
            compressed, _, count = struct.unpack("<III", header[4:])
            records += count
            f.seek(compressed, os.SEEK_CUR)
    return records


def count_output(log_root, config):
    """Logged events (entry and exit records) and bytes of every output file."""
    events = total = 0
    for path in Path(log_root).rglob("*"):
        if not path.is_file():
            continue
        size = path.stat().st_size
        total += size
        if path.suffix != ".log":
            continue  # the index file names things; it records no events
        if config.compact:
            events += compact_records(path)
            continue
        if config.binary:
            events += size // config.record_bytes
            continue
        with open(path, "rb") as f:
            previous = b"\n"
            while chunk := f.read(1 << 22):
                events += chunk.count(b"\n") - (previous + chunk).count(b"\n@thread ")
                previous = chunk[-1:]
    return events, total


def clean_page_cache():
    """Writes back and drops the page cache, where the system lets us: a run
    that writes gigabytes otherwise leaves the next one to wait on their
    writeback and reclaim, which made the same configuration's runs differ by
    a factor of two."""
    try:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3")
        return True
    except OSError:
        return False


def run_once(args, paths, workload, config, size):
    if args.clean_cache:
        clean_page_cache()
    tmp = Path(tempfile.mkdtemp(prefix="kolvaprof-bench-"))
    try:
        command = [args.java] + args.jvm_flags.split()
        if config.agent == "kolvaprof":
            log_root = tmp / "logs"
            log_root.mkdir()
            ini = tmp / "bench.ini"
            ini.write_text(settings_text(config, workload, log_root))
            command.append("-agentpath:%s=%s" % (paths["kolvaprof"], ini))
        elif config.agent == "jdk-trace":
            command.append("-XX:StartFlightRecording:jdk.MethodTrace#filter=%s,"
                           "jdk.MethodTrace#stackTrace=false,filename=%s"
                           % (workload.main, tmp / "trace.jfr"))
        elif config.agent:
            command.append("-agentpath:" + paths[config.agent])
        command += ["-cp", paths["classes"], workload.main] + workload.args(size, tmp)
        with open(tmp / "console.txt", "wb") as console:
            start = time.monotonic()
            process = subprocess.Popen(command, stdout=console, stderr=subprocess.STDOUT, cwd=tmp)
            _, status, usage = os.wait4(process.pid, 0)
            wall = time.monotonic() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        output = (tmp / "console.txt").read_text(errors="replace")
        work = [line.split()[1] for line in output.splitlines() if line.startswith("bench-work-ns ")]
        if process.returncode != 0 or not work:
            tail = " | ".join(output.strip().splitlines()[-3:])
            return {"error": "exit %d: %s" % (process.returncode, tail)}
        result = {"work": int(work[0]) / 1e9, "wall": wall, "rss": usage.ru_maxrss / 1024.0,
                  "events": 0, "bytes": 0}
        if config.agent == "kolvaprof":
            result["events"], result["bytes"] = count_output(tmp / "logs", config)
        return result
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def size_for(args, workload, config):
    size = workload.receiver_size if config.fetches_receivers(workload) else workload.size
    if config.idle and workload.idle_size is not None:
        size = workload.idle_size
    if size is None or not args.quick:
        return size
    return max(1, size // 5) if workload.name != "javac" else 2


def median(runs, key):
    return statistics.median(run[key] for run in runs)


def summarise(args, workloads, configs, results):
    """One row per workload and configuration, ratios per unit of work."""
    rows = []
    for workload in workloads:
        per_unit = {}
        for config in configs:
            runs = results.get((workload.name, config.name), [])
            good = [r for r in runs if "work" in r]
            if good:
                per_unit[config.name] = median(good, "work") / size_for(args, workload, config)
        for config in configs:
            size = size_for(args, workload, config)
            runs = results.get((workload.name, config.name), [])
            row = {"workload": workload.name, "config": config.name, "size": size, "runs": runs}
            good = [r for r in runs if "work" in r]
            if size is None:
                row["note"] = "skipped: receiver work on every call makes this run take many minutes"
            elif not good:
                row["note"] = "failed: " + (runs[0]["error"] if runs else "not run")
            else:
                row.update({k: median(good, k) for k in ("work", "wall", "rss", "events", "bytes")})
                unit = per_unit[config.name]
                floor = per_unit.get(config.floor) if config.floor else None
                row["x_floor"] = unit / floor if floor else None
                row["x_none"] = unit / per_unit["none"] if per_unit.get("none") else None
                if len(good) < len(runs):
                    row["note"] = "%d of %d runs failed" % (len(runs) - len(good), len(runs))
            rows.append(row)
    return rows


COLUMNS = ["workload", "config", "size", "work s", "x floor", "x none", "wall s", "events/s",
           "bytes/event", "peak RSS MB"]


def cells(row):
    if "work" not in row:
        return [row["workload"], row["config"], str(row["size"] or "-")] + [""] * 7 + [row["note"]]

    def ratio(value):
        return "%.2f" % value if value is not None else "-"

    events = row["events"]
    return [row["workload"], row["config"], str(row["size"]), "%.2f" % row["work"],
            ratio(row["x_floor"]), ratio(row["x_none"]), "%.2f" % row["wall"],
            "%.0f" % (events / row["work"]) if events else "-",
            "%.1f" % (row["bytes"] / events) if events else "-", "%.0f" % row["rss"],
            row.get("note", "")]


def text_table(rows):
    table = [COLUMNS + [""]] + [cells(row) for row in rows]
    widths = [max(len(line[i]) for line in table) for i in range(len(COLUMNS) + 1)]
    return "\n".join("  ".join(c.ljust(w) if i < 2 else c.rjust(w) if i < len(COLUMNS) else c
                               for i, (c, w) in enumerate(zip(line, widths))).rstrip()
                     for line in table)


def markdown_table(rows):
    lines = ["| " + " | ".join(COLUMNS + ["note"]) + " |", "|" + "---|" * (len(COLUMNS) + 1)]
    lines += ["| " + " | ".join(cells(row)) + " |" for row in rows]
    return "\n".join(lines)


# (configuration, workloads or None for all, floor, limit)
TARGETS = [
    ("text-thread", None, "receiver floor", 1.05), ("text-shared", None, "receiver floor", 1.05),
    ("binary", None, "receiver floor", 1.05),
    ("text-thread@rt0", None, "events floor", 1.3), ("binary@rt0", None, "events floor", 1.2),
    ("text-shared@rt0", ["threads2"], "events floor", 1.4),
    ("text-thread+filter@rt2", ["jdk-heavy"], "events floor", 1.3),
    ("text-shared+filter@rt2", ["jdk-heavy"], "events floor", 1.3),
    ("binary+filter@rt2", ["jdk-heavy"], "events floor", 1.3),
]


# The bytecode engine against a peer run of the same table, per unit of work:
# (configuration, workloads or None for all, peer, limit).
PEER_TARGETS = [
    ("bytecode+class", ["instance", "static"], "jdk-trace", 0.5),
    ("bytecode-binary-time+class", ["instance", "static"], "jdk-trace", 0.7),
    ("bytecode-compact-time+class", ["instance", "static"], "jdk-trace", 0.7),
    ("bytecode-text-time+class", ["instance", "static"], "jdk-trace", 1.0),
    # Compact records take no longer to trace than the fixed ones they hold.
    ("bytecode-compact-time", ["javac"], "bytecode-binary-time", 1.0),
    ("bytecode+nothing", None, "none", 1.05),
    ("bytecode", ["javac"], "events-floor", 1.0),
]


def peer_lines(rows):
    unit = {(r["workload"], r["config"]): r["work"] / r["size"] for r in rows if "work" in r}
    lines = []
    for config, only, peer, limit in PEER_TARGETS:
        found = [(w, x / unit[(w, peer)]) for (w, c), x in sorted(unit.items())
                 if c == config and (w, peer) in unit and (only is None or w in only)]
        if found:
            verdict = ", ".join("%s %.2f %s" % (w, x, "ok" if x <= limit else "OVER") for w, x in found)
            lines.append("- %s <= %.2fx %s: %s" % (config, limit, peer, verdict))
    return lines


def call_cost_lines(rows):
    """Nanoseconds per traced call beside the JDK's tracer, which traces the
    same calls (the main class alone): a run's calls per unit of work are half
    its records, entries and exits."""
    by_key = {(r["workload"], r["config"]): r for r in rows if "work" in r}
    lines = []
    # Where the main class itself makes the calls: javac's is a launcher.
    measured = {w for _, only, peer, _ in PEER_TARGETS if peer == "jdk-trace" for w in only}
    for workload in sorted({w for w, _ in by_key} & measured):
        probe = by_key.get((workload, "bytecode+class"))
        if not probe or not probe["events"]:
            continue
        calls = probe["events"] / 2.0 / probe["size"]
        peer = by_key.get((workload, "jdk-trace"))
        found = []
        for (w, config), row in sorted(by_key.items()):
            if w != workload or not (config in ("none", "jdk-trace") or
                                     config.startswith("bytecode") and config.endswith("+class")):
                continue
            unit = row["work"] / row["size"]
            ratio = " (%.2fx)" % (unit / (peer["work"] / peer["size"])) if peer else ""
            found.append("%s %.0f%s" % (config, unit / calls * 1e9, ratio))
        lines.append("- %s, ns per traced call (x jdk-trace): %s" % (workload, ", ".join(found)))
    return lines


def target_lines(rows):
    by_key = {(r["workload"], r["config"]): r for r in rows}
    lines = call_cost_lines(rows) + peer_lines(rows)
    for config, only, floor, limit in TARGETS:
        found = [(w, r["x_floor"]) for (w, c), r in by_key.items()
                 if c == config and r.get("x_floor") is not None and (only is None or w in only)]
        if found:
            verdict = ", ".join("%s %.2f %s" % (w, x, "ok" if x <= limit else "OVER") for w, x in found)
            lines.append("- %s <= %.2fx %s: %s" % (config, limit, floor, verdict))
    for row in rows:
        # Memory per logging thread: what eight logging threads add over the floor.
        if row["workload"] == "threads8" and row["config"] == "text-thread@rt0" and "rss" in row:
            floor = by_key.get(("threads8", "events-floor"), {}).get("rss")
            if floor:
                extra = row["rss"] - floor
                lines.append("- memory, threads8 text-thread@rt0: %.1f MB over the events floor, "
                             "%.2f MB per logging thread (main and 8 workers)" % (extra, extra / 9))
    return lines


def command_output(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
        return (done.stdout + done.stderr).strip()
    except (OSError, subprocess.SubprocessError):
        return "?"


def machine_description(args):
    cpu = "?"
    memory = "?"
    with open("/proc/cpuinfo") as f:
        cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), cpu)
    with open("/proc/meminfo") as f:
        kib = next((int(l.split()[1]) for l in f if l.startswith("MemTotal")), 0)
        memory = "%.1f GiB" % (kib / 1024 / 1024)
    jdks = ", ".join(sorted(p.name for p in Path("/usr/lib/jvm").iterdir() if (p / "bin/java").exists())) \
        if Path("/usr/lib/jvm").is_dir() else "?"
    java = command_output([args.java, "-version"]).splitlines()
    cache = Path(args.build_dir) / "CMakeCache.txt"
    build_type = next((l.split("=", 1)[1] for l in cache.read_text().splitlines()
                       if l.startswith("CMAKE_BUILD_TYPE:")), "?") if cache.exists() else "?"
    return [
        "- CPU: %s, %d logical cores (nproc)" % (cpu, os.cpu_count()),
        "- memory: %s" % memory,
        "- kernel: %s %s" % (platform.system(), platform.release()),
        "- JVM used: `%s` (%s), flags `%s`" % (args.java, " / ".join(java[:2]), args.jvm_flags),
        "- JDKs installed: %s" % jdks,
        "- library build: %s (%s)" % (args.build_dir, build_type),
        "- commit: %s" % command_output(["git", "-C", str(BENCH_DIR), "describe", "--always", "--dirty"]),
        "- page cache: %s" % ("written back and dropped before each run" if args.clean_cache and
                              os.access("/proc/sys/vm/drop_caches", os.W_OK) else "kept between runs"),
    ]


CORE_SECTION = "## Core alone"


def write_results(args, rows, loads, started, elapsed):
    text = ["# Benchmark results", "",
            "One run of `bench/run.sh%s` (%d run(s) per cell, medians), %s, %.0f min." % (
                " --quick" if args.quick else "", args.runs, started, elapsed / 60), "",
            "## Machine", ""] + machine_description(args) + [
            "- load average (1/5/15 min) at start: %.2f %.2f %.2f, at end: %.2f %.2f %.2f" % (loads + os.getloadavg()),
            "", "## Table", "",
            "`work s`: the workload's own timer around its measured part; `x floor`: per unit of work, "
            "against the receiver floor (configurations without `@rt`) or the events floor "
            "(`@rt0`, `@rt2`, and the receiver floor itself); `x none`: against the run without an agent; "
            "`wall s`: the whole process, JVM start-up included (and, for the agent, its wait for the next "
            "clock second at shutdown); `events/s`: logged entry and exit records, start-up included, "
            "per second of measured time; `bytes/event`: all output files; `peak RSS`: from wait4.", "",
            markdown_table(rows), "", "## Targets", ""] + (target_lines(rows) or ["- none measured"])
    if args.notes:
        text += ["", "## Notes", "", args.notes]
    results = BENCH_DIR / "RESULTS.md"
    # The "Core alone" section comes from core_bench, not from these runs,
    # so it is carried over as it stands.
    kept = ""
    if results.exists():
        old = results.read_text()
        at = old.find("\n" + CORE_SECTION)
        if at >= 0:
            kept = "\n" + old[at + 1:].rstrip("\n") + "\n"
    results.write_text("\n".join(text) + "\n" + kept)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True, help="build directory with the bench targets")
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "3")))
    parser.add_argument("--quick", action="store_true", help="one run, a fifth of the sizes")
    parser.add_argument("--workloads", default="*", help="comma-separated name patterns")
    parser.add_argument("--configs", default="*", help="comma-separated name patterns")
    parser.add_argument("--java", default=os.environ.get("BENCH_JAVA") or shutil.which("java") or "java")
    parser.add_argument("--jvm-flags", default=os.environ.get("BENCH_JVM_FLAGS", "-XX:+UseSerialGC"))
    parser.add_argument("--write-results", action="store_true", help="write bench/RESULTS.md")
    parser.add_argument("--keep-page-cache", dest="clean_cache", action="store_false",
                        help="do not write back and drop the page cache before each run")
    parser.add_argument("--notes", default="", help="text for the Notes section of RESULTS.md")
    args = parser.parse_args()
    if args.quick:
        args.runs = 1
    build = Path(args.build_dir).resolve()
    paths = {"kolvaprof": build / "libkolvaprof.so",
             "events": build / "bench/libevents_floor_agent.so",
             "receiver": build / "bench/libreceiver_floor_agent.so",
             "classes": build / "bench/java-classes"}
    missing = [str(p) for p in paths.values() if not p.exists()]
    if missing:
        sys.exit("missing (build with bench/run.sh): " + ", ".join(missing))
    paths = {k: str(v) for k, v in paths.items()}

    def chosen(items, patterns):
        return [i for i in items if any(fnmatch.fnmatchcase(i.name, p) for p in patterns.split(","))]

    workloads = chosen(WORKLOADS, args.workloads)
    configs = chosen(make_configs(), args.configs)
    loads, started, clock = os.getloadavg(), datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), time.monotonic()
    results = {}
    for run in range(args.runs):
        for workload in workloads:
            for config in configs:
                size = size_for(args, workload, config)
                if size is None:
                    continue
                result = run_once(args, paths, workload, config, size)
                results.setdefault((workload.name, config.name), []).append(result)
                print("[%d/%d] %-10s %-24s %s" % (run + 1, args.runs, workload.name, config.name,
                      result.get("error") or "%.2f s" % result["work"]), file=sys.stderr, flush=True)
    rows = summarise(args, workloads, configs, results)
    print(text_table(rows))
    print("\n".join(["", "Targets:"] + target_lines(rows)))
    if args.write_results:
        write_results(args, rows, loads, started, time.monotonic() - clock)
        print("wrote", BENCH_DIR / "RESULTS.md", file=sys.stderr)


if __name__ == "__main__":
    main()
