#!/usr/bin/env python3
"""Abuse benchmark: how many picture changes a logged-in client still sees, and how soon its
pointer moves reach the desktop, while the server is attacked, against the same window without
an attack.

    python3 bench/abuse_bench.py [--build DIR] [--seconds 60] [--json FILE]

Our freerdp-shadow-cli runs on a 1280x800 Xvfb with NLA logins (a stored
NT hash, MAC_SHADOW_NLA) and the planar codec only; one xfreerdp3 logs in
with NLA and watches while bench_workload_colour changes the root colour 20
times a second. Two windows of --seconds each, measured with
bench_pixel_watch on the client's display:
  - quiet: nothing else happens;
  - attack: for the whole window, 16 silent connections, six from 127.0.0.2
    and five each from 127.0.0.3 and 127.0.0.4 (an X.224 request asking for
    TLS, then nothing; each opened again 0.2 s after the server closes it),
    200 connections at once from 127.0.0.10-209 at its start (a few random
    bytes each, then closed), and a wrong TLS password tried every 2 s with
    xfreerdp3 +auth-only (the account check, its delay and the lockout
    waits); and every 3 s a new client logs in with the right password
    (NLA, +auth-only) from a new address, 127.0.3.x, through a relay of the
    bench's own (xfreerdp3 cannot choose its source address).
For each window: changes seen per second and as a share of the changes
made, the server's longest publication wait (its "publish ... max" log
figure), and the delay of a pointer move made on the client's display every
second until the server's pointer is there (XTest and XQueryPointer through
ctypes). Exits 0 whatever it measures. 127.0.0.x only; displays :80-:89,
ports 24800-24899 (shared with run_bench.py: do not run both at once).
"""
import argparse
import ctypes
import ctypes.util
import json
import os
import random
import re
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_bench import (Bench, COLOUR_HZ, COLOUR_PROBE, DESKTOP, CLIENT_DESKTOP, PALETTE,  # noqa: E402
                       PLANAR_FLAGS, READY_COLOUR, parse_kv, port_open)

USER, PASSWORD = "corvbench", "Bench-Secret-1"
X224_TLS_REQUEST = bytes.fromhex("030000130ee000000000000100080003000000")


def silent(port, source, stop, held):
    """Holds a connection that asked for TLS and then says nothing; once the server has closed
    it (its login grace time), opens it again 0.2 s later. `held` gets the seconds each
    connection stayed open after the server answered."""
    while not stop.is_set():
        answered = None
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5,
                                          source_address=(source, 0)) as s:
                s.sendall(X224_TLS_REQUEST)
                s.settimeout(0.2)
                while not stop.is_set():
                    try:
                        if not s.recv(4096):
                            break  # closed by the server
                        answered = answered or time.time()
                    except socket.timeout:
                        pass
        except OSError:
            pass
        if answered:
            held.append(time.time() - answered)
        stop.wait(0.2)


class Relay:
    """Listens on 127.0.0.1 (a port below the ephemeral range) and connects each connection it
    accepts to the server from the source address last set, copying bytes both ways until
    either side closes. Stops, with every connection, on close()."""

    def __init__(self, server_port, first_port):
        self.server_port = server_port
        self.source = "127.0.0.1"
        self.stop = threading.Event()
        self.listener = None
        for port in range(first_port, first_port + 100):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            try:
                s.bind(("127.0.0.1", port))
                s.listen(16)
            except OSError:
                s.close()
                continue
            self.listener, self.port = s, port
            break
        if not self.listener:
            raise RuntimeError("no port for the relay")
        self.listener.settimeout(0.2)
        self.threads = [threading.Thread(target=self._accept)]
        self.threads[0].start()

    def _accept(self):
        while not self.stop.is_set():
            try:
                accepted, _ = self.listener.accept()
            except OSError:
                continue
            try:
                server = socket.create_connection(("127.0.0.1", self.server_port), timeout=5,
                                                  source_address=(self.source, 0))
            except OSError:
                accepted.close()
                continue
            for a, b in ((accepted, server), (server, accepted)):
                t = threading.Thread(target=self._pump, args=(a, b))
                t.start()
                self.threads.append(t)

    def _pump(self, src, dst):
        src.settimeout(0.2)
        dst.settimeout(5)
        try:
            while not self.stop.is_set():
                try:
                    data = src.recv(16384)
                except socket.timeout:
                    continue
                if not data:
                    break
                dst.sendall(data)
        except OSError:
            pass
        for s in (src, dst):  # either side closing ends both
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        self.stop.set()
        for t in self.threads:
            t.join(timeout=10)
        self.listener.close()


def fresh_logins(b, relay, stop, home, log_path, logins):
    """A login with the right password from a new address every 3 s; `logins` gets whether
    each succeeded (the client authenticated and the server logged it in from that address)."""
    n = 0
    while not stop.is_set():
        n += 1
        source = f"127.0.3.{n}"
        relay.source = source
        rc, _ = b.run(["xfreerdp3", f"/v:127.0.0.1:{relay.port}", "/cert:ignore", "/sec:nla",
                       "/u:" + USER, "/p:" + PASSWORD, "/auth-pkg-list:ntlm,!kerberos",
                       "+auth-only"], {"DISPLAY": "", "HOME": home}, 20)
        with open(log_path, errors="replace") as f:
            logged = f"nla login from {source} as '{USER}': ok" in f.read()
        # +auth-only: 131 when NLA accepted the login (FreeRDP 3.10), 0 from 3.15 on
        logins.append(rc in (0, 131) and logged)
        stop.wait(3.0)


def flood(port, count, stop):
    """`count` connections at once from different addresses: random bytes, closed."""
    if stop.wait(1.0):  # once the silent connections are in
        return
    socks = []
    for i in range(count):
        try:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind((f"127.0.0.{10 + i % 200}", 0))
            s.settimeout(2)
            s.connect(("127.0.0.1", port))
            s.sendall(random.randbytes(16))
            socks.append(s)
        except OSError:
            pass
    time.sleep(0.5)
    for s in socks:
        s.close()


def brute_force(b, port, stop, home):
    tries = 0
    while not stop.is_set():
        b.run(["xfreerdp3", f"/v:127.0.0.1:{port}", "/cert:ignore", "/sec:tls", "/u:" + USER,
               "/p:wrong-" + str(tries), "+auth-only"], {"DISPLAY": "", "HOME": home}, 20)
        tries += 1
        stop.wait(2.0)
    return tries


class Pointer:
    """Pointer moves on the client's display and where the server's pointer is, through Xlib
    and XTest (ctypes: no extra package)."""

    def __init__(self, client_display, server_display):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x11.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + \
            [ctypes.POINTER(ctypes.c_ulong)] * 2 + [ctypes.POINTER(ctypes.c_int)] * 4 + \
            [ctypes.POINTER(ctypes.c_uint)]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.x11 = x11
        self.client = x11.XOpenDisplay(f":{client_display}".encode())
        self.server = x11.XOpenDisplay(f":{server_display}".encode())
        if not self.client or not self.server:
            raise RuntimeError("cannot open the displays for the pointer")
        self.root = x11.XDefaultRootWindow(self.server)
        self.offset = (0, 0)

    def server_pointer(self):
        root, child = ctypes.c_ulong(), ctypes.c_ulong()
        rx, ry, wx, wy = (ctypes.c_int() for _ in range(4))
        mask = ctypes.c_uint()
        self.x11.XQueryPointer(self.server, self.root, ctypes.byref(root), ctypes.byref(child),
                               ctypes.byref(rx), ctypes.byref(ry), ctypes.byref(wx),
                               ctypes.byref(wy), ctypes.byref(mask))
        return rx.value, ry.value

    def move(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.client, 0, x, y, 0)
        self.x11.XFlush(self.client)

    def calibrate(self):
        """Where the client's window lies: the server's pointer lands at the client's position
        minus that offset."""
        before = self.server_pointer()
        self.move(333, 333)
        deadline = time.time() + 5
        while time.time() < deadline:
            at = self.server_pointer()
            if at != before:
                self.offset = (333 - at[0], 333 - at[1])
                return True
            time.sleep(0.005)
        return False

    def follow_ms(self, x, y, limit=2.0):
        """Moves the client's pointer to desktop position (x, y); ms until the server's
        pointer is there, None when it is not within `limit` s."""
        start = time.perf_counter()
        self.move(x + self.offset[0], y + self.offset[1])
        while time.perf_counter() - start < limit:
            px, py = self.server_pointer()
            if abs(px - x) <= 2 and abs(py - y) <= 2:
                return (time.perf_counter() - start) * 1000
            time.sleep(0.002)
        return None

    def close(self):
        self.x11.XCloseDisplay(self.client)
        self.x11.XCloseDisplay(self.server)


def pointer_moves(pointer, stop, delays):
    """A pointer move every second until `stop`."""
    i = 0
    while not stop.wait(1.0):
        delays.append(pointer.follow_ms(200 + 60 * (i % 2), 200 + (37 * i) % 500))
        i += 1


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def longest_publish(log_path, since):
    """The largest 'publish ... max X ms' figure logged after byte offset `since`."""
    with open(log_path, errors="replace") as f:
        f.seek(since)
        text = f.read()
    values = [float(m) for m in re.findall(r"publish \(waiting for clients\) avg [0-9.]+ ms max "
                                          r"([0-9.]+) ms", text)]
    return max(values) if values else None


def window(b, port, server_display, client_display, seconds, log_path, attack, pointer, relay):
    d_env = {"DISPLAY": f":{server_display}"}
    wl = b.tool("bench_workload_colour")
    load = b.start([wl, "--hz", str(COLOUR_HZ), "--palette", ",".join(PALETTE), "--seconds",
                    str(seconds + 4)], d_env, f"workload-{attack}.log")
    stop = threading.Event()
    threads = []
    held, delays, logins = [], [], []
    try:
        time.sleep(1.0)
        offset = os.path.getsize(log_path)
        threads.append(threading.Thread(target=pointer_moves, args=(pointer, stop, delays)))
        if attack:
            for source in ["127.0.0.2"] * 6 + ["127.0.0.3"] * 5 + ["127.0.0.4"] * 5:
                threads.append(threading.Thread(target=silent, args=(port, source, stop, held)))
            threads.append(threading.Thread(target=fresh_logins,
                                            args=(b, relay, stop, b.tmp, log_path, logins)))
            threads.append(threading.Thread(target=flood, args=(port, 200, stop)))
            threads.append(threading.Thread(target=brute_force,
                                            args=(b, port, stop, b.tmp)))
        for t in threads:
            t.start()
        _, out = b.run([b.tool("bench_pixel_watch"), "--mode", "colour", "--x",
                        str(COLOUR_PROBE[0]), "--y", str(COLOUR_PROBE[1]), "--palette",
                        ",".join(PALETTE), "--seconds", str(seconds)],
                       {"DISPLAY": f":{client_display}"}, seconds + 20)
        kv = parse_kv(out)
    finally:
        stop.set()
        for t in threads:
            t.join(timeout=30)
        b.stop(load)
    made = parse_kv(open(os.path.join(b.tmp, f"workload-{attack}.log"), errors="replace").read())
    seen = int(kv.get("changes", 0))
    rate = float(made.get("rate", COLOUR_HZ))
    arrived = [d for d in delays if d is not None]
    return {"changes": seen, "fps": seen / seconds, "made_fps": rate,
            "share": seen / (rate * seconds) if rate else None,
            "longest_publish_ms": longest_publish(log_path, offset),
            "pointer_moves": len(delays), "pointer_lost": len(delays) - len(arrived),
            "pointer_median_ms": percentile(arrived, 0.5) if arrived else None,
            "pointer_p95_ms": percentile(arrived, 0.95) if arrived else None,
            "pointer_max_ms": max(arrived) if arrived else None,
            "silent_held_s": sum(held), "silent_longest_s": max(held) if held else 0,
            "new_logins": len(logins), "new_logins_ok": sum(logins)}


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=os.environ.get("CORVANE_BUILD_DIR", os.path.join(root, "build")))
    p.add_argument("--seconds", type=float, default=60.0)
    p.add_argument("--json")
    p.add_argument("--keep", action="store_true")
    args = p.parse_args()
    b = Bench(args)
    results = {}
    try:
        server_display, _ = b.xvfb(DESKTOP)
        client_display, _ = b.xvfb(CLIENT_DESKTOP, exclude=(server_display,))
        b.run([b.tool("bench_workload_colour"), "--once", READY_COLOUR],
              {"DISPLAY": f":{server_display}"}, 10)
        _, nt_hash = b.run(["winpr-hash3", "-u", USER, "-p", PASSWORD], {}, 10)
        port = b.free_port(24880)
        home = os.path.join(b.tmp, "home")
        os.makedirs(home, exist_ok=True)
        env = {"DISPLAY": f":{server_display}", "HOME": home, "XDG_RUNTIME_DIR": home,
               "XDG_CONFIG_HOME": os.path.join(home, ".config"),
               "MAC_SHADOW_NLA": f"{USER}:{nt_hash.strip()}",
               "CORVANE_PLATFORM": None, "MAC_SHADOW_PERMS": None}
        server = b.start([os.path.join(b.bin, "freerdp-shadow-cli"), f"/port:{port}", "+auth",
                          "+sec-nla"] + PLANAR_FLAGS, env, "server.log")
        deadline = time.time() + 15
        while time.time() < deadline and not port_open(port):
            time.sleep(0.05)
        b.start(["xfreerdp3", f"/v:127.0.0.1:{port}", "/cert:ignore", "/sec:nla", "/u:" + USER,
                 "/p:" + PASSWORD, "/auth-pkg-list:ntlm,!kerberos", "/size:1280x800"],
                {"DISPLAY": f":{client_display}", "HOME": home}, "client.log")
        rc, _ = b.run([b.tool("bench_pixel_watch"), "--mode", "wait", "--x", str(COLOUR_PROBE[0]),
                       "--y", str(COLOUR_PROBE[1]), "--palette", READY_COLOUR, "--tol", "24",
                       "--seconds", "30"], {"DISPLAY": f":{client_display}"}, 40)
        if rc != 0:
            raise RuntimeError("the client never showed the desktop")
        log_path = os.path.join(b.tmp, "server.log")
        pointer = Pointer(client_display, server_display)
        if not pointer.calibrate():
            raise RuntimeError("the server's pointer does not follow the client's")
        relay = Relay(port, port + 1000)
        try:
            for attack in (False, True):
                results["attack" if attack else "quiet"] = window(
                    b, port, server_display, client_display, args.seconds, log_path, attack,
                    pointer, relay)
        finally:
            relay.close()
        pointer.close()
        if server.poll() is not None:
            raise RuntimeError("the server ended during the attack")
    except RuntimeError as e:
        print(f"abuse bench: {e} (logs in {b.tmp})", file=sys.stderr)
        args.keep = True
    finally:
        b.stop_all()
    def ms(value):
        return "-" if value is None else f"{value:.0f} ms"

    print("| window | changes seen/s | of made/s | share | longest publication wait | "
          "pointer median / p95 / max | pointer moves lost | new logins during the attack |")
    print("|---|---|---|---|---|---|---|---|")
    for name, r in results.items():
        print(f"| {name} | {r['fps']:.1f} | {r['made_fps']:.1f} | {100 * (r['share'] or 0):.1f} % "
              f"| {ms(r['longest_publish_ms'])} | {ms(r['pointer_median_ms'])} / "
              f"{ms(r['pointer_p95_ms'])} / {ms(r['pointer_max_ms'])} | "
              f"{r['pointer_lost']} of {r['pointer_moves']} | "
              + (f"{r['new_logins_ok']} of {r['new_logins']} succeeded |" if name == "attack"
                 else "- |"))
    if "attack" in results:
        r = results["attack"]
        print(f"silent connections: held {r['silent_held_s']:.0f} s in all during the "
              f"{args.seconds:.0f} s attack, the longest {r['silent_longest_s']:.0f} s")
        print(f"new logins during the attack: {r['new_logins_ok']} of {r['new_logins']} "
              f"succeeded")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    if not args.keep:
        subprocess.run(["rm", "-rf", b.tmp])
    else:
        print(f"logs: {b.tmp}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
