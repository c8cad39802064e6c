#!/usr/bin/env python3
"""Virtual threads against platform threads under the agent, ratios in one run.

Peak RSS of 10,000 virtual threads parked three calls deep, under the agent and
under the events floor agent; and the agent's cost per traced call on virtual
threads against platform threads doing the same work (time with the agent
minus time without, per call). Needs a JDK with virtual threads (21+). The
agent records receivers of logged calls only (ReceiverTags=2): the VM's own
cost of fetching a virtual thread's receiver would swamp everything else.
  bench/virtual_threads_bench.py --build-dir build-bench --java /usr/lib/jvm/temurin-25-jdk-amd64/bin/java
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import tempfile


def run(java, agent, settings, classes, args, workdir):
    command = [java, "-XX:+UseSerialGC"]
    if agent:
        command.append("-agentpath:" + agent + ("=" + settings if settings else ""))
    command += ["-cp", classes, "bench.VirtualThreadsBench"] + args
    process = subprocess.Popen(command, cwd=workdir, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    _, status, usage = os.wait4(process.pid, 0)
    out = process.stdout.read()
    if status != 0:
        raise SystemExit("failed: " + " ".join(command))
    found = re.search(r"work_ns (\d+)", out)
    return (int(found.group(1)) / 1e9 if found else None), usage.ru_maxrss / 1024.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--java", default="/usr/lib/jvm/temurin-25-jdk-amd64/bin/java")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--parked", type=int, default=10000)
    parser.add_argument("--threads", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=50000)
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    classes = os.path.join(build, "bench", "java-classes")
    agent = os.path.join(build, "libkolvaprof.so")
    floor = os.path.join(build, "bench", "libevents_floor_agent.so")
    with tempfile.TemporaryDirectory() as work:
        logs = os.path.join(work, "logs")
        settings = os.path.join(work, "bench.ini")

        def configure(extra):
            shutil.rmtree(logs, ignore_errors=True)
            os.mkdir(logs)
            with open(settings, "w") as out:
                out.write("LogfileDirectory=" + logs + "\nFilterMode=1\nPackageFilter=bench\nReceiverTags=2\n" + extra)

        park = ["park", str(args.parked)]
        floor_rss = statistics.median(run(args.java, floor, "", classes, park, work)[1] for _ in range(args.runs))
        print(f"{args.parked} parked virtual threads, peak RSS MB: events floor {floor_rss:.0f}")
        for label, extra in [("text per thread", ""), ("text shared", "SeparateLogfilePerThread=0\n"),
                             ("binary shared", "CompressLogfile=1\nSeparateLogfilePerThread=0\n")]:
            rss = []
            for _ in range(args.runs):
                configure(extra)
                rss.append(run(args.java, agent, settings, classes, park, work)[1])
            agent_rss = statistics.median(rss)
            print(f"  agent, {label}: {agent_rss:.0f} MB, {agent_rss - floor_rss:+.0f} MB against the floor")

        calls = args.threads * args.rounds * 3
        times = {}
        for kind in ("pt", "vt"):
            work_args = ["work", kind, str(args.threads), str(args.rounds)]
            bare = statistics.median(run(args.java, None, "", classes, work_args, work)[0] for _ in range(args.runs))
            traced = []
            for _ in range(args.runs):
                configure("")
                traced.append(run(args.java, agent, settings, classes, work_args, work)[0])
            times[kind] = (statistics.median(traced) - bare) / calls
            print(f"{args.threads} {'virtual' if kind == 'vt' else 'platform'} threads x {args.rounds} rounds: "
                  f"{bare:.3f} s bare, {statistics.median(traced):.3f} s traced, "
                  f"{times[kind] * 1e9:.0f} ns per traced call")
        print(f"cost per traced call, virtual / platform: {times['vt'] / times['pt']:.2f}x")


if __name__ == "__main__":
    main()
