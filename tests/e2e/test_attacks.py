# What a hostile client or a local user tries against the extensions and the
# operations: setuid files, listings that look outside the root, names that
# forge replies, a resumed upload far past a file's end, hoarded passive
# ports, injected clear text around AUTH TLS, log lines a reader cannot
# trust, and guessing passwords faster than the pause allows. (Stolen FTPS
# data connections: test_tls.py; a listener out of descriptors: test_control.py.)

import os
import re
import shutil
import socket
import ssl
import tempfile
import time
import unittest

from harness import ServerTest, WAIT, certificate, receive_all, reset, user, wait_until

EXT = ["--extensions"]
WRONG = b"530 Not logged in, user or password incorrect.\r\n"


def content(path):
    with open(path, "rb") as f:
        return f.read()


def lines_of(data):
    return receive_all(data).decode(errors="replace").split("\r\n")[:-1]


class Chmod(ServerTest):
    def test_only_permission_bits_and_never_the_root(self):
        srv = self.serve(args=EXT, files={"pub/tool": b"\x7fELF", "pub/dir/": None})
        c = self.connect(srv).login("alice", "secret")
        special = "550 SITE CHMOD sets only the permission bits (000 to 777).\r\n"
        root = "550 SITE CHMOD cannot change the root directory.\r\n"
        for line, reply in (("SITE CHMOD 4755 pub/tool", special), ("SITE CHMOD 6755 pub/tool", special),
                            ("SITE CHMOD 2755 pub/tool", special), ("SITE CHMOD 7777 pub/tool", special),
                            ("SITE CHMOD 1777 pub/dir", special), ("SITE CHMOD 0000 /", root),
                            ("SITE CHMOD 777 /", root), ("SITE CHMOD 700 pub/..", root),
                            ("SITE CHMOD 0750 pub/tool", "200 SITE CHMOD command successful.\r\n")):
            self.assertEqual(c.cmd(line), reply, line)
        self.assertEqual(os.stat(srv.path("pub/tool")).st_mode & 0o7777, 0o750)
        self.assertEqual(os.stat(srv.path("pub/dir")).st_mode & 0o7000, 0)
        self.assertEqual(os.stat(srv.root).st_mode & 0o7777, 0o755)


class LinksInListings(ServerTest):
    # Links from the root to a private file and folder outside it, a dangling
    # link, and a link that stays inside: only the last is followed.
    def setUp(self):
        def prepare(work):
            outside = os.path.join(work, "outside")
            os.makedirs(os.path.join(outside, "private"))
            with open(os.path.join(outside, "shadow"), "wb") as f:
                f.write(b"s" * 12345)
            os.chmod(os.path.join(outside, "shadow"), 0o600)
            os.chmod(os.path.join(outside, "private"), 0o700)
            root = os.path.join(work, "root")
            os.symlink(os.path.join(outside, "shadow"), os.path.join(root, "to-shadow"))
            os.symlink("../outside/private", os.path.join(root, "to-private"))
            os.symlink("/nonexistent/probe", os.path.join(root, "dangling"))
            os.symlink("inside.txt", os.path.join(root, "to-inside"))

        self.files = {"inside.txt": b"i" * 77}
        self.prepare = prepare

    def listing(self, c, command):
        data = c.pasv()
        c.send(command + "\r\n")
        entries = {line.rsplit(" ", 1)[-1]: line for line in lines_of(data)}
        self.assertEqual((c.line()[:3], c.line()), (b"125", b"226 Transfer complete.\r\n"))
        return entries

    def test_links_leading_outside_are_described_as_links(self):
        for args in (EXT, []):
            srv = self.serve(args=args, files=self.files, prepare=self.prepare)
            c = self.connect(srv).login("alice", "secret")
            entries = self.listing(c, "LIST /")
            self.assertNotIn("12345", entries["to-shadow"])
            self.assertIn(" 77 ", entries["to-inside"])
            if not args:
                continue
            for name in ("to-shadow", "to-private", "dangling"):
                self.assertTrue(entries[name].startswith("lrwxrwxrwx"), entries[name])
            self.assertTrue(entries["to-inside"].startswith("-rw-"), entries["to-inside"])
            facts = self.listing(c, "MLSD /")
            for name in ("to-shadow", "to-private", "dangling"):
                self.assertTrue(facts[name].startswith("type=OS.unix=symlink;modify="), facts[name])
                self.assertIn("perm=;", facts[name])
            self.assertTrue(facts["to-inside"].startswith("type=file;size=77;"), facts["to-inside"])
            # The root's parent is the root: nothing of the folder above it shows.
            strip = lambda line: re.sub(r"type=\w+;", "", line).rsplit(" ", 1)[0]
            self.assertEqual(strip(facts[".."]), strip(facts["."]))
            stat = c.cmd("STAT /")
            while not stat.endswith("213 End of status.\r\n"):
                stat += c.line().decode()
            self.assertNotIn("12345", stat)
            self.assertNotIn("drwx------", stat)


class NamesThatBreakLines(ServerTest):
    def test_a_name_with_line_ends_forges_no_reply(self):
        evil = "evil\r\n213 End of status.\r\n250 fake"
        srv = self.serve(args=EXT, files={"pub/" + evil: b"x", "pub/plain.txt": b"y"})
        c = self.connect(srv).login("alice", "secret")
        c.send("STAT pub\r\n")
        lines = [c.line()]
        while not lines[-1].startswith(b"213 "):
            lines.append(c.line())
        self.assertEqual(lines[-1], b"213 End of status.\r\n")
        self.assertTrue(any(line.endswith(b" plain.txt\r\n") for line in lines), lines)
        self.assertEqual(c.cmd("NOOP"), "200 OK\r\n")  # nothing forged is left to read
        for command in ("LIST pub", "NLST pub", "MLSD pub"):
            data = c.pasv()
            c.send(command + "\r\n")
            listed = receive_all(data)
            self.assertNotIn(b"fake", listed, command)
            self.assertIn(b"plain.txt", listed)
            self.assertEqual((c.line()[:3], c.line()), (b"125", b"226 Transfer complete.\r\n"))


class RestartBeyondTheEnd(ServerTest):
    def test_a_resumed_upload_starts_within_the_file(self):
        srv = self.serve(args=EXT, files={"ten.bin": b"0123456789"})
        c = self.connect(srv).login("alice", "secret")
        for name, offset, reply, expected in (("ten.bin", 1 << 40, b"554", b"0123456789"),
                                             ("new.bin", 5, b"554", None),
                                             ("ten.bin", 10, b"226", b"0123456789+")):
            c.cmd("TYPE I")
            c.cmd("REST %d" % offset)
            data = c.pasv()
            c.send("STOR %s\r\n" % name)
            data.sendall(b"+")
            data.close()
            line = c.line()
            if line.startswith(b"150"):
                line = c.line()
            self.assertEqual(line[:3], reply, (name, offset, line))
            path = srv.path(name)
            self.assertEqual(content(path) if os.path.exists(path) else None, expected)


class PassivePorts(ServerTest):
    def test_one_address_holds_a_quarter_of_the_range(self):
        low = 20000 + os.getpid() % 20000
        srv = self.serve(args=EXT + ["--passive-ports", "%d-%d" % (low, low + 9)], max_connections=20,
                         users=[user("alice", "secret", max_connections=10)])
        held = [self.connect(srv).login("alice", "secret") for _ in range(3)]
        self.assertEqual([c.cmd("EPSV")[:3] for c in held], ["229", "229", "425"])  # 10 ports: 2 each
        self.assertEqual(held[2].cmd("PASV"), "425 Too many passive ports held from your address.\r\n")
        self.assertEqual(held[0].cmd("EPSV")[:3], "229")  # a new one replaces the connection's own
        other = self.connect(srv, source="127.0.0.2").login("alice", "secret")
        self.assertEqual(other.cmd("EPSV")[:3], "229")
        held[0].cmd("QUIT")
        wait_until(lambda: held[2].cmd("EPSV")[:3] == "229", what="a port given back")


class AuthTlsState(ServerTest):
    def tls_server(self):
        cert, key = certificate()
        return self.serve(args=["--tls-cert", cert, "--tls-key", key], files={"big.bin": bytes(8 << 20)})

    def handshake(self, c):
        context = ssl.create_default_context()
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        c.sock = context.wrap_socket(c.sock)

    def test_nothing_sent_in_clear_survives_the_handshake(self):
        srv = self.tls_server()
        c = self.connect(srv)
        c.send(b"AUTH TLS\r\n\xff\xfa")  # an unfinished Telnet subnegotiation
        self.assertEqual(c.line(), b"234 AUTH TLS successful.\r\n")
        self.handshake(c)
        self.assertEqual(c.cmd("USER alice"), "331 Password required for alice\r\n")
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.send("RETR big.bin\r\n")
        self.assertEqual(c.line()[:3], b"150")
        c.send("AUTH TLS\r\nMKD injected\r\n")  # while the transfer runs, in clear
        self.assertEqual(len(receive_all(data)), 8 << 20)
        self.assertEqual([c.line(), c.line()], [b"226 Transfer complete.\r\n", b"234 AUTH TLS successful.\r\n"])
        self.handshake(c)
        self.assertEqual(c.cmd("NOOP"), "200 OK\r\n")
        self.assertFalse(os.path.exists(srv.path("injected")))


class LogLines(ServerTest):
    def test_names_are_escaped_and_the_address_is_kept(self):
        logs = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, logs, True)
        auth, xferlog = os.path.join(logs, "auth.log"), os.path.join(logs, "xferlog")
        srv = self.serve(args=EXT + ["--auth-log", auth, "--xferlog", xferlog])
        for name, shown in ((b"a\x0bb", r"a\x0bb"), (b"nb\xc2\xa0sp", r"nb\xc2\xa0sp"), (b"bob smith", r"bob\x20smith"),
                            (b"back\\x20", r"back\x5cx20"), (b"ls\xe2\x80\xa8", r"ls\xe2\x80\xa8")):
            c = self.connect(srv)
            c.send(b"USER " + name + b"\r\n")
            c.line()
            c.send(b"PASS x\r\n")
            reset(c.sock)  # gone before the answer
            srv.wait_for(b"PASS")
            wait_until(lambda: shown.encode() in content(auth), what=shown)
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.send("STOR my file.txt\r\n")
        data.sendall(b"content")
        data.close()
        c.line(), c.line()
        c.cmd("QUIT")
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
            if leave is not reset:
                self.assertTrue(c.closed())  # an orderly close ends the pause too, without an answer
                self.assertEqual(c.pending, b"")
        srv.wait_field("server", 0, "OnlineConnections", 0)  # each noted as abandoned first
        for host in (None, None, "127.0.0.2"):
            c = self.guess(srv, "secret", host=host)
            c.sock.settimeout(0.5)
            if host is None:  # three abandoned attempts: the right password waits too
                self.assertRaises(socket.timeout, c.line)
            c.sock.settimeout(WAIT)
            self.assertEqual(c.line(), b"230 User successfully logged in.\r\n")

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
        since = srv.mark()
        for c in guessers[:3]:  # all at once: each waits 1 s, then 2 s, for its two answers
            c.send("PASS wrong\r\nPASS again\r\n")
        srv.wait_for(re.compile(rb"(:PASS wrong\r\n.*){3}", re.S), since)
        guessers[3].send("PASS wrong\r\n")
        self.assertEqual(guessers[3].line(), b"421 Too many logins waiting for an answer; try again later.\r\n")
        self.connect(srv, source="127.0.0.2").login("alice", "secret")
        self.assertEqual([c.line() for c in guessers[:3] for _ in range(2)], [WRONG] * 6)


if __name__ == "__main__":
    unittest.main()
