#!/usr/bin/env python3
"""Server CPU per delivered frame for builds that differ in their H.264 encoder
configuration (bench/README.md, "Encoder").

    bench/encoder_server_check.py --build A=DIR[,PROFILE] --build B=DIR [--rounds 3]

PROFILE, when given, is passed as MAC_SHADOW_H264_PROFILE. Each DIR holds a freerdp-shadow-cli with its subsystem library and the bench
tools (bench_workload_colour, bench_pixel_watch). Per round, build and
-/+gfx-avc444 and workload: Xvfb :186 (1280x800) for the server, :187 for the
client (xfreerdp3 on 127.0.0.1:24931); "colour": 20 colour changes a second,
"scroll": an xterm (100x50) printing 60 lines a second; 2 s to settle, then
10 s measured (server utime+stime from /proc, changes the client showed: at one
pixel of the desktop, or of a 120x400 strip of the terminal).
A session whose client never shows the desktop is tried again (up to three
times) rather than counted. Builds alternate inside each round so that the machine's load hits them alike.
Each session holds the e2e lock (/tmp/corvane-e2e.lock) while it runs.
"""
import argparse
import fcntl
import os
import statistics
import subprocess
import tempfile
import time

PALETTE = "ff0000,00ff00,0000ff,ffff00,00ffff,ff00ff,ffffff,808080"
PORT = 24931
LOCK = "/tmp/corvane-e2e.lock"


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def start(argv, env, log):
    return subprocess.Popen(argv, env=dict(os.environ, **env), stdout=log, stderr=log,
                            start_new_session=True)


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


SCROLL_SCRIPT = ('i=0; while :; do i=$((i+1)); echo "line $i of a scrolling terminal"; '
                 'sleep 0.0167; done')


def one(bindir, profile, avc444, workload_name, home, logpath):
    procs = []
    log = open(logpath, "ab")
    try:
        for display, size in ((186, "1280x800x24"), (187, "1400x900x24")):
            procs.append(start(["Xvfb", f":{display}", "-screen", "0", size, "-nolisten", "tcp",
                                "-noreset"], {}, log))
        time.sleep(1.0)
        wl = os.path.join(bindir, "bench_workload_colour")
        subprocess.run([wl, "--once", "336699"], env=dict(os.environ, DISPLAY=":186"),
                       stdout=log, stderr=log, check=False)
        server = start([os.path.join(bindir, "freerdp-shadow-cli"), f"/port:{PORT}", "-auth",
                        "/sec:tls", "+gfx-avc444" if avc444 else "-gfx-avc444"],
                       {"DISPLAY": ":186", "HOME": home, "XDG_RUNTIME_DIR": home,
                        "CORVANE_PLATFORM": "x11", "WLOG_LEVEL": "WARN",
                        "MAC_SHADOW_H264_PROFILE": profile}, log)
        procs.append(server)
        time.sleep(1.0)
        procs.append(start(["xfreerdp3", f"/v:127.0.0.1:{PORT}", "/cert:ignore", "/sec:tls",
                            "/u:x", "/p:x", "/size:1280x800"], {"DISPLAY": ":187", "HOME": home},
                           log))
        watch = os.path.join(bindir, "bench_pixel_watch")
        shown = subprocess.run([watch, "--mode", "wait", "--x", "100", "--y", "700", "--palette",
                                "336699", "--seconds", "20"], env=dict(os.environ, DISPLAY=":187"),
                               stdout=log, stderr=log, check=False)
        if shown.returncode != 0:
            return None  # the client never showed the desktop: not a measurement
        if workload_name == "colour":
            workload = start([wl, "--hz", "20", "--seconds", "13", "--palette", PALETTE],
                             {"DISPLAY": ":186"}, log)
            probe = ["--mode", "colour", "--x", "100", "--y", "700", "--palette", PALETTE]
        else:
            workload = start(["xterm", "-geometry", "100x50+0+0", "-e", "sh", "-c",
                              SCROLL_SCRIPT], {"DISPLAY": ":186"}, log)
            probe = ["--mode", "area", "--x", "2", "--y", "2", "--w", "120", "--h", "400"]
        procs.append(workload)
        time.sleep(2.0)
        c0 = cpu_ticks(server.pid)
        out = subprocess.run([watch] + probe + ["--seconds", "10"],
                             env=dict(os.environ, DISPLAY=":187"),
                             stdout=subprocess.PIPE, stderr=log, check=False).stdout.decode()
        c1 = cpu_ticks(server.pid)
        changes = int(out.split("changes=")[1].split()[0]) if "changes=" in out else 0
        cpu_ms = (c1 - c0) * 1000.0 / os.sysconf("SC_CLK_TCK")
        return cpu_ms / 10.0 / 10.0, changes, cpu_ms / max(changes, 1)
    finally:
        for p in reversed(procs):
            stop(p)
        log.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", action="append", required=True, help="LABEL=DIR[,PROFILE]")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--workloads", default="colour,scroll")
    ap.add_argument("--logs", default=tempfile.gettempdir(), help="folder for the run logs")
    args = ap.parse_args()
    builds = []
    for spec in args.build:
        label, rest = spec.split("=", 1)
        bindir, _, profile = rest.partition(",")
        builds.append((label, bindir, profile or "baseline"))
    results = {}
    for _ in range(args.rounds):
        for workload, avc444 in ((w, a) for w in args.workloads.split(",")
                                 for a in (False, True)):
            for label, bindir, profile in builds:
                with tempfile.TemporaryDirectory() as home, open(LOCK, "a") as lock:
                    fcntl.flock(lock, fcntl.LOCK_EX)
                    logpath = os.path.join(args.logs, f"encoder-{label}-{int(avc444)}.log")
                    for _attempt in range(3):
                        result = one(bindir, profile, avc444, workload, home, logpath)
                        if result:
                            results.setdefault((workload, label, avc444), []).append(result)
                            break
    print(f"{'workload':<8} {'build':<14} {'codec':<7} {'cpu %':>16} {'changes/10 s':>16} "
          f"{'ms/frame':>20}")
    for (workload, label, avc444), runs in results.items():
        cols = []
        for i in range(3):
            v = sorted(r[i] for r in runs)
            cols.append(f"{statistics.median(v):6.1f} ({v[0]:.1f}-{v[-1]:.1f})")
        print(f"{workload:<8} {label:<14} {'AVC444' if avc444 else 'AVC420':<7} {cols[0]:>16} "
              f"{cols[1]:>16} {cols[2]:>20}")


if __name__ == "__main__":
    main()
