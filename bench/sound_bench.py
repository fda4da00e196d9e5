#!/usr/bin/env python3
"""Sound benchmark: how long the desktop's sound takes to reach the client, and
what forwarding it costs the server.

    python3 bench/sound_bench.py [--build DIR] [--bursts 8] [--seconds 10] [--json FILE]

Two private PulseAudio daemons (null sink each, anonymous unix socket): one is
the server desktop's sound server, the other the client's. Our
freerdp-shadow-cli shares a still Xvfb desktop; xfreerdp3 /sound:sys:pulse
plays into the client daemon.

  - latency: short 1 kHz bursts are played into the server daemon (paplay);
    parec records the server's null-sink monitor (what our server captures)
    and the client's null-sink monitor at once, every chunk stamped with the
    time it arrived; the onset of each burst on the client side minus its
    onset on the server side is one latency figure.
  - server CPU (utime+stime of /proc/PID/stat, % of one core) over --seconds
    while a tone plays, while nothing plays (the monitor still delivers
    silence), and with MAC_SHADOW_AUDIO=0 while a tone plays.

It prints the figures and exits 0 whatever they are. 127.0.0.1 only; every
process it starts is ended on the way out. Displays :90-:99, ports 24990-24999.
"""
import argparse
import json
import math
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

RATE = 44100
CLK_TCK = os.sysconf("SC_CLK_TCK")
LOUD = 3000  # a burst at 12000 peak is far above this, silence is 0


def port_open(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.settimeout(0.2)
        return s.connect_ex(("127.0.0.1", port)) == 0


def write_tone(path, seconds, rate=48000):
    frames = int(seconds * rate)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        one = [int(12000 * math.sin(2 * math.pi * 1000 * i / rate)) for i in range(rate)]
        data = bytearray()
        for i in range(frames):
            v = one[i % rate]
            data += struct.pack("<hh", v, v)
        w.writeframes(bytes(data))


class Recorder:
    """parec of a null-sink monitor; keeps the samples and, per chunk, the
    time it arrived, so a sample index can be turned into a wall time."""

    def __init__(self, bench, env, name):
        self.samples = bytearray()
        self.stamps = []  # (arrival time, samples so far)
        self.proc = bench.start(["parec", "-d", "nullsink.monitor", f"--rate={RATE}",
                                 "--channels=1", "--format=s16le", "--raw", "--latency-msec=5"],
                                env, name, stdout=subprocess.PIPE)
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        while True:
            chunk = self.proc.stdout.read1(4096) if hasattr(self.proc.stdout, "read1") \
                else self.proc.stdout.read(4096)
            if not chunk:
                return
            now = time.monotonic()
            self.samples += chunk
            self.stamps.append((now, len(self.samples) // 2))

    def time_of(self, index):
        for arrived, count in self.stamps:
            if count > index:
                return arrived - (count - 1 - index) / RATE
        return None

    def onsets(self, gap=0.2):
        """Indexes where sound starts after at least `gap` s of quiet."""
        n = len(self.samples) // 2
        values = struct.unpack(f"<{n}h", bytes(self.samples[:n * 2]))
        found, quiet = [], int(gap * RATE)
        last_loud = -quiet - 1
        for i, v in enumerate(values):
            if abs(v) > LOUD:
                if i - last_loud > quiet:
                    found.append(i)
                last_loud = i
        return found


class Bench:
    def __init__(self, args):
        self.args = args
        self.procs = []
        self.tmp = tempfile.mkdtemp(prefix="corvane-sound-bench-")
        self.bin = os.path.join(args.build, "bin")

    def start(self, argv, env, log_name, stdout=None):
        full_env = dict(os.environ)
        full_env.update(env)
        log = open(os.path.join(self.tmp, log_name), "ab")
        proc = subprocess.Popen(argv, env=full_env, stdout=stdout or log,
                                stderr=log if stdout else subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        self.procs.append(proc)
        return proc

    def stop(self, proc, grace=3.0):
        if proc is None or proc not in self.procs:
            return
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
                proc.wait(timeout=grace)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait(timeout=2)
                except (ProcessLookupError, subprocess.TimeoutExpired):
                    pass
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
            return out.returncode
        except subprocess.TimeoutExpired:
            return None

    def wait_for(self, condition, limit, step=0.05):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            if condition():
                return True
            time.sleep(step)
        return condition()

    def pulse(self, name):
        home = os.path.join(self.tmp, name)
        os.makedirs(home, exist_ok=True)
        socket_path = os.path.join(home, "native")
        env = {"HOME": home, "XDG_RUNTIME_DIR": home}
        self.start(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                    "--use-pid-file=no", "--disable-shm",
                    f"--load=module-native-protocol-unix auth-anonymous=1 socket={socket_path}",
                    "--load=module-null-sink sink_name=nullsink"], env, f"{name}.log")
        client_env = {"PULSE_SERVER": f"unix:{socket_path}", "HOME": home}
        if not self.wait_for(lambda: self.run(["pactl", "info"], client_env, 5) == 0, 10, 0.1):
            raise RuntimeError(f"PulseAudio daemon {name} did not start")
        return client_env

    def xvfb(self, exclude=()):
        for n in range(90, 100):
            if n in exclude or os.path.exists(f"/tmp/.X11-unix/X{n}") or \
                    os.path.exists(f"/tmp/.X{n}-lock"):
                continue
            proc = self.start(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten",
                               "tcp", "-noreset"], {}, f"xvfb{n}.log")
            if self.wait_for(lambda: self.run(["xdpyinfo", "-display", f":{n}"], {}, 2) == 0,
                             10, 0.1):
                return n, proc
            self.stop(proc)
        raise RuntimeError("no free X display in :90-:99")

    def free_port(self):
        for port in range(24990, 25000):
            if not port_open(port):
                return port
        raise RuntimeError("no free port in 24990-24999")

    def session(self, audio, server_pulse, client_pulse, server_display, client_display):
        """Our server and a client with sound; returns (server, client, log)."""
        port = self.free_port()
        home = os.path.join(self.tmp, f"home-{audio}")
        os.makedirs(home, exist_ok=True)
        log = f"server-{audio}.log"
        env = dict(server_pulse)
        env.update({"HOME": home, "XDG_RUNTIME_DIR": home, "DISPLAY": f":{server_display}",
                    "MAC_SHADOW_AUDIO": audio})
        server = self.start([os.path.join(self.bin, "freerdp-shadow-cli"), f"/port:{port}",
                             "-auth", "/sec:tls"], env, log)
        if not self.wait_for(lambda: port_open(port), 10):
            raise RuntimeError("server did not listen")
        cenv = dict(client_pulse)
        cenv.update({"DISPLAY": f":{client_display}", "HOME": home})
        client = self.start(["xfreerdp3", f"/v:127.0.0.1:{port}", "/cert:ignore", "/sec:tls",
                             "/u:x", "/p:x", "/size:1024x768", "/sound:sys:pulse"], cenv,
                            f"client-{audio}.log")
        path = os.path.join(self.tmp, log)
        if audio != "0" and not self.wait_for(
                lambda: "sound: client plays" in open(path, errors="replace").read(), 20):
            raise RuntimeError("the client never started playing")
        time.sleep(2)  # the first repaints after the connect are over
        return server, client

    def cpu_seconds(self, pid):
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK

    def client_buffering_ms(self, client_pulse):
        """What the client's own playback stream holds back (PulseAudio's
        buffer and sink latency of the client's sink input)."""
        full_env = dict(os.environ)
        full_env.update(client_pulse)
        out = subprocess.run(["pactl", "list", "sink-inputs"], env=full_env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=5).stdout.decode(errors="replace")
        total = 0.0
        for line in out.splitlines():
            line = line.strip()
            if line.startswith(("Buffer Latency:", "Sink Latency:")):
                total += float(line.split(":")[1].split()[0]) / 1000.0
        return total

    def cpu_window(self, server, seconds, tone=None, pulse=None):
        player = self.start(["paplay", tone], pulse, "paplay.log") if tone else None
        time.sleep(0.5)
        before, t0 = self.cpu_seconds(server.pid), time.monotonic()
        time.sleep(seconds)
        used, elapsed = self.cpu_seconds(server.pid) - before, time.monotonic() - t0
        self.stop(player)
        return 100.0 * used / elapsed

    def latency(self, server_pulse, client_pulse, bursts):
        burst = os.path.join(self.tmp, "burst.wav")
        write_tone(burst, 0.25)
        at_server = Recorder(self, server_pulse, "parec-server.log")
        at_client = Recorder(self, client_pulse, "parec-client.log")
        time.sleep(1.0)
        for _ in range(bursts):
            self.run(["paplay", burst], server_pulse, 10)
            time.sleep(0.75)
        time.sleep(1.0)
        self.stop(at_server.proc)
        self.stop(at_client.proc)
        server_on = [at_server.time_of(i) for i in at_server.onsets()]
        client_on = [at_client.time_of(i) for i in at_client.onsets()]
        figures = []
        for s in server_on:
            later = [c for c in client_on if c is not None and s is not None and 0 <= c - s < 2]
            if later:
                figures.append(1000.0 * (later[0] - s))
        return figures, len(server_on), len(client_on)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--bursts", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--json")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    for tool in ("pulseaudio", "pactl", "paplay", "parec", "Xvfb", "xfreerdp3", "xdpyinfo"):
        if not shutil.which(tool):
            sys.exit(f"missing {tool} (scripts/setup installs it)")
    bench = Bench(args)
    results = {}
    try:
        server_pulse = bench.pulse("pulse-server")
        client_pulse = bench.pulse("pulse-client")
        server_display, _ = bench.xvfb()
        client_display, _ = bench.xvfb(exclude=(server_display,))
        tone = os.path.join(bench.tmp, "tone.wav")
        write_tone(tone, args.seconds + 3)

        server, client = bench.session("1", server_pulse, client_pulse, server_display,
                                       client_display)
        figures, sent, heard = bench.latency(server_pulse, client_pulse, args.bursts)
        results["latency_ms"] = figures
        results["bursts_sent"], results["bursts_heard"] = sent, heard
        results["client_buffering_ms"] = bench.client_buffering_ms(client_pulse)
        results["cpu_tone"] = bench.cpu_window(server, args.seconds, tone, server_pulse)
        results["cpu_silence"] = bench.cpu_window(server, args.seconds)
        bench.stop(client)
        bench.stop(server)

        server, client = bench.session("0", server_pulse, client_pulse, server_display,
                                       client_display)
        results["cpu_tone_sound_off"] = bench.cpu_window(server, args.seconds, tone,
                                                         server_pulse)
    finally:
        bench.stop_all()
        if args.keep:
            print(f"logs kept in {bench.tmp}")
        else:
            shutil.rmtree(bench.tmp, ignore_errors=True)

    lat = results.get("latency_ms", [])
    print(f"bursts played {results.get('bursts_sent')}, heard at the client "
          f"{results.get('bursts_heard')}")
    if lat:
        print(f"latency (server null sink -> client null sink): median {statistics.median(lat):.0f}"
              f" ms, min {min(lat):.0f} ms, max {max(lat):.0f} ms over {len(lat)} bursts")
    print(f"of which the client's own playback buffering (pactl): "
          f"{results.get('client_buffering_ms', 0):.0f} ms")
    print(f"server CPU, tone playing:            {results['cpu_tone']:.1f} % of one core")
    print(f"server CPU, nothing playing:         {results['cpu_silence']:.1f} %")
    print(f"server CPU, MAC_SHADOW_AUDIO=0, tone: {results['cpu_tone_sound_off']:.1f} %")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
