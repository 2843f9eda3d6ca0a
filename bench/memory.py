#!/usr/bin/env python3
"""Resident memory of a freshly started server, per connection and after them.

    bench/memory.py [--binary PATH] [--connections 1000]

Starts the server (by default build/vostrine) in a scratch folder with a
self-signed certificate, then over loopback: --connections idle logged-in
plain connections, then as many that only sent AUTH TLS and a command after
the handshake, then closes them all. It prints the resident set (VmRSS) per
connection of each kind and what is left above the server's start once all
have closed (the idle supervisor gives memory back within a second or two).
"""

import argparse
import os
import resource
import shutil
import socket
import ssl
import subprocess
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def line(s):
    got = b""
    while not got.endswith(b"\n"):
        chunk = s.recv(1)
        if not chunk:
            raise SystemExit("the server closed a connection")
        got += chunk
    return got


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=os.path.join(TOP, "build", "vostrine"))
    parser.add_argument("--connections", type=int, default=1000)
    options = parser.parse_args()
    count = options.connections
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    work = tempfile.mkdtemp(prefix="vostrine-memory-")
    os.makedirs(os.path.join(work, "root"))
    port = free_port()
    config = ["// bench/memory.py", "1", "0", "Memory", "1", "NULL", str(port), str(4 * count), "Welcome", "Bye", "0",
              "1", "alice", "secret", "0", "1", "NULL", str(4 * count), "1", "Home", "root", "0", "-1"]
    with open(os.path.join(work, "config"), "w") as f:
        f.write("\n".join(config) + "\n")
    cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost"], check=True,
                   capture_output=True)
    server = subprocess.Popen([options.binary, "--no-console", "--max-connections", str(4 * count),
                               "--tls-cert", cert, "--tls-key", key], cwd=work,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    held = []
    try:
        def resident():
            with open("/proc/%d/status" % server.pid) as status:
                return next(int(f.split()[1]) for f in status if f.startswith("VmRSS"))

        deadline = time.monotonic() + 10
        while True:
            try:
                connection = socket.create_connection(("127.0.0.1", port), timeout=1)
                line(connection)
                connection.close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise SystemExit("the server did not start")
                time.sleep(0.1)
        time.sleep(1)
        start = resident()
        for _ in range(count):
            s = socket.create_connection(("127.0.0.1", port), timeout=10)
            line(s)
            s.sendall(b"USER alice\r\n")
            line(s)
            s.sendall(b"PASS secret\r\n")
            line(s)
            held.append(s)
        time.sleep(1)
        plain = resident()
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        for _ in range(count):
            s = socket.create_connection(("127.0.0.1", port), timeout=10)
            line(s)
            s.sendall(b"AUTH TLS\r\n")
            line(s)
            s = context.wrap_socket(s)
            s.sendall(b"NOOP\r\n")
            line(s)
            held.append(s)
        time.sleep(1)
        tls = resident()
        for s in held:
            s.close()
        time.sleep(3)
        after = resident()
        print("start: %.1f MiB" % (start / 1024))
        print("%d idle logged-in connections: %.1f KiB each" % (count, (plain - start) / count))
        print("%d connections after AUTH TLS: %.1f KiB each" % (count, (tls - plain) / count))
        print("all closed: %.1f MiB above the start" % ((after - start) / 1024))
    finally:
        for s in held:
            s.close()
        server.terminate()
        server.wait(30)
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
