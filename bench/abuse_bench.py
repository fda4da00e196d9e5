#!/usr/bin/env python3
"""Abuse benchmark: how many picture changes a logged-in client still sees
while the server is attacked, against the same window without an attack.

    python3 bench/abuse_bench.py [--build DIR] [--seconds 15] [--json FILE]

Our freerdp-shadow-cli runs on a 1280x800 Xvfb with NLA logins (a stored
NT hash, MAC_SHADOW_NLA) and the planar codec only; one xfreerdp3 logs in
with NLA and watches while bench_workload_colour changes the root colour 20
times a second. Two windows of --seconds each, measured with
bench_pixel_watch on the client's display:
  - quiet: nothing else happens;
  - attack: from the start of the window, silent connections from 127.0.0.2
    and 127.0.0.3 (an X.224 request asking for TLS, then nothing), 200
    connections at once from 127.0.0.10-209 (a few random bytes each, then
    closed), and a wrong TLS password tried every 2 s with xfreerdp3
    +auth-only (the account check, its delay and the lockout waits).
For each window: changes seen per second and as a share of the changes
made, and the server's longest publication wait (its "publish ... max" log
figure). Exits 0 whatever it measures. 127.0.0.x only; displays :80-:89,
ports 34800-34899 (shared with run_bench.py: do not run both at once).
"""
import argparse
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


def silent(port, source, stop):
    """Holds a connection that asked for TLS and then says nothing."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5,
                                      source_address=(source, 0)) as s:
            s.sendall(X224_TLS_REQUEST)
            stop.wait()
    except OSError:
        pass


def flood(port, count):
    """`count` connections at once from different addresses: random bytes, closed."""
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


def longest_publish(log_path, since):
    """The largest 'publish ... max X ms' figure logged after byte offset `since`."""
    with open(log_path, errors="replace") as f:
        f.seek(since)
        text = f.read()
    values = [float(m) for m in re.findall(r"publish \(waiting for clients\) avg [0-9.]+ ms max "
                                          r"([0-9.]+) ms", text)]
    return max(values) if values else None


def window(b, port, server_display, client_display, seconds, log_path, attack):
    d_env = {"DISPLAY": f":{server_display}"}
    wl = b.tool("bench_workload_colour")
    load = b.start([wl, "--hz", str(COLOUR_HZ), "--palette", ",".join(PALETTE), "--seconds",
                    str(seconds + 4)], d_env, f"workload-{attack}.log")
    stop = threading.Event()
    threads = []
    try:
        time.sleep(1.0)
        offset = os.path.getsize(log_path)
        if attack:
            for source in ("127.0.0.2", "127.0.0.3"):
                threads.append(threading.Thread(target=silent, args=(port, source, stop)))
            threads.append(threading.Thread(target=flood, args=(port, 200)))
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
    return {"changes": seen, "fps": seen / seconds, "made_fps": rate,
            "share": seen / (rate * seconds) if rate else None,
            "longest_publish_ms": longest_publish(log_path, offset)}


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=os.environ.get("CORVANE_BUILD_DIR", os.path.join(root, "build")))
    p.add_argument("--seconds", type=float, default=15.0)
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
        port = b.free_port(34880)
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
        for attack in (False, True):
            results["attack" if attack else "quiet"] = window(
                b, port, server_display, client_display, args.seconds, log_path, attack)
        if server.poll() is not None:
            raise RuntimeError("the server ended during the attack")
    except RuntimeError as e:
        print(f"abuse bench: {e} (logs in {b.tmp})", file=sys.stderr)
        args.keep = True
    finally:
        b.stop_all()
    print("| window | changes seen/s | of made/s | share | longest publication wait |")
    print("|---|---|---|---|---|")
    for name, r in results.items():
        wait = r["longest_publish_ms"]
        print(f"| {name} | {r['fps']:.1f} | {r['made_fps']:.1f} | {100 * (r['share'] or 0):.1f} % "
              f"| {'-' if wait is None else f'{wait:.0f} ms'} |")
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
