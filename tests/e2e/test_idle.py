# The idle supervisor in real time: silent connections and stalled transfers
# go after 120 seconds; active connections and moving transfers stay. (Its pass
# is also driven directly by the unit tests, and what counts as activity before
# a login is tested with a shorter limit.)

import socket
import time
import unittest

from harness import ServerTest, user


def dropped(client):
    # True once the server has closed the client's control connection.
    return client.closed(wait=0.05)


class IdleTimeout(ServerTest):
    def test_silence_and_stalls_are_dropped_activity_is_not(self):
        srv = self.serve(users=[user("alice", "secret", max_connections=10)],
                         files={"big.bin": b"z" * (48 * 1024 * 1024)})
        silent = self.connect(srv)
        giving_up = self.connect(srv).login("alice", "secret")  # a passive port nobody connects to
        giving_up.cmd("PASV")
        giving_up.send("RETR big.bin\r\n")
        gave_up_after = None
        stalled = self.connect(srv).login("alice", "secret")
        stalled_data = stalled.pasv()
        self.addCleanup(stalled_data.close)
        stalled.send("RETR big.bin\r\n")  # and never read
        moving = self.connect(srv).login("alice", "secret")
        moving_data = moving.pasv()
        moving_data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8192)
        self.addCleanup(moving_data.close)
        moving.send("RETR big.bin\r\n")
        started = time.monotonic()
        received = 0
        next_command = started
        while time.monotonic() - started < 112:
            received += len(moving_data.recv(16384))  # a slow but steady download
            if gave_up_after is None and not giving_up.closed(wait=0.01) and b"\n" in giving_up.pending:
                self.assertEqual(giving_up.line(), b"425 Can't open data connection.\r\n")
                gave_up_after = time.monotonic() - started
            if time.monotonic() >= next_command:
                if gave_up_after is not None:
                    self.assertEqual(giving_up.cmd("NOOP"), "200 OK\r\n")  # the connection goes on, active
                for client in (silent, stalled, moving):
                    self.assertFalse(dropped(client))
                next_command += 8
            time.sleep(0.25)
        deadline = started + 135
        self.assertTrue(gave_up_after is not None and 55 < gave_up_after < 80, gave_up_after)
        while not all(dropped(c) for c in (silent, stalled)):
            self.assertLess(time.monotonic(), deadline, "idle clients not dropped in time")
            received += len(moving_data.recv(16384))
            time.sleep(0.25)
        self.assertGreater(time.monotonic() - started, 115)
        self.assertGreater(received, 0)
        self.assertFalse(dropped(moving), "a transfer that moves is not idle")
        self.assertEqual(giving_up.cmd("PWD"), "257 \"/\" is current directory.\r\n")
        srv.wait_field("server", 0, "OnlineConnections", 2)  # moving and giving_up


if __name__ == "__main__":
    unittest.main()
