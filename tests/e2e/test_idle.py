"""The idle supervisor in real time: silent connections go after 120 seconds,
active ones stay. (Its pass is also driven directly by the unit tests.)"""

import socket
import time
import unittest

from harness import ServerTest


class IdleTimeout(ServerTest):
    def test_silent_and_refused_clients_are_dropped_active_ones_stay(self):
        srv = self.serve()
        silent = self.connect(srv)
        refused = self.connect(srv)  # not logged in: its commands never pass the gate
        active = self.connect(srv).login("alice", "secret")
        started = time.monotonic()

        def dropped(client):
            client.sock.settimeout(0.05)
            try:
                return client.sock.recv(1) == b""
            except socket.timeout:
                return False
            finally:
                client.sock.settimeout(None)

        while time.monotonic() - started < 112:
            self.assertEqual(refused.cmd("PWD"), "530 Please login with USER and PASS.\r\n")
            self.assertEqual(active.cmd("NOOP"), "200 OK\r\n")
            self.assertFalse(dropped(silent))
            time.sleep(8)
        deadline = started + 135
        while not (dropped(silent) and dropped(refused)):
            self.assertLess(time.monotonic(), deadline, "silent clients not dropped in time")
            time.sleep(0.5)
        self.assertGreater(time.monotonic() - started, 115)
        self.assertEqual(active.cmd("PWD"), "257 \"/\" is current directory.\r\n")
        srv.wait_field("server", 0, "OnlineConnections", 1)


if __name__ == "__main__":
    unittest.main()
