# The idle supervisor in real time, with a 10-second limit: silent
# connections, passive ports nobody connects to and stalled transfers go;
# connections that send commands and transfers that move stay. (Its pass is
# also driven directly by the unit tests, and what counts as activity before
# a login is tested with the hardening mends.)

import time
import unittest

from harness import ServerTest, user


class IdleTimeout(ServerTest):
    def test_silence_and_stalls_are_dropped_activity_is_not(self):
        srv = self.serve(args=["--idle-timeout", "10"], users=[user("alice", "secret", max_connections=10)],
                         files={"big.bin": bytes(48 << 20)})
        silent = self.connect(srv)
        waiting = self.connect(srv).login("alice", "secret")
        waiting.cmd("PASV")
        waiting.send("RETR big.bin\r\n")  # and never connects
        stalled = self.connect(srv).login("alice", "secret")
        self.addCleanup(stalled.pasv().close)
        stalled.send("RETR big.bin\r\n")  # and never reads
        talking = self.connect(srv).login("alice", "secret")
        moving = self.connect(srv).login("alice", "secret")
        moving_data = moving.pasv()
        self.addCleanup(moving_data.close)
        moving.send("RETR big.bin\r\n")
        started = next_noop = time.monotonic()
        while time.monotonic() - started < 14:
            # A slow but steady download: up to 1 MB/s, so that the server's
            # socket buffer drains, and it moves bytes, well within the limit.
            self.assertTrue(moving_data.recv(1 << 18))
            if time.monotonic() >= next_noop:
                talking.talk([("NOOP", "200 OK")])
                next_noop += 3
            time.sleep(0.25)
        self.assertEqual([c.closed(wait=0.05) for c in (silent, waiting, stalled, talking, moving)], [True] * 3 + [False] * 2)
        srv.wait_field("server", 0, "OnlineConnections", 2)


if __name__ == "__main__":
    unittest.main()
