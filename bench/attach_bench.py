#!/usr/bin/env python3
"""What attaching to a running JVM and detaching again cost.

A generated program loads CLASSES classes of its own (gen.C0 ...) besides the
JDK's, then calls a few of them in rounds, 10 ms apart. The agent is loaded
into it with jcmd JVMTI.agent_load and detached the same way, once per run.
Reported, medians over the runs:
  - attach: the agent's own "attached: N classes retransformed in X ms" (from
    Agent_OnAttach to every loaded class rewritten), and jcmd's wall time
    (its own JVM start included);
  - first record: the smallest record time of the run (RecordTime=1: from
    the settings read, early in the attach, to the first traced call);
  - detach: "detached: N classes given back their bytes in Y ms", and jcmd's
    wall time, which adds closing the logs and the run's wait for the next
    clock second.
Two settings: the program's classes only (PackageFilter=gen, FilterMode=1),
and everything (the JDK's classes too).
  bench/attach_bench.py --build-dir build --java /usr/lib/jvm/java-17-openjdk-amd64/bin/java
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import tempfile
import time

SETTINGS = {
    "program classes": "FilterMode=1\nPackageFilter=gen\nRecordTime=1\n",
    "everything": "RecordTime=1\n",
}


def generate(directory, classes):
    source = os.path.join(directory, "gen")
    os.makedirs(source)
    with open(os.path.join(source, "Main.java"), "w") as out:
        out.write("package gen;\npublic class Main {\n")
        for i in range(classes):
            out.write(f"  static final class C{i} {{ static int f(int x) {{ return x + {i}; }} }}\n")
        out.write("  static int touch(int x) {\n    int s = x;\n")
        for i in range(classes):
            out.write(f"    s += C{i}.f(x);\n")
        out.write("    return s;\n  }\n")
        out.write("""  static int round(int x) { return C0.f(x) + C1.f(x) + C2.f(x); }
  public static void main(String[] args) throws Exception {
    long sum = touch(1);
    java.io.File stop = new java.io.File(args[0]);
    System.out.println("loaded");
    for (int r = 0; !stop.exists(); ++r) {
      sum += round(r);
      Thread.sleep(10);
    }
    System.out.println("sum " + sum);
  }
}
""")
    classesDir = os.path.join(directory, "classes")
    subprocess.run(["javac", "--release", "17", "-d", classesDir, os.path.join(source, "Main.java")], check=True)
    return classesDir


def timed(command):
    begin = time.monotonic()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return (time.monotonic() - begin) * 1000


def wait_for(path, text, timeout=120):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        with open(path) as f:
            content = f.read()
        if text in content:
            return content
        time.sleep(0.02)
    raise RuntimeError("no " + text + " in " + path)


def first_record_ms(run):
    times = []
    for root, _, files in os.walk(run):
        for name in files:
            with open(os.path.join(root, name), errors="replace") as f:
                for line in f:
                    found = re.search(r"(?:^| )\+(\d+)", line)
                    if found:
                        times.append(int(found.group(1)))
    return min(times) / 1e6


def one_run(java, jcmd, library, classes, settings_text, workdir):
    settings = os.path.join(workdir, "settings.ini")
    logs = os.path.join(workdir, "logs")
    with open(settings, "w") as f:
        f.write("LogfileDirectory=" + logs + "\n" + settings_text)
    stop = os.path.join(workdir, "stop")
    out_path = os.path.join(workdir, "out")
    with open(out_path, "w") as out:
        process = subprocess.Popen([java, "-XX:+UseSerialGC", "-XX:+EnableDynamicAgentLoading", "-cp", classes,
                                    "gen.Main", stop], cwd=workdir, stdout=out, stderr=subprocess.DEVNULL)
    try:
        wait_for(out_path, "loaded")
        time.sleep(0.5)
        counters = subprocess.run([jcmd, str(process.pid), "PerfCounter.print"], capture_output=True,
                                  text=True).stdout
        loaded = sum(int(n) for n in re.findall(r"java\.cls\.(?:shared)?[lL]oadedClasses=(\d+)", counters))
        attach_wall = timed([jcmd, str(process.pid), "JVMTI.agent_load", library, settings])
        console = wait_for(out_path, "attached: ")
        attached = re.search(r"attached: (\d+) class(?:es)? retransformed in (\d+) ms", console)
        time.sleep(1)
        detach_wall = timed([jcmd, str(process.pid), "JVMTI.agent_load", library, "detach"])
        console = wait_for(out_path, "detached: ")
        detached = re.search(r"detached: (\d+) class(?:es)? given back their bytes in (\d+) ms", console)
        run = os.path.join(logs, sorted(os.listdir(logs))[0])
        return {
            "loaded": loaded,
            "rewritten": int(attached.group(1)),
            "attach ms": int(attached.group(2)),
            "attach jcmd ms": attach_wall,
            "first record ms": first_record_ms(run),
            "restored": int(detached.group(1)),
            "detach ms": int(detached.group(2)),
            "detach jcmd ms": detach_wall,
        }
    finally:
        open(stop, "w").close()
        process.wait(timeout=60)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build")
    parser.add_argument("--java", default="/usr/lib/jvm/java-17-openjdk-amd64/bin/java")
    parser.add_argument("--classes", type=int, default=5000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    library = os.path.abspath(os.path.join(args.build_dir, "libkolvaprof.so"))
    jcmd = os.path.join(os.path.dirname(args.java), "jcmd")
    scratch = tempfile.mkdtemp()
    try:
        classes = generate(scratch, args.classes)
        print(f"| settings | loaded classes | retransformed | attach ms | attach, jcmd ms | first record ms "
              f"| restored | detach ms | detach, jcmd ms |")
        print("|---|---|---|---|---|---|---|---|---|")
        for name, settings in SETTINGS.items():
            results = []
            for i in range(args.runs):
                workdir = os.path.join(scratch, f"{len(results)}-{name.replace(' ', '-')}")
                os.makedirs(workdir)
                results.append(one_run(args.java, jcmd, library, classes, settings, workdir))
                shutil.rmtree(workdir)
            median = {key: statistics.median(r[key] for r in results) for key in results[0]}
            print(f"| {name} | {median['loaded']:.0f} | {median['rewritten']:.0f} | {median['attach ms']:.0f} "
                  f"| {median['attach jcmd ms']:.0f} | {median['first record ms']:.0f} | {median['restored']:.0f} "
                  f"| {median['detach ms']:.0f} | {median['detach jcmd ms']:.0f} |", flush=True)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
