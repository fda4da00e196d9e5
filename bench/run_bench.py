#!/usr/bin/env python3
"""Screen-sharing benchmark: our freerdp-shadow-cli against FreeRDP's own X11
shadow server (freerdp-shadow-cli3) on the same Xvfb desktop, watched by the
same FreeRDP client (xfreerdp3 on its own Xvfb).

    python3 bench/run_bench.py --mode short   # a few minutes, for trying it
    python3 bench/run_bench.py --mode full --chart bench/bench_results.png

Per server and codec setting (shipped: each server as it ships, ours with the
command line and environment the application builds; avc444, avc420, wavelet,
planar: both servers asked for the same codec) one client connects and:
  - colour: the root window's colour changes 20 times a second; the client's
    picture changes per second (bench_pixel_watch), server CPU from
    /proc/PID/stat, bytes sent (ss -tin);
  - scroll: an xterm printing 60 lines a second; updates per second;
  - page, video, drag (bench_workload_motion): a 1200x720 page of photographs
    and text scrolled 8 rows a frame at 30 frames/s; a 480x270 region of moving
    natural-looking content at 30 frames/s; a 400x300 window with a photograph
    dragged across the desktop at 30 frames/s; changes per second in an area
    of each, and bytes per delivered frame;
  - idle: nothing moves; server CPU;
  - latency: a change on the server's desktop until the client shows it, and a
    key typed at the client until bench_key_echo's window on the server's
    desktop has answered and the client shows the answer (bench_latency);
    in full mode a second pass with a fresh server measures latency again.
The codec label of each run is the codec the client actually decoded (its
own log, com.freerdp.gdi at TRACE), not the flags.
Then the scale runs: 1, 2 and 4 clients at once on desktops of 1920x1080 and
3840x2160, colour workload: changes each client sees and server CPU.

With --link RATE/DELAY (e.g. 20mbit/20ms) every client reaches its server
through bench_link_relay, a relay on loopback with that bandwidth and that
delay each way, the same for both servers.
It prints tables with the figures, the ratios to the reference and PASS/MISS
per target, optionally draws a PNG chart (matplotlib), and exits 0 whatever
the figures are (a measurement, not a test). Only 127.0.0.1 is used; every
process it starts is ended on the way out, also on errors and Ctrl-C.
Displays :80-:89, ports 24800-24899.
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
# Where the probe looks, in client-window pixels: away from the pointer (in
# the middle of the desktop) and from the xterm, and inside the picture also
# when a server scales 1280x800 down to 0.75.
COLOUR_PROBE = (100, 500)
SCROLL_AREA = (2, 2, 120, 400)  # x, y, w, h: the xterm's first columns
# The moving-content workloads (bench_workload_motion's modes) and the area
# of the client's picture each one is watched in: inside the scrolled page,
# inside the video region, and a strip the dragged window crosses.
MOTION = {
    "page": (["--mode", "page"], (60, 60, 200, 400)),
    "video": (["--mode", "video"], (800, 500, 200, 150)),
    "drag": (["--mode", "drag"], (500, 380, 120, 60)),
}
MEASURED = ("colour", "scroll", "page", "video", "drag", "idle")
# Where a change is timed while moving content plays: the desktop's corner,
# outside every workload's window.
LOADED_PROBE = (20, 780)


def growth(result):
    """Latency at the end of a loaded run against its start: the median of
    the last third of the samples over the median of the first third (a queue
    that builds up shows as a ratio above 1)."""
    values = (result or {}).get("values") or []
    third = len(values) // 3
    if third < 3:
        return None
    first, last = sorted(values[:third]), sorted(values[-third:])
    return last[third // 2] / first[third // 2] if first[third // 2] > 0 else None
# The typing probe: bench_key_echo's window on the server's desktop, and the
# spot inside it the client's picture is watched at (server-desktop pixels).
ECHO_WINDOW = (1000, 560, 200, 160)
ECHO_PROBE = (1100, 640)
ECHO_COLOURS = "ffa500,4b0082"
CLK_TCK = os.sysconf("SC_CLK_TCK")

# Codec settings. "shipped": each server as it ships (ours: the application's
# launch plan). The others ask both servers for one codec; AVC420 is asked of
# the client because the packaged shadow library's -gfx-avc444 switch ends
# H.264 altogether.
SETTINGS = ["shipped", "avc444", "avc420", "wavelet", "planar"]
SERVER_FLAGS = {"shipped": [], "avc444": [], "avc420": [],
                "wavelet": ["-gfx-avc420", "-gfx-avc444"], "planar": PLANAR_FLAGS}
CLIENT_FLAGS = {"avc420": ["/gfx:AVC420"]}
# What the client's log calls each codec, and the name the tables use.
CODEC_NAMES = {"AVC444": "AVC444", "AVC444v2": "AVC444", "AVC420": "AVC420",
               "CAVIDEO": "RemoteFX", "CAPROGRESSIVE": "progressive",
               "CAPROGRESSIVE_V2": "progressive", "PLANAR": "planar", "CLEARCODEC": "clear",
               "UNCOMPRESSED": "uncompressed", "ALPHA": "alpha"}

MODES = {
    "short": dict(settings="shipped,planar", seconds=4.0, idle_seconds=6.0, warmup=1.5,
                  samples=20, passes=1, scale_settings="planar", scale_desktops="1920x1080",
                  scale_clients="1,2", scale_seconds=4.0),
    "full": dict(settings=",".join(SETTINGS), seconds=10.0, idle_seconds=20.0, warmup=2.0,
                 samples=60, passes=2, scale_settings="planar,avc444",
                 scale_desktops="1920x1080,3840x2160", scale_clients="1,2,4", scale_seconds=8.0),
}


class Bench:
    def __init__(self, args):
        self.args = args
        self.procs = []  # Popen objects we started, each leading its own group
        self.tmp = tempfile.mkdtemp(prefix="corvane-bench-")
        self.bin = os.path.join(args.build, "bin")

    # ---- processes -------------------------------------------------------
    def start(self, argv, env, log_name, niceness=0):
        full_env = dict(os.environ)
        for key, value in env.items():
            if value is None:
                full_env.pop(key, None)
            else:
                full_env[key] = value
        log = open(os.path.join(self.tmp, log_name), "ab")
        proc = subprocess.Popen(argv, env=full_env, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True,
                                preexec_fn=(lambda: os.nice(niceness)) if niceness else None)
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
        for port in range(start, 24900):
            with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                try:
                    s.bind(("127.0.0.1", port))
                except OSError:
                    continue
            if not port_open(port):
                return port
        raise RuntimeError("no free port in 24800-24899")

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


def run_queue_ns(pid):
    """Time the process's threads spent runnable but waiting for a core
    (second field of /proc/PID/task/TID/schedstat), summed over its threads."""
    total = 0
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return None
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[1])
        except (OSError, IndexError, ValueError):
            pass
    return total


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


def client_codecs(log_path):
    """Counts of the codecs the client decoded, by table name, from its log."""
    counts = {}
    try:
        for m in re.finditer(r"codec=RDPGFX_CODECID_(\w+)", open(log_path, errors="replace").read()):
            name = CODEC_NAMES.get(m.group(1), m.group(1))
            counts[name] = counts.get(name, 0) + 1
    except OSError:
        pass
    return counts


def codec_label(counts):
    """The codec most surface commands used ('?' when the log shows none)."""
    if not counts:
        return "?"
    return max(counts.items(), key=lambda kv: kv[1])[0]


def stats_codec(path):
    """The clients text of our statistics file's last line."""
    try:
        lines = [line for line in open(path, errors="replace") if line.strip()]
        return json.loads(lines[-1]).get("clients") if lines else None
    except (OSError, ValueError):
        return None


def client_window_size(b, display):
    """Width x height of the largest window on the client's display."""
    rc, text = b.run(["xwininfo", "-root", "-children"], {"DISPLAY": f":{display}"}, 5)
    best = None
    for m in re.finditer(r"\s(\d+)x(\d+)\+-?\d+\+-?\d+", text or ""):
        w, h = int(m.group(1)), int(m.group(2))
        if best is None or w * h > best[0] * best[1]:
            best = (w, h)
    return f"{best[0]}x{best[1]}" if best else None


def watch_clients(b, server, port, client_displays, workload, seconds, label):
    """Runs one probe per client display for `seconds`; CPU and bytes around it."""
    palette = ",".join(PALETTE)
    if workload == "colour":
        probe = ["--mode", "colour", "--x", str(COLOUR_PROBE[0]), "--y", str(COLOUR_PROBE[1]),
                 "--palette", palette]
    else:
        x, y, w, h = MOTION[workload][1] if workload in MOTION else SCROLL_AREA
        probe = ["--mode", "area", "--x", str(x), "--y", str(y), "--w", str(w), "--h", str(h)]
    argv = [b.tool("bench_pixel_watch")] + probe + ["--seconds", str(seconds)]
    perf = None
    if b.args.perf:
        os.makedirs(b.args.perf, exist_ok=True)
        data = os.path.join(b.args.perf, f"{label}-{workload}.data")
        perf = b.start(["perf", "record", "-q", "-F", "499", "-g", "-p", str(server.pid), "-o",
                        data, "--", "sleep", str(seconds)], {}, "perf.log")
    watchers = []
    for d in client_displays:
        env = dict(os.environ, DISPLAY=f":{d}")
        watchers.append(subprocess.Popen(argv, env=env, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT, start_new_session=True))
    t0, c0, n0 = time.monotonic(), cpu_ticks(server.pid), bytes_sent(port)
    wall0 = time.time()
    texts = []
    for w in watchers:
        try:
            out, _ = w.communicate(timeout=seconds + 20)
            texts.append(out.decode(errors="replace"))
        except subprocess.TimeoutExpired:
            os.killpg(w.pid, signal.SIGKILL)
            w.communicate()
            texts.append("")
    t1, c1, n1 = time.monotonic(), cpu_ticks(server.pid), bytes_sent(port)
    if perf is not None:
        try:
            perf.wait(timeout=15)
        except subprocess.TimeoutExpired:
            pass
        b.stop(perf)
    elapsed = t1 - t0
    fps_each = []
    for text in texts:
        kv = parse_kv(text)
        fps_each.append(int(kv.get("changes", 0)) / float(kv.get("seconds", elapsed) or elapsed))
    frames = sum(f * elapsed for f in fps_each)
    result = {"elapsed_s": elapsed, "fps": fps_each[0] if fps_each else 0.0,
              "fps_each": fps_each, "cpu_pct": None, "cpu_ms_per_frame": None,
              "bytes_per_s": None, "window": [wall0, time.time()],
              "probe": [t.strip() for t in texts]}
    if c0 is not None and c1 is not None:
        cpu_s = (c1 - c0) / CLK_TCK
        result["cpu_pct"] = 100.0 * cpu_s / elapsed
        # Per frame any client saw: with several clients, per client-frame.
        result["cpu_ms_per_frame"] = 1000.0 * cpu_s / frames if frames >= 1 else None
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


def latency(b, server_display, client_display, mode, samples, seed, server_pid=None,
            probe=COLOUR_PROBE):
    """bench_latency's figures and samples, with the server's CPU time per
    sample (how much of the server part is work rather than waiting)."""
    argv = [b.tool("bench_latency"), "--mode", mode, "--server-display", f":{server_display}",
            "--client-display", f":{client_display}", "--samples", str(samples),
            "--seed", str(seed)]
    if mode == "change":
        argv += ["--x", str(probe[0]), "--y", str(probe[1]),
                 "--palette", ",".join(PALETTE[:6])]
    else:
        argv += ["--x", str(ECHO_PROBE[0]), "--y", str(ECHO_PROBE[1]), "--palette", ECHO_COLOURS]
    if b.args.latency_period_ms:
        argv += ["--period-ms", str(b.args.latency_period_ms)]
    c0 = cpu_ticks(server_pid) if server_pid else None
    q0 = run_queue_ns(server_pid) if server_pid else None
    rc, text = b.run(argv, {}, samples * 4 + 30)
    c1 = cpu_ticks(server_pid) if server_pid else None
    q1 = run_queue_ns(server_pid) if server_pid else None
    kv = parse_kv(text)
    m = re.search(r"values=([\d.,]*)", text)
    values = [float(v) for v in m.group(1).split(",") if v] if m else []
    m = re.search(r"starts=([\d.,]*)", text)
    starts = [float(v) for v in m.group(1).split(",") if v] if m else []
    if not values:
        return {"error": text.strip()[-300:]}
    result = {"p50": float(kv["p50"]), "p95": float(kv["p95"]), "max": float(kv["max"]),
              "lost": int(kv.get("lost", 0)), "values": values, "starts": starts}
    if c0 is not None and c1 is not None:
        result["cpu_ms_per_sample"] = 1000.0 * (c1 - c0) / CLK_TCK / len(values)
    if q0 is not None and q1 is not None:
        # Threads that ended during the run take their share with them: a floor.
        result["run_queue_ms_per_sample"] = max(0, q1 - q0) / 1e6 / len(values)
    return result


def percentile(values, p):
    """Nearest rank, as bench_latency computes it."""
    if not values:
        return None
    v = sorted(values)
    return v[max(1, min(len(v), int(-(-p * len(v) // 1)))) - 1]


STAMP_LINES = ("import sys, time\n"
               "for line in sys.stdin:\n"
               "    sys.stdout.write('@%.4f ' % time.time() + line)\n")


def server_parts(result, client_log):
    """Splits each latency sample at the last surface command the client got
    before the answer showed: until then the server captures, encodes and
    sends (for a key, the client's input path comes first); after it, the
    client decodes and draws. A server that sends one frame in many commands
    is judged by its last one. Each line of the client's log carries the time
    it was written; the client logs a command before decoding it."""
    if not result or "starts" not in result:
        return
    times = []
    try:
        for m in re.finditer(r"@([\d.]+) [^\n]*codec=RDPGFX_CODECID",
                             open(client_log, errors="replace").read()):
            times.append(float(m.group(1)))
    except OSError:
        return
    times.sort()
    parts = []
    for start_ms, total in zip(result["starts"], result["values"]):
        t0, t1 = start_ms / 1000.0, (start_ms + total) / 1000.0
        last = None
        for v in times:
            if v > t1:
                break
            if v >= t0:
                last = v
        if last is not None:
            parts.append((last - t0) * 1000.0)
    if parts:
        result["server_part"] = parts
        result["server_part_p50"] = percentile(parts, 0.5)


class Session:
    """One server with one codec setting and its connected clients."""

    def __init__(self, b, which, setting, server_display, client_displays, size, tag):
        self.b, self.which, self.setting = b, which, setting
        self.server_display, self.client_displays = server_display, client_displays
        self.size, self.tag = size, tag
        self.server = None
        self.clients = []
        self.client_logs = []
        self.home = tempfile.mkdtemp(prefix=f"{which}-{setting}-", dir=b.tmp)
        self.stats = os.path.join(self.home, "stats.json")
        self.port = b.free_port(24800 + (0 if which == "ours" else 50))
        self.relay = None
        # Where the clients connect: the server, or the shaped link in front of it.
        self.client_port = self.port

    def command(self):
        b = self.b
        env = {"DISPLAY": f":{self.server_display}", "HOME": self.home,
               "XDG_RUNTIME_DIR": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
               "MAC_SHADOW_STATS_FILE": self.stats, "CORVANE_PLATFORM": None,
               "MAC_SHADOW_PERMS": None}
        if self.which == "reference":
            argv = [shutil.which("freerdp-shadow-cli3") or "freerdp-shadow-cli3",
                    f"/port:{self.port}", "-auth", "/sec:tls"] + SERVER_FLAGS[self.setting]
            return argv, env
        argv = [os.path.join(b.bin, "freerdp-shadow-cli")]
        if self.setting == "shipped":
            rc, text = b.run([b.tool("bench_launch_plan"), "--port", str(self.port)], {}, 10)
            if rc != 0:
                raise RuntimeError(f"bench_launch_plan failed: {text.strip()}")
            for line in text.splitlines():
                kind, _, value = line.partition(" ")
                if kind == "arg":
                    argv.append(value)
                elif kind == "env":
                    name, _, v = value.partition("=")
                    env[name] = v
            # The application points this at its own folder; ours is the session's.
            env["MAC_SHADOW_STATS_FILE"] = self.stats
        else:
            argv += [f"/port:{self.port}", "-auth", "/sec:tls"] + SERVER_FLAGS[self.setting]
        argv += b.args.ours_flags.split()
        return argv, env

    def open(self):
        b = self.b
        wl = b.tool("bench_workload_colour")
        b.run([wl, "--once", READY_COLOUR], {"DISPLAY": f":{self.server_display}"}, 10)
        argv, env = self.command()
        self.argv = argv
        self.server_log = os.path.join(b.tmp, f"server-{self.tag}.log")
        self.server = b.start(argv, env, os.path.basename(self.server_log), b.args.server_nice)
        deadline = time.time() + 15
        while time.time() < deadline and self.server.poll() is None and not port_open(self.port):
            time.sleep(0.05)
        if not port_open(self.port):
            raise RuntimeError(f"{self.which} server ({self.setting}) did not listen on "
                               f"{self.port}; see {self.server_log}")
        if b.args.link:
            self.open_link(b.args.link)
        for i, d in enumerate(self.client_displays):
            log = f"client-{self.tag}-{i}.log"
            self.client_logs.append(os.path.join(b.tmp, log))
            # Each line of the client's log gets our own wall-clock stamp (WLog's
            # millisecond field is not reliable), line-buffered all the way.
            self.clients.append(b.start(
                ["sh", "-c", 'stdbuf -oL -eL "$@" 2>&1 | "$0" -u -c "$STAMP"', sys.executable,
                 "xfreerdp3", f"/v:127.0.0.1:{self.client_port}", "/cert:ignore", "/sec:tls", "/u:x",
                 "/p:x", f"/size:{self.size}"] + CLIENT_FLAGS.get(self.setting, []),
                {"DISPLAY": f":{d}", "HOME": self.home, "WLOG_FILTER": "com.freerdp.gdi:TRACE",
                 "STAMP": STAMP_LINES}, log))
        for d in self.client_displays:
            rc, _ = b.run([b.tool("bench_pixel_watch"), "--mode", "wait", "--x",
                           str(COLOUR_PROBE[0]), "--y", str(COLOUR_PROBE[1]), "--palette",
                           READY_COLOUR, "--tol", "24", "--seconds", "30"],
                          {"DISPLAY": f":{d}"}, 40)
            if rc != 0:
                raise RuntimeError(f"a client never showed the {self.which} server's desktop "
                                   f"({self.setting}, display :{d})")

    def open_link(self, link):
        rate, _, delay = link.partition("/")
        self.client_port = self.b.free_port(self.port + 1)
        self.relay = self.b.start([self.b.tool("bench_link_relay"), str(self.client_port),
                                   str(self.port), rate, delay or "0ms"], {},
                                  f"link-{self.tag}.log")
        # Its own line says it listens: a probing connection would reach the server.
        log = os.path.join(self.b.tmp, f"link-{self.tag}.log")
        deadline = time.time() + 5
        while time.time() < deadline and "listening" not in open(log).read():
            time.sleep(0.05)
        if "listening" not in open(log).read():
            raise RuntimeError(f"the shaped link {link} did not listen on {self.client_port}; "
                               f"see {log}")

    def codec(self):
        counts = {}
        for log in self.client_logs:
            for k, v in client_codecs(log).items():
                counts[k] = counts.get(k, 0) + v
        info = {"codec": codec_label(counts), "codec_counts": counts,
                "client_window": client_window_size(self.b, self.client_displays[0])}
        if self.which == "ours":
            info["stats_clients"] = stats_codec(self.stats)
        return info

    def close(self):
        for c in self.clients:
            self.b.stop(c)
        if self.relay:
            self.b.stop(self.relay)
        self.b.stop(self.server)


def run_session(b, which, setting, server_display, client_display, workloads, seed):
    """One server, one codec setting, one client: the workloads in order."""
    args = b.args
    d_env = {"DISPLAY": f":{server_display}"}
    wl = b.tool("bench_workload_colour")
    s = Session(b, which, setting, server_display, [client_display], "1280x800",
                f"{which}-{setting}-{seed}")
    results = {"load": os.getloadavg()[0]}
    try:
        s.open()
        for workload in workloads:
            load = None
            log = f"workload-{which}-{setting}-{workload}-{seed}.log"
            try:
                if workload in ("latency", "latency-change", "latency-key"):
                    b.run([wl, "--once", IDLE_COLOUR], d_env, 10)
                    if workload in ("latency", "latency-change"):
                        results["latency_change"] = latency(b, server_display, client_display,
                                                            "change", args.samples, seed,
                                                            s.server.pid)
                    if workload in ("latency", "latency-key"):
                        echo = b.start([b.tool("bench_key_echo"),
                                        "--x", str(ECHO_WINDOW[0]), "--y", str(ECHO_WINDOW[1]),
                                        "--w", str(ECHO_WINDOW[2]), "--h", str(ECHO_WINDOW[3]),
                                        "--colours", ECHO_COLOURS, "--seconds", "600"],
                                       d_env, f"echo-{which}-{setting}-{seed}.log")
                        try:
                            time.sleep(1.0)
                            results["latency_key"] = latency(b, server_display, client_display,
                                                             "key", args.samples, seed,
                                                             s.server.pid)
                        finally:
                            b.stop(echo)
                    continue
                if workload == "colour":
                    load = b.start([wl, "--hz", str(COLOUR_HZ), "--palette", ",".join(PALETTE),
                                    "--seconds", str(args.warmup + args.seconds + 5)], d_env, log)
                elif workload == "scroll":
                    load = b.start(["xterm", "-geometry", "100x50+0+0", "-e"] +
                                   scroll_command(args.scroll_rate), d_env, log)
                elif workload in MOTION:
                    b.run([wl, "--once", IDLE_COLOUR], d_env, 10)
                    loaded = args.loaded_samples * 0.5 + 10
                    load = b.start([b.tool("bench_workload_motion")] + MOTION[workload][0] +
                                   ["--seconds", str(args.warmup + args.seconds + loaded)], d_env,
                                   log)
                else:
                    b.run([wl, "--once", IDLE_COLOUR], d_env, 10)
                time.sleep(args.warmup)
                # Idle CPU is a few clock ticks a window: a longer window keeps one
                # tick from deciding the comparison.
                seconds = args.idle_seconds if workload == "idle" else args.seconds
                results[workload] = watch_clients(b, s.server, s.port, [client_display],
                                                  workload, seconds, s.tag)
                if workload in MOTION and args.loaded_samples:
                    results[workload]["latency"] = latency(
                        b, server_display, client_display, "change", args.loaded_samples, seed,
                        s.server.pid, LOADED_PROBE)
            finally:
                b.stop(load)
            if s.server.poll() is not None:
                raise RuntimeError(f"{which} server ({setting}) exited during {workload}")
            if workload == "colour":
                kv = parse_kv(open(os.path.join(b.tmp, log), errors="replace").read())
                results[workload]["workload_rate"] = float(kv.get("rate", COLOUR_HZ))
        results.update(s.codec())
        for kind in ("latency_change", "latency_key"):
            server_parts(results.get(kind), s.client_logs[0])
        if which == "ours":
            copies = copy_stats(s.server_log, {k: v for k, v in results.items()
                                                if isinstance(v, dict) and "window" in v})
            for workload, value in copies.items():
                results[workload]["live_copy_ms"] = value
    except RuntimeError as e:
        print(f"bench: {e}", flush=True)
        results["error"] = str(e)
        results.update(s.codec())
    finally:
        s.close()
    return results


def run_scale(b, which, setting, desktop, count):
    """`count` clients at once on a `desktop` Xvfb, colour workload."""
    args = b.args
    w, h = (int(v) for v in desktop.split("x"))
    sd, _ = b.xvfb(f"{desktop}x24")
    displays = [sd]
    result = {"server": which, "setting": setting, "desktop": desktop, "clients": count}
    s = None
    load = None
    try:
        for _ in range(count):
            d, _ = b.xvfb(f"{w + 64}x{h + 64}x24", exclude=tuple(displays))
            displays.append(d)
        s = Session(b, which, setting, sd, displays[1:], desktop,
                    f"scale-{which}-{setting}-{desktop}-{count}")
        s.open()
        load = b.start([b.tool("bench_workload_colour"), "--hz", str(COLOUR_HZ), "--palette",
                        ",".join(PALETTE), "--seconds", str(args.warmup + args.scale_seconds + 5)],
                       {"DISPLAY": f":{sd}"}, f"workload-{s.tag}.log")
        time.sleep(args.warmup)
        r = watch_clients(b, s.server, s.port, displays[1:], "colour", args.scale_seconds, s.tag)
        b.stop(load)
        kv = parse_kv(open(os.path.join(b.tmp, f"workload-{s.tag}.log"), errors="replace").read())
        r["workload_rate"] = float(kv.get("rate", COLOUR_HZ))
        result.update(r)
        result.update(s.codec())
    except RuntimeError as e:
        print(f"bench: {e}", flush=True)
        result["error"] = str(e)
    finally:
        b.stop(load)
        if s is not None:
            s.close()
        # Our Xvfbs for this run, newest first.
        for proc in [p for p in reversed(b.procs) if p.args and p.args[0] == "Xvfb" and
                     p.args[1] in [f":{d}" for d in displays]]:
            b.stop(proc)
    return result


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


def verdict(ok):
    return "PASS" if ok else "MISS"


def share(r):
    """Share of the workload's changes the (worst) client saw."""
    if not r or not r.get("workload_rate"):
        return None
    return min(r.get("fps_each") or [r["fps"]]) / r["workload_rate"]


def latency_runs(passes, kind):
    return [p.get(kind) for p in passes if p.get(kind) and "p50" in p.get(kind)]


def report(all_results, scale, copies, args, loads):
    lines = []
    add = lines.append
    add(f"date {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}, {os.cpu_count()} cores, "
        f"load average {loads[0]:.1f} at the start and {loads[1]:.1f} at the end; mode {args.mode}; "
        f"desktop {DESKTOP}; windows {args.seconds:g} s (idle {args.idle_seconds:g} s, scale "
        f"{args.scale_seconds:g} s) after {args.warmup:g} s warm-up; scroll {args.scroll_rate:g} "
        f"lines/s; latency {args.samples} samples per kind and pass, {args.passes} pass(es)" +
        (f", changes every {args.latency_period_ms} ms" if args.latency_period_ms else
         ", random gaps of 120-320 ms") +
        (f"; our server also given: {args.ours_flags}" if args.ours_flags else "") +
        (f"; both servers at niceness {args.server_nice}" if args.server_nice else ""))
    add("")
    add("Codec: what the client decoded (most of its surface commands); ours also names the "
        "statistics file's text.")
    add("")
    add("| server | setting | codec | workload | client fps | server CPU % | CPU ms/frame | KB/s sent "
        "| KB/frame |")
    add("|---|---|---|---|---|---|---|---|---|")
    for (which, setting), passes in all_results.items():
        res = passes[0] if passes else {}
        codec = res.get("codec", "?")
        if which == "ours" and res.get("stats_clients"):
            codec += f" ({res['stats_clients']})"
        if res.get("client_window") and res["client_window"] != "1280x800":
            codec += f", picture {res['client_window']}"
        for workload in [w for w in args.workloads if w in MEASURED]:
            r = res.get(workload)
            if not r:
                add(f"| {which} | {setting} | {codec} | {workload} | (no run) | | | | |")
                continue
            fps = fmt(r["fps"])
            if workload == "colour" and r.get("workload_rate"):
                fps += f" of {r['workload_rate']:.1f}"
            add(f"| {which} | {setting} | {codec} | {workload} | {fps} | {fmt(r['cpu_pct'])} | "
                f"{fmt(r['cpu_ms_per_frame'])} | "
                f"{fmt(r['bytes_per_s'] and r['bytes_per_s'] / 1024, '{:.0f}')} | "
                f"{fmt(r['bytes_per_s'] and r['fps'] and r['bytes_per_s'] / 1024 / r['fps'])} |")
    if "latency" in args.workloads:
        add("")
        add("Latency in ms, p50 / p95 / max per pass (a fresh server each pass); in brackets the "
            "p50 of the server part (until the last surface command the client got before the "
            "answer showed; the rest is the client's decoding and drawing):")
        add("")
        add("| setting | server | codec | change on the desktop | key typed at the client |")
        add("|---|---|---|---|---|")
        for (which, setting), passes in all_results.items():
            cells = []
            for kind in ("latency_change", "latency_key"):
                runs = [p.get(kind) for p in passes]
                cells.append("; ".join(
                    f"{r['p50']:.0f} / {r['p95']:.0f} / {r['max']:.0f}" +
                    (f" ({r['lost']} lost)" if r.get("lost") else "") +
                    (f" [{r['server_part_p50']:.0f}]" if r.get("server_part_p50") is not None else "")
                    if r and "p50" in r else "-" for r in runs))
            codec = passes[0].get("codec", "?") if passes else "?"
            add(f"| {setting} | {which} | {codec} | {cells[0]} | {cells[1]} |")
    loaded = [(which, setting, w, passes[0][w]["latency"])
              for (which, setting), passes in all_results.items()
              for w in MOTION if passes and passes[0].get(w, {}).get("latency")]
    if loaded:
        add("")
        add("Latency in ms of a change while the workload plays, p50 / p95 / max, and its "
            "growth (median of the last third of the samples over the first third):")
        add("")
        add("| setting | server | workload | latency | growth |")
        add("|---|---|---|---|---|")
        for which, setting, w, r in loaded:
            cell = (f"{r['p50']:.0f} / {r['p95']:.0f} / {r['max']:.0f}" +
                    (f" ({r['lost']} lost)" if r.get("lost") else "")) if "p50" in r else "-"
            add(f"| {setting} | {which} | {w} | {cell} | {fmt(growth(r))} |")
    if scale:
        add("")
        add("Scale (colour workload, 20 changes/s; CPU per frame counts every client's frames):")
        add("")
        add("| desktop | clients | setting | server | codec | client fps each | worst share | "
            "server CPU % | CPU ms per client-frame |")
        add("|---|---|---|---|---|---|---|---|---|")
        for r in scale:
            if r.get("error") and "fps_each" not in r:
                add(f"| {r['desktop']} | {r['clients']} | {r['setting']} | {r['server']} | - | "
                    f"(failed: {r['error'][:60]}) | | | |")
                continue
            sh = share(r)
            add(f"| {r['desktop']} | {r['clients']} | {r['setting']} | {r['server']} | "
                f"{r.get('codec', '?')} | {', '.join(fmt(f) for f in r['fps_each'])} | "
                f"{fmt(sh and 100 * sh, '{:.0f}')} % | {fmt(r['cpu_pct'])} | "
                f"{fmt(r['cpu_ms_per_frame'])} |")
    add("")
    add("Targets (ratio = ours / reference in the same run; latency: the worse pass):")
    add("")
    add("| setting | target | ours | reference | ratio | result |")
    add("|---|---|---|---|---|---|")
    cpu_target = {"avc444": 0.7, "wavelet": 0.5, "planar": 0.5}
    for setting in args.settings:
        ours = all_results.get(("ours", setting), [])
        ref = all_results.get(("reference", setting), [])
        if not ours or not ref:
            continue
        for kind, title in (("latency_change", "change"), ("latency_key", "key")):
            o_runs, r_runs = latency_runs(ours, kind), latency_runs(ref, kind)
            pairs = list(zip(o_runs, r_runs))
            if not pairs:
                continue
            for q, limit in (("p50", 0.5), ("p95", 0.6)):
                worst = max(pairs, key=lambda pr: ratio(pr[0][q], pr[1][q]) or 0)
                rr = ratio(worst[0][q], worst[1][q])
                add(f"| {setting} | latency {title} {q} <= {limit} x | {worst[0][q]:.0f} ms | "
                    f"{worst[1][q]:.0f} ms | {fmt(rr, '{:.2f}')} | "
                    f"{verdict(rr is not None and rr <= limit)} |")
        o, r = ours[0].get("colour"), ref[0].get("colour")
        if o and r:
            so, sr = share(o), share(r)
            rr = ratio(o["cpu_ms_per_frame"], r["cpu_ms_per_frame"])
            limit = cpu_target.get(setting)
            title = (f"colour: CPU per delivered frame <= {limit} x, >= 95 % delivered" if limit
                     else "colour: CPU per delivered frame (no target)")
            result = (verdict(rr is not None and rr <= limit and so is not None and so >= 0.95)
                      if limit else "-")
            add(f"| {setting} | {title} | {fmt(o['cpu_ms_per_frame'])} ms ({fmt(so and 100 * so, '{:.0f}')} %) | "
                f"{fmt(r['cpu_ms_per_frame'])} ms ({fmt(sr and 100 * sr, '{:.0f}')} %) | "
                f"{fmt(rr, '{:.2f}')} | {result} |")
        o, r = ours[0].get("scroll"), ref[0].get("scroll")
        if o and r:
            rr = ratio(o["fps"], r["fps"])
            add(f"| {setting} | scroll: updates/s >= 1.2 x | {fmt(o['fps'])} | {fmt(r['fps'])} | "
                f"{fmt(rr, '{:.2f}')} | {verdict(rr is not None and rr >= 1.2)} |")
        o, r = ours[0].get("idle"), ref[0].get("idle")
        if o and r and o["cpu_pct"] is not None and r["cpu_pct"] is not None:
            add(f"| {setting} | idle: CPU <= reference | {o['cpu_pct']:.2f} % | {r['cpu_pct']:.2f} % | "
                f"{fmt(ratio(o['cpu_pct'], r['cpu_pct']), '{:.2f}')} | "
                f"{verdict(o['cpu_pct'] <= r['cpu_pct'])} |")
    by_key = {(r["server"], r["setting"], r["desktop"], r["clients"]): r for r in scale
              if "fps_each" in r}
    for setting in args.scale_settings:
        for desktop in args.scale_desktops:
            o, r = by_key.get(("ours", setting, desktop, 2)), by_key.get(("reference", setting, desktop, 2))
            if o and r:
                so, sr = share(o), share(r)
                rr = ratio(o["cpu_ms_per_frame"], r["cpu_ms_per_frame"])
                add(f"| {setting} | 2 clients at {desktop}: each >= 95 %, CPU per client-frame <= 1 x | "
                    f"{fmt(so and 100 * so, '{:.0f}')} %, {fmt(o['cpu_ms_per_frame'])} ms | "
                    f"{fmt(sr and 100 * sr, '{:.0f}')} %, {fmt(r['cpu_ms_per_frame'])} ms | "
                    f"{fmt(rr, '{:.2f}')} | "
                    f"{verdict(so is not None and so >= 0.95 and rr is not None and rr <= 1.0)} |")
        o, r = by_key.get(("ours", setting, "3840x2160", 1)), by_key.get(("reference", setting, "3840x2160", 1))
        if o and r:
            rf, rc = ratio(o["fps"], r["fps"]), ratio(o["cpu_pct"], r["cpu_pct"])
            add(f"| {setting} | 3840x2160: fps >= 1 x at CPU <= 0.8 x | {fmt(o['fps'])} fps, "
                f"{fmt(o['cpu_pct'])} % | {fmt(r['fps'])} fps, {fmt(r['cpu_pct'])} % | "
                f"{fmt(rf, '{:.2f}')}, {fmt(rc, '{:.2f}')} | "
                f"{verdict(rf is not None and rf >= 1.0 and rc is not None and rc <= 0.8)} |")
    if copies:
        add("")
        add("Frame copy, one full 1280x800 frame (median):")
        for name, text in copies.items():
            add(f"  {name}:")
            for line in text.splitlines():
                add(f"    {line}")
    live = [(c, w, r["live_copy_ms"]) for (s, c), passes in all_results.items() if s == "ours"
            for w, r in (passes[0].items() if passes else []) if isinstance(r, dict) and
            r.get("live_copy_ms") is not None]
    if live:
        add("  our server's own 'copy avg' (frame into the shadow surface) per run: " +
            ", ".join(f"{c}/{w} {v:.2f} ms" for c, w, v in live))
    return "\n".join(lines)


def chart(all_results, args, path, loads=None, when=None):
    """Latency distributions and CPU per delivered colour frame, ours beside the reference."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        # Debian's matplotlib belongs to the system's interpreter; another python3
        # earlier on PATH (a virtualenv, pyenv) hands the drawing over to it.
        system = "/usr/bin/python3"
        if os.path.realpath(sys.executable) != os.path.realpath(system) and os.access(system, os.X_OK):
            with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
                json.dump(as_json(all_results, [], {}, args, loads), f)
            try:
                subprocess.run([system, os.path.abspath(__file__), "--redraw", f.name, "--chart",
                                path], timeout=120)
            finally:
                os.unlink(f.name)
            return
        print("bench: no chart: python3-matplotlib is not installed (scripts/setup)", flush=True)
        return
    settings = [s for s in args.settings
                if all_results.get(("ours", s)) or all_results.get(("reference", s))]
    colours = {"ours": "#2a7ab9", "reference": "#d9822b"}
    fig, axes = plt.subplots(1, 3, figsize=(18, 5.6))
    labels = []
    for s in settings:
        codecs = [(all_results.get((w, s)) or [{}])[0].get("codec", "?") for w in ("ours", "reference")]
        labels.append(f"{s}\nours {codecs[0]}\nref. {codecs[1]}")
    for ax, kind, title in ((axes[0], "latency_change", "change on the desktop until the client shows it"),
                            (axes[1], "latency_key", "key typed at the client until the answer shows")):
        for k, which in enumerate(("ours", "reference")):
            data, pos = [], []
            for i, s in enumerate(settings):
                values = [v for run in latency_runs(all_results.get((which, s), []), kind)
                          for v in run["values"]]
                if values:
                    data.append(values)
                    pos.append(i * 3 + k)
            if data:
                bp = ax.boxplot(data, positions=pos, widths=0.8, whis=(5, 95), sym=".",
                                patch_artist=True, medianprops={"color": "black"})
                for box in bp["boxes"]:
                    box.set_facecolor(colours[which])
        ax.set_xticks([i * 3 + 0.5 for i in range(len(settings))])
        ax.set_xticklabels(labels, fontsize=7.5)
        ax.set_yscale("log")
        ax.set_ylabel("ms, log scale (box: p25-p75, whiskers p5-p95)")
        ax.set_title(title, fontsize=10)
        ax.grid(axis="y", alpha=0.3)
    ax = axes[2]
    for k, which in enumerate(("ours", "reference")):
        xs, ys = [], []
        for i, s in enumerate(settings):
            r = (all_results.get((which, s)) or [{}])[0].get("colour")
            if r and r.get("cpu_ms_per_frame") is not None:
                xs.append(i * 3 + k)
                ys.append(r["cpu_ms_per_frame"])
                sh = share(r)
                if sh is not None:
                    ax.annotate(f"{100 * sh:.0f}%", (i * 3 + k, r["cpu_ms_per_frame"]),
                                ha="center", va="bottom", fontsize=7)
        ax.bar(xs, ys, width=0.9, color=colours[which], label=which)
    ax.set_xticks([i * 3 + 0.5 for i in range(len(settings))])
    ax.set_xticklabels(labels, fontsize=7.5)
    ax.set_ylabel("server CPU ms per delivered colour frame")
    ax.set_title("CPU per delivered frame (label: share of changes delivered)", fontsize=10)
    ax.grid(axis="y", alpha=0.3)
    ax.legend()
    fig.suptitle(f"Corvane (ours, blue) against freerdp-shadow-cli3 (reference, orange), "
                 f"{DESKTOP.rsplit('x', 1)[0]} desktop, {when or datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}, "
                 f"{os.cpu_count()} cores" +
                 (f" (load average {loads[0]:.1f}-{loads[1]:.1f} from other jobs)" if loads else "") +
                 f", mode {args.mode}", fontsize=11)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    print(f"bench: chart written to {path}", flush=True)


def as_json(all_results, scale, copies, args, loads):
    return {"args": dict(vars(args)), "loads": loads,
            "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
            "sessions": {f"{s}/{c}": r for (s, c), r in all_results.items()},
            "scale": scale, "copies": copies}


def redraw(json_path, chart_path):
    """Draws the chart again from a --json file."""
    data = json.load(open(json_path))
    args = argparse.Namespace(**data["args"])
    all_results = {tuple(k.split("/", 1)): v for k, v in data["sessions"].items()}
    chart(all_results, args, chart_path, data.get("loads"), data.get("date"))
    return 0


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=os.environ.get("CORVANE_BUILD_DIR", os.path.join(root, "build")))
    p.add_argument("--mode", choices=sorted(MODES), default="short",
                   help="short: a few minutes, two settings, small samples; full: everything")
    p.add_argument("--settings", help="codec settings, of " + ",".join(SETTINGS))
    p.add_argument("--seconds", type=float, help="measuring window per workload")
    p.add_argument("--idle-seconds", type=float,
                   help="measuring window of the idle workload (CPU resolution is one tick)")
    p.add_argument("--warmup", type=float, help="settling time before each window")
    p.add_argument("--samples", type=int, help="latency samples per kind and pass")
    p.add_argument("--passes", type=int, help="latency passes, each with a fresh server")
    p.add_argument("--latency-period-ms", type=int, default=0,
                   help="change every N ms instead of after random gaps (phase experiments)")
    p.add_argument("--servers", default="ours,reference")
    p.add_argument("--workloads", default="colour,scroll,idle,latency")
    p.add_argument("--scale-settings", help="settings of the scale runs ('' for none)")
    p.add_argument("--scale-desktops")
    p.add_argument("--scale-clients")
    p.add_argument("--scale-seconds", type=float)
    p.add_argument("--scroll-rate", type=float, default=60.0,
                   help="lines a second the terminal prints (0: as fast as xterm takes them)")
    p.add_argument("--ours-flags", default="",
                   help="extra flags for our server only (experiments; the comparison is then "
                        "no longer like for like)")
    p.add_argument("--server-nice", type=int, default=0,
                   help="niceness of both servers (experiments: negative needs root; shows how "
                        "much of a figure is waiting for a core on a busy machine)")
    p.add_argument("--loaded-samples", type=int, default=20,
                   help="change-latency samples taken while each moving workload plays "
                        "(about 4 a second; 0 for none)")
    p.add_argument("--link", metavar="RATE/DELAY",
                   help="clients reach each server through a shaped link (bench_link_relay), "
                        "e.g. 20mbit/20ms: that bandwidth and that delay each way")
    p.add_argument("--json", help="also write the raw figures to this file")
    p.add_argument("--chart", help="draw the PNG chart into this file")
    p.add_argument("--keep", action="store_true", help="keep the logs folder")
    p.add_argument("--no-copies", action="store_true", help="skip the frame copy benchmarks")
    p.add_argument("--perf", metavar="DIR",
                   help="record each window's server profile with perf into DIR (analysis only: "
                        "perf's own cost skews the CPU figures)")
    p.add_argument("--redraw", metavar="JSON", help="only draw --chart from a --json file")
    args = p.parse_args()
    if args.redraw:
        return redraw(args.redraw, args.chart or "bench.png")
    for key, value in MODES[args.mode].items():
        if getattr(args, key) is None:
            setattr(args, key, value)
    args.build = os.path.abspath(args.build)
    split = lambda text: [x for x in text.split(",") if x]  # noqa: E731
    args.servers = split(args.servers)
    args.settings = split(args.settings)
    args.workloads = split(args.workloads)
    args.scale_settings = split(args.scale_settings)
    args.scale_desktops = split(args.scale_desktops)
    args.scale_clients = [int(x) for x in split(args.scale_clients)]
    for s in args.settings + args.scale_settings:
        if s not in SETTINGS:
            p.error(f"unknown setting {s}")

    b = Bench(args)

    def on_signal(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, on_signal)
    all_results = {}
    scale = []
    copies = {}
    loads = [os.getloadavg()[0], 0.0]
    try:
        for tool in ("freerdp-shadow-cli", "bench_pixel_watch", "bench_workload_colour",
                     "bench_latency", "bench_key_echo", "bench_launch_plan"):
            b.tool(tool)
        for needed in ("Xvfb", "xfreerdp3", "freerdp-shadow-cli3", "xterm", "xdpyinfo", "ss",
                       "xwininfo"):
            if not shutil.which(needed):
                raise RuntimeError(f"{needed} is not installed")
        server_display, _ = b.xvfb(DESKTOP)
        client_display, _ = b.xvfb(CLIENT_DESKTOP, exclude=(server_display,))
        print(f"bench: server desktop :{server_display}, client :{client_display}, logs in {b.tmp}",
              flush=True)
        if not args.no_copies and os.access(os.path.join(b.bin, "bench_copy_compare"), os.X_OK):
            copies = copy_benches(b, server_display)
        for pass_no in range(args.passes):
            workloads = args.workloads if pass_no == 0 else [w for w in args.workloads
                                                              if w.startswith("latency")]
            if not workloads:
                break
            for setting in args.settings:
                for which in args.servers:
                    print(f"bench: pass {pass_no + 1}, {which} server, {setting} ...", flush=True)
                    r = run_session(b, which, setting, server_display, client_display,
                                    workloads, pass_no + 1)
                    all_results.setdefault((which, setting), []).append(r)
                    summary = [f"codec {r.get('codec', '?')}, load {r['load']:.1f}"]
                    for w in MEASURED:
                        if w in r:
                            summary.append(f"{w} {fmt(r[w]['fps'])} fps CPU {fmt(r[w]['cpu_pct'])} %")
                    for kind in ("latency_change", "latency_key"):
                        if r.get(kind) and "p50" in r[kind]:
                            summary.append(f"{kind} p50 {r[kind]['p50']:.0f} p95 {r[kind]['p95']:.0f}"
                                           f" (server part p50 {fmt(r[kind].get('server_part_p50'), '{:.0f}')},"
                                           f" server CPU {fmt(r[kind].get('cpu_ms_per_sample'), '{:.0f}')} ms,"
                                           f" waiting for a core {fmt(r[kind].get('run_queue_ms_per_sample'), '{:.0f}')} ms each)")
                    print("  " + "; ".join(summary), flush=True)
        # The session displays stay up; the scale runs bring their own.
        for setting in args.scale_settings:
            for desktop in args.scale_desktops:
                for count in args.scale_clients:
                    for which in args.servers:
                        print(f"bench: scale, {which} server, {setting}, {desktop}, {count} "
                              f"client(s) ...", flush=True)
                        r = run_scale(b, which, setting, desktop, count)
                        scale.append(r)
                        if "fps_each" in r:
                            print(f"  codec {r.get('codec', '?')}, fps "
                                  f"{', '.join(fmt(f) for f in r['fps_each'])}, CPU "
                                  f"{fmt(r['cpu_pct'])} %", flush=True)
    except RuntimeError as e:
        print(f"bench: {e}", flush=True)
    except KeyboardInterrupt:
        print("bench: interrupted", flush=True)
    finally:
        b.stop_all()
    loads[1] = os.getloadavg()[0]
    print()
    print(report(all_results, scale, copies, args, loads))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(as_json(all_results, scale, copies, args, loads), f, indent=1)
    if args.chart and all_results:
        chart(all_results, args, args.chart, loads)
    if args.keep:
        print(f"\nlogs kept in {b.tmp}")
    else:
        shutil.rmtree(b.tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
