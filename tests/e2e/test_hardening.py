# What an attacker tries: the operator's links and the root itself, an empty
# root, slots held without a login or by abandoned transfers, and bytes meant
# for the operator's terminal. Every mend holds without options too.

import os
import socket
import time
import unittest

from harness import ServerTest, receive_all, user

NOT_FOUND = "550 File not found.\r\n"


class Links(ServerTest):
    def setUp(self):
        def prepare(work):
            for path, text in (("elsewhere/share/docs/secret.txt", "outside"), ("served/pub/inside.txt", "inside")):
                os.makedirs(os.path.dirname(os.path.join(work, path)), exist_ok=True)
                with open(os.path.join(work, path), "w") as f:
                    f.write(text)
            os.makedirs(os.path.join(work, "served", "pub", "deep"))
            os.symlink("served", os.path.join(work, "link-root"))  # the account's root is a link
            os.symlink("../elsewhere/share/docs", os.path.join(work, "served", "docs"))  # leads outside
            os.symlink("pub/inside.txt", os.path.join(work, "served", "alias.txt"))  # stays inside

        self.srv = self.serve(users=[user("alice", "secret", root="link-root")], prepare=prepare)
        self.c = self.connect(self.srv).login("alice", "secret")
        self.work = self.srv.workdir

    def retr(self, name):
        data = self.c.pasv()
        self.c.send("RETR %s\r\n" % name)
        content, line = receive_all(data), self.c.line()
        return content, self.c.line() if line.startswith(b"150") else line

    def test_the_root_and_links_that_lead_outside(self):
        for line, reply in (("DELE /", NOT_FOUND), ("RMD /", "550 Directory not found.\r\n"),
                            ("RNFR /", "350 File exists, ready for destination name\r\n"),
                            ("RNTO moved", "550 RNTO command failed.\r\n"),
                            ("SIZE docs/secret.txt", "550 File not found\r\n"), ("CWD docs", None),
                            ("MKD docs/new", "550 Directory created failed.\r\n"), ("SIZE alias.txt", "213 6\r\n"),
                            ("RNFR docs", "350 File exists, ready for destination name\r\n"),  # the link itself
                            ("RNTO pub/deep/docs", "250 RNTO command successful.\r\n"),
                            ("SIZE pub/deep/docs/secret.txt", "550 File not found\r\n")):
            reply_text = self.c.cmd(line)
            if reply is None:
                self.assertTrue(reply_text.startswith("550 CWD failed."), reply_text)
            else:
                self.assertEqual(reply_text, reply, line)
        self.assertEqual(self.retr("pub/deep/docs/secret.txt"), (b"", b"550 File not found.\r\n"))
        self.assertEqual(self.retr("alias.txt"), (b"inside", b"226 Transfer complete.\r\n"))
        self.assertTrue(os.path.islink(os.path.join(self.work, "link-root")))
        self.assertTrue(os.path.islink(os.path.join(self.work, "served", "pub", "deep", "docs")))
        self.assertEqual(self.c.cmd("DELE alias.txt"), '250 File "alias.txt" was deleted successfully.\r\n')
        self.assertTrue(os.path.exists(os.path.join(self.work, "served", "pub", "inside.txt")))  # not its target
        with open(os.path.join(self.work, "elsewhere", "share", "docs", "secret.txt")) as f:
            self.assertEqual(f.read(), "outside")

    def test_writes_through_a_link_that_leads_outside_are_refused(self):
        srv = self.srv
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.send("STOR docs/secret.txt\r\n")
        data.sendall(b"overwritten")
        data.close()
        self.assertIn(b"550 Can't create file.", c.line() + c.line())
        for line in ("SITE CHMOD 777 docs/secret.txt", "MFMT 20000101000000 docs/secret.txt", "APPE docs/secret.txt"):
            self.assertTrue(c.cmd(line).startswith("5"), line)  # unknown without --extensions, refused with them
        secret = os.path.join(self.work, "elsewhere", "share", "docs", "secret.txt")
        with open(secret) as f:
            self.assertEqual(f.read(), "outside")
        self.assertEqual(os.stat(secret).st_mode & 0o777, 0o644)


class EmptyRoot(ServerTest):
    def test_an_account_with_an_empty_root_cannot_log_in(self):
        srv = self.serve(users=[user("eve", "pw", root="NULL"), user("alice", "secret")])
        self.assertIn(b"user 0 (eve) has an empty root directory", srv.output())
        c = self.connect(srv)
        c.cmd("USER eve")
        self.assertEqual(c.cmd("PASS pw"), "530 Not logged in, user has no home directory.\r\n")


class Slots(ServerTest):
    def test_no_slot_is_held_without_a_login_or_by_an_abandoned_transfer(self):
        srv = self.serve(args=["--idle-timeout", "10", "--max-per-address", "3"], max_connections=20,
                         users=[user("alice", "secret", max_connections=10)], files={"big.bin": bytes(32 << 20)})
        pestering = self.connect(srv)
        waiting = self.connect(srv).login("alice", "secret")  # PASV + RETR, never connects, then goes
        waiting.cmd("PASV")
        waiting.send("RETR big.bin\r\n")
        stalled = self.connect(srv).login("alice", "secret")  # PORT + RETR, never reads, then goes
        stalled.cmd("PORT " + self.client_listener()[1])
        stalled.send("RETR big.bin\r\n")
        self.assertEqual(stalled.line()[:3], b"150")
        extra = self.connect(srv, greet=False)
        self.assertEqual(extra.line(), b"421 Too many connections from your address.\r\n")
        self.assertTrue(extra.closed())
        waiting.close()
        stalled.close()
        srv.wait_field("server", 0, "OnlineConnections", 1, timeout=5)  # both freed at once
        started = time.monotonic()
        while not pestering.closed(wait=0.5):
            pestering.send("USER alice\r\n")  # does not count as activity before a login
            self.assertLess(time.monotonic() - started, 25)
        self.assertGreater(time.monotonic() - started, 8)

    def test_a_pipelining_script_that_half_closes_still_gets_its_file(self):
        srv = self.serve(files={"f.txt": b"x" * 100000})
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.send("RETR f.txt\r\nQUIT\r\n")
        c.sock.shutdown(socket.SHUT_WR)
        self.assertEqual(len(receive_all(data)), 100000)
        self.assertEqual(c.line()[:3], b"150")
        self.assertEqual([c.line(), c.line()], [b"226 Transfer complete.\r\n", b"221 Bye!\r\n"])


class Echo(ServerTest):
    def test_client_bytes_reach_the_terminal_escaped(self):
        srv = self.serve()
        c = self.connect(srv)
        c.send(b"USER \x1b]0;owned\x07caf\xc3\xa9 \x80\x7f\r\n")
        self.assertEqual(c.line(), b"331 Password required for \x1b]0;owned\x07caf\xc3\xa9 \x80\x7f\r\n")  # as sent
        srv.wait_for(b":USER \\x1b]0;owned\\x07caf\xc3\xa9 \\x80\\x7f\r\n")
        out = srv.output()
        self.assertNotIn(b"\x1b", out)
        self.assertIn(b"Password required for \\x1b]0;owned\\x07caf\xc3\xa9 \\x80\\x7f\r\n", out)


if __name__ == "__main__":
    unittest.main()
