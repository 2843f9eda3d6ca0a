#!/usr/bin/env python3
# The soak test: many clients for a long time doing random sessions against
# one server (wrong passwords, listings, transfers both ways, ABOR, PASV
# churn, drops and resets mid-transfer), with "clear" and the views typed on
# its console; afterwards every slot is free, every count zero, the
# descriptors back to where they started and the resident memory within 10%
# of what it was after the warm-up.
#
#   bench/soak.py [SECONDS] [CLIENTS]     (make soak: 600 50)

import os
import random
import re
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Client, ServerTest, WAIT, reset, user  # noqa: E402

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 600
CLIENTS = int(sys.argv[2]) if len(sys.argv) > 2 else 50


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


class Soak(ServerTest):
    def test_soak(self):
        srv = self.serve(args=["--extensions"], max_connections=100, users=[user("alice", "secret", max_connections=100)],
                         files={"small.bin": os.urandom(4096), "big.bin": os.urandom(8 << 20)})
        pid = srv.process.pid
        start_fds = descriptors(pid)
        stop = time.monotonic() + SECONDS
        warm = time.monotonic() + min(60, SECONDS / 4)
        errors, warm_rss = [], []

        def session(rng):
            c = None
            try:
                c = Client(srv.port)  # a connection that arrives while "clear" runs may go before its greeting
                if rng.random() < 0.1:
                    c.cmd("USER alice")
                    c.cmd("PASS wrong")  # a pause, then 530
                c.login("alice", "secret")
                c.cmd("TYPE I")
                for _ in range(rng.randint(1, 6)):
                    action = rng.choice(["list", "get", "put", "abort", "churn", "drop", "reset"])
                    if action == "churn":
                        for _ in range(5):
                            c.cmd("PASV")
                        continue
                    data = c.pasv()
                    command = {"list": "LIST", "get": "RETR small.bin", "put": "STOR up-%d.bin" % rng.randint(0, 9),
                               "abort": "RETR big.bin", "drop": "RETR big.bin", "reset": "STOR big-%d.bin" % rng.randint(0, 9)}
                    c.send(command[action] + "\r\n")
                    if action == "put":
                        data.sendall(os.urandom(rng.randint(0, 50000)))
                        data.close()
                    elif action == "abort":
                        data.recv(65536)
                        c.send("ABOR\r\n")
                        data.close()
                    elif action in ("drop", "reset"):
                        if action == "reset":
                            data.sendall(b"x" * 10000)
                        reset(data)
                        if rng.random() < 0.5:
                            reset(c.sock)  # the client vanishes mid-transfer
                            return
                    else:
                        while data.recv(65536):
                            pass
                        data.close()
                    while not c.line()[:3] in (b"226", b"225", b"425", b"426", b"451", b"550"):
                        pass
                c.cmd("QUIT")
            except (OSError, AssertionError, AttributeError):
                pass  # "clear" ends connections under the clients' feet; the session starts over
            finally:
                if c:
                    c.close()

        def client(number):
            rng = random.Random(number)
            try:
                while time.monotonic() < stop:
                    session(rng)
            except Exception as failure:  # reported below
                errors.append(failure)

        threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
        for t in threads:
            t.start()
        while time.monotonic() < stop:
            time.sleep(min(2, SECONDS / 10))
            if not warm_rss and time.monotonic() >= warm:
                warm_rss.append(resident_kib(pid))
            srv.type(random.choice(["view conn\n", "view user\n", "view server\n", "clear\n"]))
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        srv.wait_field("server", 0, "OnlineConnections", 0, timeout=WAIT * 3)
        self.assertEqual(srv.field("user", 0, "OnlineConnections"), 0)
        self.assertNotIn("InUsed:-1", srv.view("conn"))
        deadline = time.monotonic() + WAIT
        while descriptors(pid) != start_fds and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(descriptors(pid), start_fds)
        rss = resident_kib(pid)
        print("resident memory: %d KiB after the warm-up, %d KiB at the end" % (warm_rss[0], rss))
        self.assertLess(rss, warm_rss[0] * 1.1 + 1024)  # and a MiB of slack for a short run's noise


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
