#!/usr/bin/env python3
"""Screen-sharing benchmark: our freerdp-shadow-cli against FreeRDP's own X11
shadow server (freerdp-shadow-cli3) on the same Xvfb desktop, watched by the
same FreeRDP client (xfreerdp3 on a second Xvfb).

    python3 bench/run_bench.py [--build DIR] [--seconds 10] [--json FILE]

For each server, codec setting (default = H.264 allowed; planar = only the
lossless planar codec) and workload (colour: the root window's colour changes
20 times a second; scroll: an xterm printing a numbered line 60 times a second,
--scroll-rate; idle: nothing moves) it measures over one window:
  - picture changes the client shows per second (bench_pixel_watch),
  - server CPU from /proc/PID/stat (% of one core, ms per delivered frame),
  - bytes the server's TCP connection sent per second (ss -tin bytes_sent),
and once, on the bare desktop, the copies one full-screen frame costs in our
capture path against a plain memcpy (bench_copy_compare, and
bench_capture_copy from bench/capture_copy_bench.cpp when it was built).

It prints a table with the figures, the ratios to the reference and PASS/MISS
per target, and exits 0 whatever the figures are (it is a measurement, not a
test). Only 127.0.0.1 is used; every process it starts is ended on the way
out, also on errors and Ctrl-C. Displays :80-:89, ports 34800-34899.
"""
import argparse
import datetime
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PALETTE = ["ff0000", "00ff00", "0000ff", "ffff00", "00ffff", "ff00ff", "ffffff", "808080"]
READY_COLOUR = "336699"
IDLE_COLOUR = "2e8b57"
COLOUR_HZ = 20
PLANAR_FLAGS = ["-gfx-progressive", "-gfx-rfx", "-gfx-avc420", "-gfx-avc444"]
DESKTOP = "1280x800x24"
CLIENT_DESKTOP = "1600x1000x24"
# Where the probe looks, in client-window pixels (away from the pointer,
# which sits in the middle of the desktop, and from the xterm).
COLOUR_PROBE = (100, 760)
SCROLL_AREA = (2, 2, 120, 640)  # x, y, w, h: the xterm's first columns
CLK_TCK = os.sysconf("SC_CLK_TCK")


class Bench:
    def __init__(self, args):
        self.args = args
        self.procs = []  # Popen objects we started, each leading its own group
        self.tmp = tempfile.mkdtemp(prefix="corvane-bench-")
        self.bin = os.path.join(args.build, "bin")

    # ---- processes -------------------------------------------------------
    def start(self, argv, env, log_name):
        full_env = dict(os.environ)
        for key, value in env.items():
            if value is None:
                full_env.pop(key, None)
            else:
                full_env[key] = value
        log = open(os.path.join(self.tmp, log_name), "ab")
        proc = subprocess.Popen(argv, env=full_env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        self.procs.append(proc)
        return proc

    def stop(self, proc, grace=3.0):
        """SIGTERM to the process group we created, SIGKILL after `grace`."""
        if proc is None:
            return
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                try:
                    proc.wait(timeout=2)
                except subprocess.TimeoutExpired:
                    pass
        if proc in self.procs:
            self.procs.remove(proc)

    def stop_all(self):
        for proc in list(reversed(self.procs)):
            self.stop(proc, grace=1.0)

    def run(self, argv, env, timeout):
        full_env = dict(os.environ)
        full_env.update(env)
        try:
            out = subprocess.run(argv, env=full_env, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                 timeout=timeout, start_new_session=True)
            return out.returncode, out.stdout.decode(errors="replace")
        except subprocess.TimeoutExpired as e:
            return None, (e.stdout or b"").decode(errors="replace")

    # ---- displays and ports ----------------------------------------------
    def free_display(self, exclude=()):
        for n in range(80, 90):
            if n in exclude:
                continue
            if os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock"):
                continue
            return n
        raise RuntimeError("no free X display in :80-:89")

    def free_port(self, start):
        for port in range(start, 34900):
            with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                try:
                    s.bind(("127.0.0.1", port))
                except OSError:
                    continue
            if not port_open(port):
                return port
        raise RuntimeError("no free port in 34800-34899")

    def xvfb(self, geometry, exclude=()):
        for _ in range(5):
            n = self.free_display(exclude)
            proc = self.start(["Xvfb", f":{n}", "-screen", "0", geometry, "-nolisten", "tcp",
                               "-noreset"], {}, f"xvfb{n}.log")
            deadline = time.time() + 10
            while time.time() < deadline and proc.poll() is None:
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    rc, _ = self.run(["xdpyinfo", "-display", f":{n}"], {}, 5)
                    if rc == 0:
                        return n, proc
                time.sleep(0.1)
            self.stop(proc)
        raise RuntimeError("Xvfb did not start")

    def tool(self, name):
        path = os.path.join(self.bin, name)
        if not os.access(path, os.X_OK):
            raise RuntimeError(f"{path} is missing: build first (cmake --build {self.args.build})")
        return path


def port_open(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0


def cpu_ticks(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])  # utime + stime
    except (OSError, IndexError, ValueError):
        return None


def bytes_sent(port):
    """bytes_sent of the established TCP connections whose local port is `port`."""
    try:
        out = subprocess.run(["ss", "-tinH", "state", "established", f"( sport = :{port} )"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=5)
    except (OSError, subprocess.TimeoutExpired):
        return None
    total = None
    for m in re.finditer(r"bytes_sent:(\d+)", out.stdout.decode(errors="replace")):
        total = (total or 0) + int(m.group(1))
    return total


def parse_kv(text):
    return {k: v for k, v in re.findall(r"(\w+)=([-\w.]+)", text)}


def measure_workload(b, server, port, client_display, workload, seconds, label):
    """Runs the probe for `seconds` and samples CPU and bytes around it."""
    palette = ",".join(PALETTE)
    if workload == "colour":
        probe = ["--mode", "colour", "--x", str(COLOUR_PROBE[0]), "--y", str(COLOUR_PROBE[1]),
                 "--palette", palette]
    else:
        x, y, w, h = SCROLL_AREA
        probe = ["--mode", "area", "--x", str(x), "--y", str(y), "--w", str(w), "--h", str(h)]
    argv = [b.tool("bench_pixel_watch")] + probe + ["--seconds", str(seconds)]
    full_env = dict(os.environ, DISPLAY=f":{client_display}")
    perf = None
    if b.args.perf:
        os.makedirs(b.args.perf, exist_ok=True)
        data = os.path.join(b.args.perf, f"{label}-{workload}.data")
        perf = b.start(["perf", "record", "-q", "-F", "499", "-g", "-p", str(server.pid), "-o",
                        data, "--", "sleep", str(seconds)], {}, "perf.log")
    t0, c0, n0 = time.monotonic(), cpu_ticks(server.pid), bytes_sent(port)
    wall0 = time.time()
    try:
        out = subprocess.run(argv, env=full_env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             timeout=seconds + 20, start_new_session=True)
        text = out.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        text = ""
    t1, c1, n1 = time.monotonic(), cpu_ticks(server.pid), bytes_sent(port)
    if perf is not None:
        try:
            perf.wait(timeout=15)
        except subprocess.TimeoutExpired:
            pass
        b.stop(perf)
    kv = parse_kv(text)
    elapsed = t1 - t0
    changes = int(kv.get("changes", 0))
    result = {
        "elapsed_s": elapsed,
        "changes": changes,
        "fps": changes / float(kv.get("seconds", elapsed) or elapsed),
        "cpu_pct": None, "cpu_ms_per_frame": None, "bytes_per_s": None,
        "window": [wall0, time.time()],
        "probe": text.strip(),
    }
    if c0 is not None and c1 is not None:
        cpu_s = (c1 - c0) / CLK_TCK
        result["cpu_pct"] = 100.0 * cpu_s / elapsed
        result["cpu_ms_per_frame"] = 1000.0 * cpu_s / changes if changes else None
    if n0 is not None and n1 is not None:
        result["bytes_per_s"] = (n1 - n0) / elapsed
    return result


def scroll_command(rate):
    """What the xterm runs: a counter, `rate` lines a second on absolute
    deadlines, or as fast as xterm takes it when `rate` is 0."""
    if rate <= 0:
        return ["seq", "1", "2000000000"]
    script = ("import sys,time\n"
              f"p=1.0/{rate:g}; t=time.monotonic(); i=0\n"
              "while True:\n"
              "    i+=1; sys.stdout.write('line %d of a steady text stream\\n' % i); sys.stdout.flush()\n"
              "    t+=p; time.sleep(max(0.0, t-time.monotonic()))\n")
    return [sys.executable, "-c", script]


def run_session(b, which, codec, server_display, client_display):
    """One server with one codec setting: connect the client, run the three workloads."""
    args = b.args
    d_env = {"DISPLAY": f":{server_display}"}
    wl = b.tool("bench_workload_colour")
    b.run([wl, "--once", READY_COLOUR], d_env, 10)
    home = tempfile.mkdtemp(prefix=f"{which}-{codec}-", dir=b.tmp)
    port = b.free_port(34800 + (0 if which == "ours" else 10) + (0 if codec == "default" else 5))
    flags = [f"/port:{port}", "-auth", "/sec:tls"] + (PLANAR_FLAGS if codec == "planar" else [])
    if which == "ours":
        argv = [os.path.join(b.bin, "freerdp-shadow-cli")] + flags + args.ours_flags.split()
    else:
        argv = [shutil.which("freerdp-shadow-cli3") or "freerdp-shadow-cli3"] + flags
    env = {"DISPLAY": f":{server_display}", "HOME": home, "XDG_RUNTIME_DIR": home,
           "XDG_CONFIG_HOME": os.path.join(home, ".config"),
           "MAC_SHADOW_STATS_FILE": os.path.join(home, "stats.json"),
           "CORVANE_PLATFORM": None, "MAC_SHADOW_PERMS": None}
    log_name = f"server-{which}-{codec}.log"
    results = {}
    server = client = None
    try:
        server = b.start(argv, env, log_name)
        deadline = time.time() + 15
        while time.time() < deadline and server.poll() is None and not port_open(port):
            time.sleep(0.05)
        if not port_open(port):
            raise RuntimeError(f"{which} server ({codec}) did not listen on {port}; "
                               f"see {os.path.join(b.tmp, log_name)}")
        client = b.start(["xfreerdp3", f"/v:127.0.0.1:{port}", "/cert:ignore", "/sec:tls",
                          "/u:x", "/p:x", "/size:1280x800"],
                         {"DISPLAY": f":{client_display}", "HOME": home},
                         f"client-{which}-{codec}.log")
        rc, _ = b.run([b.tool("bench_pixel_watch"), "--mode", "wait", "--x", str(COLOUR_PROBE[0]),
                       "--y", str(COLOUR_PROBE[1]), "--palette", READY_COLOUR, "--tol", "24",
                       "--seconds", "20"], {"DISPLAY": f":{client_display}"}, 30)
        if rc != 0:
            raise RuntimeError(f"the client never showed the {which} server's desktop ({codec})")
        for workload in args.workloads:
            load = None
            try:
                if workload == "colour":
                    load = b.start([wl, "--hz", str(COLOUR_HZ), "--palette", ",".join(PALETTE),
                                    "--seconds", str(args.warmup + args.seconds + 5)], d_env,
                                   f"workload-{which}-{codec}-colour.log")
                elif workload == "scroll":
                    load = b.start(["xterm", "-geometry", "100x50+0+0", "-e"] +
                                   scroll_command(args.scroll_rate), d_env,
                                   f"workload-{which}-{codec}-scroll.log")
                else:
                    b.run([wl, "--once", IDLE_COLOUR], d_env, 10)
                time.sleep(args.warmup)
                # Idle CPU is a few clock ticks a window: a longer window keeps one
                # tick from deciding the comparison.
                seconds = args.idle_seconds if workload == "idle" else args.seconds
                results[workload] = measure_workload(b, server, port, client_display, workload,
                                                     seconds, f"{which}-{codec}")
                if server.poll() is not None:
                    raise RuntimeError(f"{which} server ({codec}) exited during {workload}")
            finally:
                b.stop(load)
            if workload == "colour":
                log = os.path.join(b.tmp, f"workload-{which}-{codec}-colour.log")
                kv = parse_kv(open(log, errors="replace").read())
                results[workload]["workload_rate"] = float(kv.get("rate", COLOUR_HZ))
        if which == "ours":
            copies = copy_stats(os.path.join(b.tmp, log_name), results)
            for workload, value in copies.items():
                results[workload]["live_copy_ms"] = value
    finally:
        b.stop(client)
        b.stop(server)
    return results


def copy_stats(log_path, results):
    """Our server's own 'copy avg' figures, averaged per workload window."""
    lines = []
    try:
        for line in open(log_path, errors="replace"):
            m = re.search(r"\[(\d+):(\d+):(\d+):(\d+)\].*capture: ([\d.]+) fps.*copy avg ([\d.]+) ms",
                          line)
            if m:
                h, mi, s, ms = (int(x) for x in m.groups()[:4])
                lines.append((h * 3600 + mi * 60 + s + ms / 1000.0, float(m.group(6))))
    except OSError:
        return {}
    out = {}
    for workload, r in results.items():
        start, end = (datetime.datetime.fromtimestamp(t) for t in r["window"])
        lo = start.hour * 3600 + start.minute * 60 + start.second
        hi = end.hour * 3600 + end.minute * 60 + end.second + 5  # lines close 5 s windows
        values = [v for t, v in lines if lo <= t <= hi]
        if values:
            out[workload] = sum(values) / len(values)
    return out


def copy_benches(b, display):
    found = {}
    rc, text = b.run([b.tool("bench_copy_compare"), "--iterations", "200"],
                     {"DISPLAY": f":{display}"}, 60)
    found["bench_copy_compare"] = text.strip() if rc == 0 else f"failed: {text.strip()}"
    # A colleague's capture copy benchmark (bench/capture_copy_bench.cpp), when built.
    for name in ("bench_capture_copy", "capture_copy_bench"):
        other = os.path.join(b.bin, name)
        if os.access(other, os.X_OK):
            rc, text = b.run([other], {"DISPLAY": f":{display}"}, 120)
            found[name] = text.strip() if rc == 0 else f"failed ({rc}): {text.strip()}"
            break
    return found


def fmt(value, pattern="{:.1f}", none="-"):
    return none if value is None else pattern.format(value)


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def report(all_results, copies, args):
    lines = []
    add = lines.append
    add(f"date {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}, {os.cpu_count()} cores, "
        f"desktop {DESKTOP}, window {args.seconds:g} s, idle {args.idle_seconds:g} s (+{args.warmup:g} s warm-up), "
        f"scroll {args.scroll_rate:g} lines/s" +
        (f", our server also given: {args.ours_flags}" if args.ours_flags else ""))
    add("")
    add("| server | codec | workload | client fps | server CPU % | CPU ms/frame | KB/s sent |")
    add("|---|---|---|---|---|---|---|")
    for (which, codec), res in all_results.items():
        for workload in args.workloads:
            r = res.get(workload)
            if not r:
                add(f"| {which} | {codec} | {workload} | (no run) | | | |")
                continue
            fps = fmt(r["fps"])
            if workload == "colour" and r.get("workload_rate"):
                fps += f" of {r['workload_rate']:.1f}"
            add(f"| {which} | {codec} | {workload} | {fps} | {fmt(r['cpu_pct'])} | "
                f"{fmt(r['cpu_ms_per_frame'])} | {fmt(r['bytes_per_s'] and r['bytes_per_s'] / 1024, '{:.0f}')} |")
    add("")
    add("| codec | target | ours | reference | ratio | result |")
    add("|---|---|---|---|---|---|")
    ref_idle = all_results.get(("reference", "default"), {}).get("idle", {}).get("cpu_pct")
    for codec in args.codecs:
        ours = all_results.get(("ours", codec), {})
        ref = all_results.get(("reference", codec), {})
        if "colour" in args.workloads:
            o, r = ours.get("colour"), ref.get("colour")
            if o:
                share = ratio(o["fps"], o.get("workload_rate"))
                ok = share is not None and share >= 0.95
                add(f"| {codec} | colour: changes reaching the client >= 95 % | "
                    f"{fmt(share and 100 * share)} % | "
                    f"{fmt(r and ratio(r['fps'], r.get('workload_rate')) and 100 * ratio(r['fps'], r.get('workload_rate')))} % | "
                    f"- | {'PASS' if ok else 'MISS'} |")
                rr = ratio(o["cpu_ms_per_frame"], r and r["cpu_ms_per_frame"])
                ok = rr is not None and rr <= 0.5
                add(f"| {codec} | colour: CPU per delivered frame <= 0.5 x reference | "
                    f"{fmt(o['cpu_ms_per_frame'])} ms | {fmt(r and r['cpu_ms_per_frame'])} ms | "
                    f"{fmt(rr, '{:.2f}')} | {'PASS' if ok else 'MISS'} |")
        if "scroll" in args.workloads:
            o, r = ours.get("scroll"), ref.get("scroll")
            if o:
                rr = ratio(o["fps"], r and r["fps"])
                ok = r is not None and o["fps"] >= r["fps"]
                add(f"| {codec} | scroll: updates/s >= reference | {fmt(o['fps'])} | "
                    f"{fmt(r and r['fps'])} | {fmt(rr, '{:.2f}')} | {'PASS' if ok else 'MISS'} |")
        if "idle" in args.workloads:
            o = ours.get("idle")
            if o:
                rr = ratio(o["cpu_pct"], ref_idle)
                ok = o["cpu_pct"] is not None and ref_idle is not None and o["cpu_pct"] <= max(ref_idle, 0.0)
                add(f"| {codec} | idle: CPU <= reference's H.264 idle CPU | {fmt(o['cpu_pct'], '{:.2f}')} % | "
                    f"{fmt(ref_idle, '{:.2f}')} % | {fmt(rr, '{:.2f}')} | {'PASS' if ok else 'MISS'} |")
    add("")
    add("Frame copy, one full 1280x800 frame (median):")
    for name, text in copies.items():
        add(f"  {name}:")
        for line in text.splitlines():
            add(f"    {line}")
    live = [(c, w, r["live_copy_ms"]) for (s, c), res in all_results.items() if s == "ours"
            for w, r in res.items() if r.get("live_copy_ms") is not None]
    if live:
        add("  our server's own 'copy avg' (frame into the shadow surface) per run: " +
            ", ".join(f"{c}/{w} {v:.2f} ms" for c, w, v in live))
    return "\n".join(lines)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=os.environ.get("CORVANE_BUILD_DIR", os.path.join(root, "build")))
    p.add_argument("--seconds", type=float, default=10.0, help="measuring window per workload")
    p.add_argument("--idle-seconds", type=float, default=30.0,
                   help="measuring window of the idle workload (CPU resolution is one tick)")
    p.add_argument("--warmup", type=float, default=2.0, help="settling time before each window")
    p.add_argument("--servers", default="ours,reference")
    p.add_argument("--codecs", default="default,planar")
    p.add_argument("--workloads", default="colour,scroll,idle")
    p.add_argument("--scroll-rate", type=float, default=60.0,
                   help="lines a second the terminal prints (0: as fast as xterm takes them)")
    p.add_argument("--ours-flags", default="",
                   help="extra flags for our server only (experiments; the comparison is then "
                        "no longer like for like)")
    p.add_argument("--json", help="also write the raw figures to this file")
    p.add_argument("--keep", action="store_true", help="keep the logs folder")
    p.add_argument("--perf", metavar="DIR",
                   help="record each window's server profile with perf into DIR (analysis only: "
                        "perf's own cost skews the CPU figures)")
    args = p.parse_args()
    args.build = os.path.abspath(args.build)
    args.servers = [s for s in args.servers.split(",") if s]
    args.codecs = [c for c in args.codecs.split(",") if c]
    args.workloads = [w for w in args.workloads.split(",") if w]

    b = Bench(args)

    def on_signal(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)
    all_results = {}
    copies = {}
    try:
        for tool in ("freerdp-shadow-cli", "bench_pixel_watch", "bench_workload_colour",
                     "bench_copy_compare"):
            b.tool(tool)
        for needed in ("Xvfb", "xfreerdp3", "freerdp-shadow-cli3", "xterm", "xdpyinfo", "ss"):
            if not shutil.which(needed):
                raise RuntimeError(f"{needed} is not installed")
        server_display, x1 = b.xvfb(DESKTOP)
        client_display, x2 = b.xvfb(CLIENT_DESKTOP, exclude=(server_display,))
        print(f"bench: server desktop :{server_display}, client :{client_display}, logs in {b.tmp}",
              flush=True)
        copies = copy_benches(b, server_display)
        for codec in args.codecs:
            for which in args.servers:
                print(f"bench: {which} server, {codec} codecs ...", flush=True)
                try:
                    all_results[(which, codec)] = run_session(b, which, codec, server_display,
                                                              client_display)
                except RuntimeError as e:
                    print(f"bench: {e}", flush=True)
                    all_results[(which, codec)] = {}
                for w, r in all_results[(which, codec)].items():
                    print(f"  {w}: {fmt(r['fps'])} fps, CPU {fmt(r['cpu_pct'])} %, "
                          f"{fmt(r['bytes_per_s'] and r['bytes_per_s'] / 1024, '{:.0f}')} KB/s", flush=True)
    except RuntimeError as e:
        print(f"bench: {e}", flush=True)
    except KeyboardInterrupt:
        print("bench: interrupted", flush=True)
    finally:
        b.stop_all()
    print()
    print(report(all_results, copies, args))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({f"{s}/{c}": r for (s, c), r in all_results.items()} | {"copies": copies},
                      f, indent=1)
    if args.keep:
        print(f"\nlogs kept in {b.tmp}")
    else:
        shutil.rmtree(b.tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
