#!/usr/bin/env python3
"""What an account's settings cost: logins per second by password kind, and
transfers under a rate limit.

    bench/accounts.py [--binary PATH] [--seconds 5] [--size 64]

Starts the server (by default build/vostrine) in a scratch folder with a
settings file of four accounts: a plain password from ./config, a yescrypt
hash (libxcrypt's default cost), a SHA-512 hash ($6$, 5000 rounds), and an
account limited to each rate in turn. Then, over loopback:

- logins: for --seconds per account, one client after another connects,
  logs in and quits (two at once, one per core); logins per second;
- rates: a --size MiB download and upload at 1M, 10M and 100M, and without a
  limit: the rate achieved against the one set, and the server's CPU time per
  GiB moved (its user and system time from /proc).
"""

import argparse
import ctypes
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import config_text, server, user  # noqa: E402
from memory import line  # noqa: E402  (one reply line, as bench/memory.py reads it)

RATES = {"1M": 1 << 20, "10M": 10 << 20, "100M": 100 << 20}


def crypt(method, password, rounds=0):
    lib = ctypes.CDLL("libcrypt.so.1")
    lib.crypt_gensalt.restype = lib.crypt.restype = ctypes.c_char_p
    return lib.crypt(password.encode(), lib.crypt_gensalt(method.encode(), rounds, None, 0)).decode()


def command(sock, text):
    sock.sendall(text.encode() + b"\r\n")
    return line(sock).decode()


def login(port, name):
    with socket.create_connection(("127.0.0.1", port)) as sock:
        line(sock)
        command(sock, "USER " + name)
        reply = command(sock, "PASS pw")
        assert reply.startswith("230"), reply
        command(sock, "QUIT")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def transfer(port, name, verb, size):
    # One RETR of big.bin, or one STOR of size bytes: seconds taken.
    with socket.create_connection(("127.0.0.1", port)) as sock:
        line(sock)
        command(sock, "USER " + name)
        command(sock, "PASS pw")
        command(sock, "TYPE I")
        reply = command(sock, "EPSV")
        data = socket.create_connection(("127.0.0.1", int(reply.split("|||")[1].split("|")[0])))
        started = time.monotonic()
        sock.sendall(("RETR big.bin\r\n" if verb == "download" else "STOR up.bin\r\n").encode())
        line(sock)
        if verb == "download":
            while data.recv(1 << 20):
                pass
        else:
            chunk = bytes(1 << 20)
            for _ in range(size >> 20):
                data.sendall(chunk)
            data.shutdown(socket.SHUT_WR)
            data.recv(1)
        data.close()
        reply = line(sock).decode()
        assert reply.startswith("226"), reply
        return time.monotonic() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=os.path.join(TOP, "build", "vostrine"))
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--size", type=int, default=64)
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vostrine-bench-")
    try:
        os.makedirs(os.path.join(work, "root"))
        with open(os.path.join(work, "root", "big.bin"), "wb") as f:
            f.truncate(options.size << 20)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        names = ["plain", "yescrypt", "sha512"] + ["rate" + r for r in RATES] + ["free"]
        with open(os.path.join(work, "config"), "w") as f:
            f.write(config_text([server(port, max_connections=50)], [user(n, "pw", max_connections=50) for n in names]))
        sections = {"yescrypt": "password = " + crypt("$y$", "pw"), "sha512": "password = " + crypt("$6$", "pw", 5000)}
        sections.update({"rate" + r: "download-rate = %s\nupload-rate = %s" % (r, r) for r in RATES})
        with open(os.path.join(work, "vostrine.conf"), "w") as f:
            f.write("".join("[account %s]\n%s\n" % item for item in sections.items()))
        with open(os.path.join(work, "console.log"), "w") as console:
            process = subprocess.Popen([options.binary, "--no-console", "--extensions", "--settings", "vostrine.conf"],
                                       cwd=work, stdin=subprocess.DEVNULL, stdout=console, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                try:
                    socket.create_connection(("127.0.0.1", port)).close()
                    break
                except OSError:
                    time.sleep(0.05)
            print("logins per second (two clients at once):")
            for name in ("plain", "yescrypt", "sha512"):
                counts, stop = [0, 0], time.monotonic() + options.seconds

                def loop(i, name=name, stop=stop, counts=counts):
                    while time.monotonic() < stop:
                        login(port, name)
                        counts[i] += 1

                threads = [threading.Thread(target=loop, args=(i,)) for i in range(2)]
                for t in threads:
                    t.start()
                for t in threads:
                    t.join()
                print("  %-9s %8.1f" % (name, sum(counts) / options.seconds))
            size = options.size << 20
            print("rates (%d MiB each way): achieved MiB/s against the limit, server CPU seconds per GiB:" % options.size)
            for name, limit in [("free", 0)] + [("rate" + r, v) for r, v in RATES.items()]:
                # CPU time comes in clock ticks: short transfers are repeated
                # until they have moved about a GiB or taken about 10 s.
                repeats = max(1, min(1024 // options.size, int(10 * limit / size) if limit else 1 << 30))
                for verb in ("download", "upload"):
                    before = cpu_seconds(process.pid)
                    seconds = sum(transfer(port, name, verb, size) for _ in range(repeats))
                    cpu = cpu_seconds(process.pid) - before
                    achieved = size * repeats / seconds / (1 << 20)
                    versus = " (%+.1f%%)" % ((size * repeats / seconds / limit - 1) * 100) if limit else ""
                    print("  %-9s %-8s %8.2f MiB/s%s  %.3f s/GiB" % (name, verb, achieved, versus,
                                                                    cpu * 1024 / (options.size * repeats)))
        finally:
            process.terminate()
            process.wait(10)
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
