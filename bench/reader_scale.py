#!/usr/bin/env python3
"""The reader on a run of 100,000 virtual threads: every command against `check`.

Compiles bench/reader-scale/ManyVirtualThreads.java, runs it under the agent
(bytecode engine, only its own package, times recorded, per-thread logs, so
that every virtual thread writes its blocks into one VirtualThreads.vlog), then
times `check`, `summary`, `speedscope`, `chrome`, `collapsed` and `text --merge`
on the run, each the median of --runs runs, and fails when one takes more
than five times as long as `check`. The limit holds processor time (user and
system), which other work on the machine does not stretch; wall time is
shown beside it.
  bench/reader_scale.py [--build-dir build] [--threads 100000] [--binary] [--keep DIR]
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMMANDS = [["check"], ["summary"], ["speedscope"], ["chrome"], ["collapsed"], ["text", "--merge"]]


def timed(command, out):
    """Wall seconds, processor seconds (user and system) and exit status."""
    start, before = time.monotonic(), resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(out, "wb") as sink:
        status = subprocess.run(command, stdout=sink, stderr=subprocess.PIPE).returncode
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return time.monotonic() - start, cpu, after.ru_maxrss, status


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"))
    parser.add_argument("--java-home", default="/usr/lib/jvm/temurin-25-jdk-amd64")
    parser.add_argument("--threads", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--engine", default="bytecode", choices=["bytecode", "events"])
    parser.add_argument("--binary", action="store_true", help="binary logs (CompressLogfile=1)")
    parser.add_argument("--keep", help="keep the run and the outputs in this directory")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    reader = os.path.join(build, "kolvaprof-read")
    agent = os.path.join(build, "libkolvaprof.so")
    work = args.keep or tempfile.mkdtemp(prefix="reader-scale-")
    os.makedirs(work, exist_ok=True)
    try:
        classes = os.path.join(work, "classes")
        subprocess.run([os.path.join(args.java_home, "bin", "javac"), "-d", classes,
                        os.path.join(ROOT, "bench", "reader-scale", "ManyVirtualThreads.java")], check=True)
        logs = os.path.join(work, "logs")
        shutil.rmtree(logs, ignore_errors=True)
        settings = os.path.join(work, "reader-scale.ini")
        with open(settings, "w") as out:
            out.write(f"LogfileDirectory={logs}\nFilterMode=1\nPackageFilter=readerscale\nReceiverTags=2\n"
                      f"RecordTime=1\nCaptureMode={args.engine}\n" + ("CompressLogfile=1\n" if args.binary else ""))
        start = time.monotonic()
        subprocess.run([os.path.join(args.java_home, "bin", "java"), "-agentpath:" + agent + "=" + settings,
                        "-cp", classes, "readerscale.ManyVirtualThreads", str(args.threads)],
                       check=True, stdout=subprocess.DEVNULL, cwd=work)
        traced = time.monotonic() - start
        run = os.path.join(logs, os.listdir(logs)[0])
        sizes = {name: os.path.getsize(os.path.join(run, name)) for name in os.listdir(run)}
        print(f"run: {args.threads} virtual threads ({args.engine} engine, {'binary' if args.binary else 'text'}) "
              f"in {traced:.1f} s, "
              f"{len(sizes)} files, {sum(sizes.values()) / 1e6:.1f} MB "
              f"(VirtualThreads.vlog {sizes.get('VirtualThreads.vlog', 0) / 1e6:.1f} MB)")
        results = {}
        for command in COMMANDS:
            name = " ".join(command)
            output = os.path.join(work, "out-" + "".join(command))
            walls, cpus = [], []
            for _ in range(args.runs):
                wall, cpu, _, status = timed([reader, "--no-progress", command[0], run] + command[1:], output)
                if status != 0:
                    raise SystemExit(f"{' '.join(command)} failed with status {status}")
                walls.append(wall)
                cpus.append(cpu)
            results[name] = (statistics.median(walls), statistics.median(cpus), os.path.getsize(output))
        check = results["check"][1]
        print("\n| command | wall s | cpu s | cpu x check | output MB |\n|---|---|---|---|---|")
        worst = 0.0
        for name, (wall, cpu, size) in results.items():
            worst = max(worst, cpu / check)
            print(f"| {name} | {wall:.2f} | {cpu:.2f} | {cpu / check:.1f} | {size / 1e6:.1f} |")
        if worst > 5:
            print(f"\nslowest command took {worst:.1f}x check's time (limit 5x)", file=sys.stderr)
            return 1
        return 0
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
