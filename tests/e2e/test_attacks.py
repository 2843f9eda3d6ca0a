# What a hostile client or a local user tries against the extensions and the
# operations: setuid files, listings that look outside the root, names that
# forge replies, a resumed upload far past a file's end, hoarded passive
# ports, injected clear text around AUTH TLS, log lines a reader cannot
# trust, and guessing passwords faster than the pause allows. (Stolen FTPS
# data connections: test_tls.py; a listener out of descriptors: test_control.py.)

import os
import re
import socket
import time

from harness import ServerTest, client_context, content, certificate, receive_all, reset, user, wait_until
from replies import COMPLETE, LIST_START, LOGGED_IN, OK, OPENING, WRONG

EXT = ["--extensions"]


class Attacks(ServerTest):
    def setUp(self):
        self.srv = self.serve(args=EXT, files={"pub/tool": b"\x7fELF", "pub/dir/": None, "ten.bin": b"0123456789",
                                               "pub/evil\r\n213 End of status.\r\n250 fake": b"x", "pub/plain.txt": b"y"})
        self.c = self.connect(self.srv).login("alice", "secret")

    def test_chmod_sets_only_permission_bits_and_never_the_root(self):
        srv = self.srv
        special = "550 SITE CHMOD sets only the permission bits (000 to 777)."
        root = "550 SITE CHMOD cannot change the root directory."
        self.c.talk(
            [("SITE CHMOD %s pub/tool" % mode, special) for mode in ("4755", "6755", "2755", "7777")] +
            [("SITE CHMOD 1777 pub/dir", special), ("SITE CHMOD 0000 /", root), ("SITE CHMOD 777 /", root),
             ("SITE CHMOD 700 pub/..", root), ("SITE CHMOD 0750 pub/tool", "200 SITE CHMOD command successful.")])
        self.assertEqual([os.stat(srv.path(name)).st_mode & 0o7777 for name in ("pub/tool", "pub/dir", "")],
                         [0o750, 0o755, 0o755])

    def test_links_leading_outside_are_described_as_links(self):
        # Links from the root to a private file and folder outside it, a dangling
        # link, and a link that stays inside: only the last is followed.
        def prepare(work):
            outside = os.path.join(work, "outside")
            os.makedirs(os.path.join(outside, "private"), 0o700)
            content(os.path.join(outside, "shadow"), b"s" * 12345)
            for target, name in ((os.path.join(outside, "shadow"), "to-shadow"), ("../outside/private", "to-private"),
                                 ("/nonexistent/probe", "dangling"), ("inside.txt", "to-inside")):
                os.symlink(target, os.path.join(work, "root", name))

        for args in (EXT, []):
            c = self.connect(self.serve(args=args, files={"inside.txt": b"i" * 77}, prepare=prepare)).login("alice", "secret")
            entries = self.listing(c, "LIST /")
            self.assertTrue("12345" not in entries["to-shadow"] and " 77 " in entries["to-inside"], entries)
            if not args:
                continue
            for name in ("to-shadow", "to-private", "dangling"):
                self.assertTrue(entries[name].startswith("lrwxrwxrwx"), entries[name])
            self.assertTrue(entries["to-inside"].startswith("-rw-"), entries["to-inside"])
            facts = self.listing(c, "MLSD /")
            for name in ("to-shadow", "to-private", "dangling"):
                self.assertTrue(facts[name].startswith("type=OS.unix=symlink;modify=") and "perm=;" in facts[name])
            self.assertTrue(facts["to-inside"].startswith("type=file;size=77;"), facts["to-inside"])
            # The root's parent is the root: nothing of the folder above it shows.
            strip = lambda line: re.sub(r"type=\w+;", "", line).rsplit(" ", 1)[0]
            self.assertEqual(strip(facts[".."]), strip(facts["."]))
            stat = c.cmd("STAT /")
            self.assertTrue(stat.endswith("213 End of status.\r\n") and "12345" not in stat and "drwx------" not in stat)

    def listing(self, c, command):
        listed, replies = c.transfer(command)
        self.assertEqual(replies, LIST_START + COMPLETE)
        return {line.rsplit(" ", 1)[-1]: line for line in listed.decode().split("\r\n")[:-1]}

    def test_a_name_with_line_ends_forges_no_reply(self):
        c = self.c
        stat = c.cmd("STAT pub")
        self.assertTrue(" plain.txt\r\n" in stat and stat.endswith("\r\n213 End of status.\r\n"), stat)
        c.talk([("NOOP", OK)])  # nothing forged is left to read
        for command in ("LIST pub", "NLST pub", "MLSD pub"):
            listed, replies = c.transfer(command)
            self.assertTrue(b"fake" not in listed and b"plain.txt" in listed and replies == LIST_START + COMPLETE)

    def test_a_resumed_upload_starts_within_the_file(self):
        srv, c = self.srv, self.c
        for name, offset, reply, expected in (("ten.bin", 1 << 40, "554", b"0123456789"), ("new.bin", 5, "554", None),
                                             ("ten.bin", 10, "226", b"0123456789+")):
            c.talk([("TYPE I", "200 Type set to I"), ("REST %d" % offset, "350 Restarting at %d. Send STORE or "
                                                                          "RETRIEVE to initiate transfer." % offset)])
            self.assertEqual(c.transfer("STOR " + name, b"+")[1].split("\r\n")[-2][:3], reply)
            self.assertEqual(content(srv.path(name)) if os.path.exists(srv.path(name)) else None, expected)

    def test_one_address_holds_a_quarter_of_the_passive_ports(self):
        low = 20000 + os.getpid() % 20000
        srv = self.serve(args=EXT + ["--passive-ports", "%d-%d" % (low, low + 9)], max_connections=20,
                         users=[user("alice", "secret", max_connections=10)])
        held = [self.connect(srv).login("alice", "secret") for _ in range(3)]
        self.assertEqual([c.cmd("EPSV")[:3] for c in held], ["229", "229", "425"])  # 10 ports: 2 each
        held[2].talk([("PASV", "425 Too many passive ports held from your address.")])
        self.assertEqual(held[0].cmd("EPSV")[:3], "229")  # a new one replaces the connection's own
        self.assertEqual(self.connect(srv, source="127.0.0.2").login("alice", "secret").cmd("EPSV")[:3], "229")
        held[0].cmd("QUIT")
        wait_until(lambda: held[2].cmd("EPSV")[:3] == "229", what="a port given back")

    def test_nothing_sent_in_clear_survives_the_auth_tls_handshake(self):
        srv = self.serve(args=["--tls-cert", certificate()[0], "--tls-key", certificate()[1]],
                         files={"big.bin": bytes(8 << 20)})
        context = client_context()
        c = self.connect(srv)
        c.send(b"AUTH TLS\r\n\xff\xfa")  # an unfinished Telnet subnegotiation
        self.assertEqual(c.reply(), "234 AUTH TLS successful.\r\n")
        c.sock = context.wrap_socket(c.sock)
        c.talk([("USER alice", "331 Password required for alice")])
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.talk([("RETR big.bin", OPENING)])
        c.send("AUTH TLS\r\nMKD injected\r\n")  # while the transfer runs, in clear
        self.assertEqual(len(receive_all(data)), 8 << 20)
        self.assertEqual(c.reply() + c.reply(), COMPLETE + "234 AUTH TLS successful.\r\n")
        c.sock = context.wrap_socket(c.sock)
        c.talk([("NOOP", OK)])
        self.assertFalse(os.path.exists(srv.path("injected")))

    def test_log_names_are_escaped_and_the_address_is_kept(self):
        logs = self.scratch()
        auth, xferlog = os.path.join(logs, "auth.log"), os.path.join(logs, "xferlog")
        srv = self.serve(args=EXT + ["--auth-log", auth, "--xferlog", xferlog])
        for name, shown in ((b"a\x0bb", rb"a\x0bb"), (b"nb\xc2\xa0sp", rb"nb\xc2\xa0sp"), (b"bob smith", rb"bob\x20smith"),
                            (b"back\\x20", rb"back\x5cx20"), (b"ls\xe2\x80\xa8", rb"ls\xe2\x80\xa8")):
            c = self.connect(srv)
            c.send(b"USER " + name + b"\r\n")
            c.line()
            c.send(b"PASS x\r\n")
            reset(c.sock)  # gone before the answer
            wait_until(lambda: shown in content(auth), what=shown)
        c = self.connect(srv).login("alice", "secret")
        c.transfer("STOR my file.txt", b"content")
        srv.stop()
        text = content(auth).decode()
        self.assertEqual(len(re.findall(r"login failed for user \S+ from 127\.0\.0\.1 port \d+\n", text)), 5, text)
        self.assertNotRegex(text, "[^\x20-\x7e\n]")
        self.assertIn(rb" /my\x20file.txt ", content(xferlog))


class PasswordGuessing(ServerTest):
    # The pause after a wrong password cannot be sidestepped by leaving early.
    def guess(self, srv, password, leave=None, host=None):
        c = self.connect(srv, source=host)
        c.cmd("USER alice")
        c.send("PASS %s\r\n" % password)
        if leave:
            time.sleep(0.05)
            leave(c.sock)
        return c

    def test_leaving_early_learns_nothing(self):
        srv = self.serve()
        for leave in (reset, lambda s: s.shutdown(socket.SHUT_WR), reset):
            c = self.guess(srv, "wrong", leave)
            if leave is not reset:  # an orderly close ends the pause too, without an answer
                self.assertTrue(c.closed() and c.pending == b"")
        srv.wait_field("server", 0, "OnlineConnections", 0)  # each noted as abandoned first
        for host in (None, None, "127.0.0.2"):
            c = self.guess(srv, "secret", host=host)
            if host is None:  # three abandoned attempts: the right password waits too
                self.assertFalse(c.closed(wait=0.5) or c.pending)
            self.assertEqual(c.reply(), LOGGED_IN)

    def test_many_failures_bar_the_address(self):
        srv = self.serve()
        for _ in range(30):
            self.guess(srv, "wrong", reset)
        srv.wait_field("server", 0, "OnlineConnections", 0)  # each failure noted first
        barred = self.connect(srv, greet=False)
        self.assertEqual(barred.line(), b"421 Too many failed logins from your address.\r\n")
        self.assertTrue(barred.closed())
        self.connect(srv, source="127.0.0.2").login("alice", "secret")

    def test_guessers_hold_at_most_half_the_slots(self):
        srv = self.serve(max_connections=6)
        guessers = [self.connect(srv) for _ in range(4)]
        for c in guessers:
            c.cmd("USER alice")
        since = len(srv.output())
        for c in guessers[:3]:  # all at once: each waits 1 s, then 2 s, for its two answers
            c.send("PASS wrong\r\nPASS again\r\n")
        srv.wait_for(re.compile(rb"(:PASS wrong\r\n.*){3}", re.S), since)
        guessers[3].talk([("PASS wrong", "421 Too many logins waiting for an answer; try again later.")])
        self.connect(srv, source="127.0.0.2").login("alice", "secret")
        self.assertEqual("".join(c.reply() for c in guessers[:3] for _ in range(2)), WRONG * 6)
