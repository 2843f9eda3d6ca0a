# What an attacker tries: the operator's links and the root itself, an empty
# root, slots held without a login or by abandoned transfers, idle connections
# and stalled transfers, and bytes meant for the operator's terminal. Every
# defence holds without options too.

import os
import socket
import time

from harness import ServerTest, content, receive_all, user
from replies import BYE, CANT_CREATE, COMPLETE, NOT_FOUND, OPENING, RENAME_FAILED, RENAME_READY


class Links(ServerTest):
    def test_the_root_and_links_that_lead_outside(self):
        def prepare(work):
            content(os.path.join(work, "elsewhere/share/docs/secret.txt"), "outside")
            content(os.path.join(work, "served/pub/inside.txt"), "inside")
            os.makedirs(os.path.join(work, "served", "pub", "deep"))
            os.symlink("served", os.path.join(work, "link-root"))  # the account's root is a link
            os.symlink("../elsewhere/share/docs", os.path.join(work, "served", "docs"))  # leads outside
            os.symlink("pub/inside.txt", os.path.join(work, "served", "alias.txt"))  # stays inside

        srv = self.serve(users=[user("alice", "secret", root="link-root")], prepare=prepare)
        c, work = self.connect(srv).login("alice", "secret"), srv.workdir
        c.talk([("DELE /", NOT_FOUND), ("RMD /", "550 Directory not found."), ("RNFR /", RENAME_READY),
                ("RNTO moved", RENAME_FAILED), ("SIZE docs/secret.txt", "550 File not found"),
                ("CWD docs", '550 CWD failed. "docs": directory not found.'),
                ("MKD docs/new", "550 Directory created failed."), ("SIZE alias.txt", "213 6"),
                ("RNFR docs", RENAME_READY), ("RNTO pub/deep/docs", "250 RNTO command successful."),  # the link itself
                ("SIZE pub/deep/docs/secret.txt", "550 File not found")])
        self.assertEqual(c.transfer("RETR pub/deep/docs/secret.txt"), (b"", NOT_FOUND))
        self.assertEqual(c.transfer("RETR alias.txt"), (b"inside", OPENING + COMPLETE))
        self.assertEqual(c.transfer("STOR pub/deep/docs/secret.txt", b"overwritten"), (b"", OPENING + CANT_CREATE))
        for line in ("SITE CHMOD 777 pub/deep/docs/secret.txt", "MFMT 20000101000000 pub/deep/docs/secret.txt",
                     "APPE pub/deep/docs/secret.txt"):
            self.assertTrue(c.cmd(line).startswith("5"), line)  # unknown without --extensions, refused with them
        self.assertTrue(os.path.islink(os.path.join(work, "link-root")))
        self.assertTrue(os.path.islink(os.path.join(work, "served", "pub", "deep", "docs")))
        c.talk([("DELE alias.txt", '250 File "alias.txt" was deleted successfully.')])
        self.assertTrue(os.path.exists(os.path.join(work, "served", "pub", "inside.txt")))  # not its target
        secret = os.path.join(work, "elsewhere", "share", "docs", "secret.txt")
        self.assertEqual((content(secret), os.stat(secret).st_mode & 0o777), (b"outside", 0o644))


class Slots(ServerTest):
    def test_a_pipelining_script_that_half_closes_still_gets_its_file(self):
        c = self.connect(self.serve(files={"f.txt": b"x" * 100000})).login("alice", "secret")
        data = c.pasv()
        c.send("RETR f.txt\r\nQUIT\r\n")
        c.sock.shutdown(socket.SHUT_WR)
        self.assertEqual((receive_all(data), c.reply() + c.reply() + c.reply()), (b"x" * 100000, OPENING + COMPLETE + BYE))


    # The idle supervisor in real time, with a 10-second limit: connections
    # that only send USER (nothing counts before a login), passive ports
    # nobody connects to and stalled transfers go; connections that send
    # commands and transfers that move stay. A client that leaves frees its
    # slot at once, even in the middle of a transfer.
    def test_silence_and_stalls_are_dropped_activity_is_not(self):
        srv = self.serve(args=["--idle-timeout", "10", "--max-per-address", "7"], max_connections=20,
                         users=[user("alice", "secret", max_connections=10)], files={"big.bin": bytes(48 << 20)})
        pestering = self.connect(srv)
        waiting, stalled, talking, moving, gone, stuck = [self.connect(srv).login("alice", "secret") for _ in range(6)]
        for c in (waiting, gone):
            c.cmd("PASV")
            c.send("RETR big.bin\r\n")  # and never connects
        stalled_data, moving_data = stalled.begin("RETR big.bin"), moving.begin("RETR big.bin")
        self.addCleanup(stalled_data.close)
        self.addCleanup(moving_data.close)
        self.addCleanup(stuck.port().close)
        self.assertEqual(stuck.cmd("RETR big.bin"), OPENING)  # and never reads
        extra = self.connect(srv, greet=False)
        self.assertEqual(extra.line(), b"421 Too many connections from your address.\r\n")
        self.assertTrue(extra.closed())
        gone.close()
        stuck.close()
        srv.wait_field("server", 0, "OnlineConnections", 5, timeout=5)  # both freed at once
        started = next_noop = time.monotonic()
        while time.monotonic() - started < 14:
            # A slow but steady download: up to 1 MB/s, so that the server's
            # socket buffer drains, and it moves bytes, well within the limit.
            self.assertTrue(moving_data.recv(1 << 18))
            if time.monotonic() >= next_noop:
                talking.talk([("NOOP", "200 OK")])
                next_noop += 3
            try:
                pestering.send("USER alice\r\n")
            except OSError:
                pass  # dropped
            time.sleep(0.25)
        self.assertEqual([c.closed(wait=0.05) for c in (pestering, waiting, stalled, talking, moving)], [True] * 3 + [False] * 2)
        self.assertEqual(stalled.pending, OPENING.encode())  # then dropped without a word
        srv.wait_field("server", 0, "OnlineConnections", 2)


class Echo(ServerTest):
    def test_client_bytes_reach_the_terminal_escaped(self):
        srv = self.serve()
        c = self.connect(srv)
        c.send(b"USER \x1b]0;owned\x07caf\xc3\xa9 \x80\x7f\r\n")
        self.assertEqual(c.line(), b"331 Password required for \x1b]0;owned\x07caf\xc3\xa9 \x80\x7f\r\n")  # as sent
        srv.wait_for(b":USER \\x1b]0;owned\\x07caf\xc3\xa9 \\x80\\x7f\r\n")
        self.assertNotIn(b"\x1b", srv.output())
        self.assertIn(b"Password required for \\x1b]0;owned\\x07caf\xc3\xa9 \\x80\\x7f\r\n", srv.output())
