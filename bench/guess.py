#!/usr/bin/env python3
"""How fast a password guesser gets through a list against the login pause.

    bench/guess.py [--binary PATH] [--clients 50] [--seconds 10] [--wait-ms 50]

Starts the server (by default build/vostrine) in a scratch folder with one
account, then runs --clients guessers in parallel over loopback, each taking
the next password from a list of 2 001 whose last one is right. A guesser
sends USER and PASS, waits --wait-ms for an answer, and when none came takes
the silence for "wrong" and resets the connection (the sidestep this measures);
an answer it reads. It prints the tries per second, how many were refused at
once (421) and whether the right password was found within --seconds.
"""

import argparse
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PASSWORDS = ["guess%04d" % i for i in range(2000)] + ["secret"]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default=os.path.join(TOP, "build", "vostrine"))
    parser.add_argument("--clients", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--wait-ms", type=float, default=50)
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="vostrine-guess-")
    os.makedirs(os.path.join(work, "root"))
    port = free_port()
    config = ["// bench/guess.py", "1", "0", "Guess", "1", "NULL", str(port), "100", "Welcome", "Bye", "0", "1",
              "alice", "secret", "0", "1", "NULL", "100", "1", "Home", "root", "0", "-1"]
    with open(os.path.join(work, "config"), "w") as f:
        f.write("\n".join(config) + "\n")
    server = subprocess.Popen([options.binary, "--no-console", "--max-connections", "200"], cwd=work,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise SystemExit("the server did not start")
                time.sleep(0.1)
        run(port, options)
    finally:
        server.terminate()
        server.wait(30)
        shutil.rmtree(work, True)


def run(port, options):
    lock = threading.Lock()
    state = {"next": 0, "tries": 0, "barred": 0, "found": None}
    stop = time.monotonic() + options.seconds

    def guesser():
        while time.monotonic() < stop:
            with lock:
                if state["found"] or state["next"] >= len(PASSWORDS):
                    return
                password = PASSWORDS[state["next"]]
                state["next"] += 1
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=5)
                greeting = s.recv(200)
                if greeting.startswith(b"421"):
                    with lock:
                        state["barred"] += 1
                    s.close()
                    continue
                s.sendall(b"USER alice\r\n")
                s.recv(200)
                s.sendall(b"PASS %s\r\n" % password.encode())
                s.settimeout(options.wait_ms / 1000)
                try:
                    answer = s.recv(200)
                except socket.timeout:
                    answer = b""  # silence: taken as "wrong"
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                s.close()
            except OSError:
                continue
            with lock:
                state["tries"] += 1
                if answer.startswith(b"230"):
                    state["found"] = password

    started = time.monotonic()
    threads = [threading.Thread(target=guesser) for _ in range(options.clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.monotonic() - started
    print("%d tries in %.1f s: %.1f tries/s; %d connections refused at once; password %s" %
          (state["tries"], elapsed, state["tries"] / elapsed, state["barred"],
           "found" if state["found"] else "not found"))


if __name__ == "__main__":
    sys.exit(main())
