# Control connections over real sockets: greeting, framing, the login gate,
# connection limits, slots under concurrency; and the operator's console as an
# operator types it: start-up, the three views, its words, "clear" and "close".

import os
import re
import resource
import socket
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor

from harness import (WAIT, Client, ServerTest, Vostrine, config_text, free_port, listening, reset, server, user,
                     wait_until)
from replies import BYE, LOGGED_IN, LOGIN_FIRST, NOT_IMPLEMENTED, OK, SYNTAX, TOO_MANY_USERS


class Commands(ServerTest):
    def test_greeting_gate_and_echo(self):
        srv = self.serve(welcome="Hello there, friend")
        c = self.connect(srv)
        self.assertEqual(c.greeting, b"220 Hello there, friend\r\n")
        c.talk([("", SYNTAX), (" NOOP", SYNTAX), ("PWD\tx", SYNTAX), ("HELO", SYNTAX), ("X" * 40, SYNTAX),
                ("QUIT", LOGIN_FIRST), ("NOOP", LOGIN_FIRST), ("PWD", LOGIN_FIRST), ("LIST", LOGIN_FIRST),
                ("REST 0", LOGIN_FIRST), ("PASS x", "530 Not logged in, user or password incorrect!")])
        c.login("alice", "secret").talk([
            ("REST", NOT_IMPLEMENTED), ("REST 100", NOT_IMPLEMENTED), ("CDUP", NOT_IMPLEMENTED), ("abor", NOT_IMPLEMENTED),
            ("ABOR now", NOT_IMPLEMENTED), ("\r", SYNTAX), ("NOOP", OK), ("type  A ", "200 Type set to  A ")])
        srv.wait_for(":TYPE  A \r\n")  # the keyword upper-cased, the argument as sent
        srv.wait_for(":200 Type set to  A \r\n")

    def test_lines_split_over_receives_or_sharing_one(self):
        c = self.connect(self.serve())
        c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for piece in (b"US", b"ER al", b"ice\r", b"\nPA", b"SS secret\r\n", b"NOOP"):
            c.send(piece)
            time.sleep(0.05)
        self.assertEqual(c.reply() + c.reply(), "331 Password required for alice\r\n" + LOGGED_IN)
        self.assertFalse(c.closed(wait=0.3) or c.pending)  # no line end yet: nothing runs
        c.send(b"\r\nPWD\nNOOP\r\n")  # every line of one receive runs, in order; a bare LF ends one too
        self.assertEqual(c.reply() + c.reply() + c.reply(), OK + '257 "/" is current directory.\r\n' + OK)

    def test_long_lines(self):
        c = self.connect(self.serve())
        reply = c.cmd("USER " + "n" * 1018)  # 1023 characters is the longest line; its reply is cut to fit
        self.assertTrue(reply.startswith("331 Password required for nnn") and reply.endswith("n\r\n"), reply)
        self.assertLessEqual(len(reply), 1023)
        # 1024 characters is one too many, whether it comes at once or in pieces.
        c.send("USER " + "n" * 1019 + "\r\n")
        self.assertEqual(c.reply(), SYNTAX)
        c.send(b"x" * 3000)
        self.assertEqual(c.reply(), SYNTAX)
        c.send(b"y" * 5000 + b"\r\nUSER alice\r\n")
        self.assertEqual(c.reply(), "331 Password required for alice\r\n")
        c.talk([("PASS secret", LOGGED_IN)])
        self.assertTrue(c.cmd("TYPE " + "t" * 1018).endswith("t\r\n"))


class Limits(ServerTest):
    def test_server_limit_refuses_then_admits_again(self):
        refused = self.connect(self.serve(max_connections=0), greet=False)
        srv = self.serve(max_connections=2)
        first, second = self.connect(srv), self.connect(srv)
        third = self.connect(srv, greet=False)
        self.assertEqual([refused.line(), third.line()], [TOO_MANY_USERS] * 2)
        self.assertTrue(third.closed() and refused.closed())
        first.login("alice", "secret").talk([("QUIT", BYE)])
        self.assertTrue(first.closed())
        srv.wait_field("server", 0, "OnlineConnections", 1)
        self.assertEqual(self.connect(srv).greeting, b"220 Welcome!\r\n")
        second.talk([("USER alice", "331 Password required for alice")])

    def test_which_servers_listen(self):
        shared, high, off, other = free_port(), free_port(), free_port(), free_port()
        srv = Vostrine(self, servers=[server(shared, name="First"), server(shared, name="Second"),
                                      server(high + 65536, name="High"), server(off, name="Off", state=0),
                                      server(other, name="Two", state=2)], users=[user("alice", "secret")])
        srv.wait_for("Thread Closed. Bind socket error\n")
        for port in (shared, high):
            wait_until(lambda: listening(port), what="a listener on %d" % port)
            self.assertEqual(self.connect(port).greeting, b"220 Welcome!\r\n")
        self.assertEqual([listening(off), listening(other)], [False, False])
        states = [int(line.split(":")[1]) for line in srv.view("server").splitlines() if line.startswith("\tState:")]
        self.assertEqual(states, [0, 0, 0, 0, 2])
        self.assertEqual(srv.output().count(b"Thread Closed. Bind socket error\n"), 1)

    def test_a_listener_out_of_descriptors_keeps_its_port_and_recovers(self):
        srv = self.serve(max_connections=50)
        listener = srv.field("server", 0, "Socket")
        taken = {int(fd) for fd in os.listdir("/proc/%d/fd" % srv.process.pid)}
        lowest_free = min(set(range(len(taken) + 1)) - taken)
        # No descriptor left: accepting fails. The listening socket is kept
        # (closed, anyone on the host could take its port) and accepting pauses.
        soft, hard = resource.prlimit(srv.process.pid, resource.RLIMIT_NOFILE)
        resource.prlimit(srv.process.pid, resource.RLIMIT_NOFILE, (min(lowest_free, listener), hard))
        since, started = len(srv.output()), time.monotonic()
        while time.monotonic() - started < 2:  # clients keep coming
            try:
                socket.create_connection(("127.0.0.1", srv.port), timeout=WAIT).close()
            except OSError:
                pass
            self.assertTrue(listening(srv.port))
        out = srv.output()[since:]
        self.assertEqual(out.count(b" Server Socket "), 1, out)  # then quiet retries, no loop
        self.assertIn(b"0 Server Socket %d: out of descriptors, accepting paused.\n" % listener, out)
        resource.prlimit(srv.process.pid, resource.RLIMIT_NOFILE, (soft, hard))

        def greeted():  # served again once descriptors are free and the queued clients (gone) are taken
            try:
                return self.connect(srv).greeting == b"220 Welcome!\r\n"
            except (OSError, AssertionError):
                return False
        wait_until(greeted, what="a greeting")


class DropsAndShutdown(ServerTest):
    def test_close_with_clients_blocked_in_receive(self):
        srv = self.serve()
        clients = [self.connect(srv).login("alice", "secret") for _ in range(3)] + [self.connect(srv)]
        srv.type("close\n\n")  # and the pause's key
        self.assertEqual(srv.finish(), 0)
        self.assertEqual([(c.closed(), c.pending) for c in clients], [(True, b"")] * 4)  # nothing was sent to them

    def test_counts_return_to_zero_after_many_concurrent_clients(self):
        srv = self.serve(users=[user("alice", "secret", max_connections=100)], max_connections=100)

        def client(number):  # quits, vanishes while the server is replying, or closes
            with Client(srv.port).login("alice", "secret").sock as sock:
                if number % 3 == 0:
                    sock.sendall(b"QUIT\r\n")
                    return sock.recv(100) == BYE.encode()
                if number % 3 == 1:
                    sock.sendall(b"NOOP\r\nPWD\r\nNOOP\r\n")
                    reset(sock)
                return True

        with ThreadPoolExecutor(40) as pool:
            self.assertTrue(all(pool.map(client, range(120))))
        srv.wait_field("server", 0, "OnlineConnections", 0)
        self.assertEqual(srv.field("user", 0, "OnlineConnections"), 0)
        view = srv.view("conn")
        self.assertNotIn("InUsed:-1", view)
        self.assertLessEqual(int(view.split("\n")[0].split(":")[1]), 100)
        self.connect(srv).login("alice", "secret").talk([("NOOP", OK)])


class StartUp(ServerTest):
    def test_a_config_that_cannot_be_loaded_ends_the_program(self):
        # The loader's rules are unit-tested; here, what the operator sees: a
        # line naming what was refused, if anything, then "Load Data false...".
        for config, named in [(None, b""), ("2147483647\n", b"server count 2147483647"),
                              (config_text([], [user("bob", "sixteen-letters!")]), b"user 0 (bob) has a PassWord longer than 15")]:
            srv = Vostrine(self, config=config)
            out = srv.output() if srv.finish() == 0 else b"exit status %d" % srv.process.returncode
            self.assertTrue(named in out and out.endswith(b"Load Data false...") and out.count(b"\n") == bool(named), out)

    def test_start_up_lines_prompt_and_a_value_of_255_characters_ended_by_cr_lf(self):
        srv = Vostrine(self, config=config_text([server(free_port(), welcome="w" * 255)], []).replace("\n", "\r\n"))
        self.assertIn("\tWelcomeText:%s\n" % ("w" * 255), srv.view("server"))
        self.assertRegex(srv.output().decode(), r"^Host Name: .*\nLocal IP: \d+\.\d+\.\d+\.\d+\n"
                                                r"Press \"close\" Key to Quit \.\.\.\nVostrine>")


class Views(ServerTest):
    def test_views_byte_for_byte(self):
        port = free_port()
        srv = Vostrine(self, servers=[server(port, name="Alpha server name longer than nineteen", max_connections=7,
                                             welcome="Hi there", goodbye="See you", ip="10.0.0.1"),
                                      server(free_port(), name="Beta", state=2, max_connections=3)],
                       users=[user("alice", "secret", max_connections=4, enabled=65535, server_id=1),
                              user("grouped", "pw", group="staff"), user("anon")])
        text = srv.view("server")
        text = re.sub(r"\tThread:\d+\n\tSocket:-?\d+\n", "\tThread:<id>\n\tSocket:<fd>\n", text, count=1)
        self.assertEqual(text, "ServerCount:2\nServer[0]:\n\tState:0\n\tName:Alpha server name l\n\tIP::10.0.0.1\n"
                               "\tPort:%d\n\tMaxConnections:7\n\tOnlineConnections:0\n\tWelcomeText:Hi there\n"
                               "\tGoodByeText:See you\n\tThread:<id>\n\tSocket:<fd>\n"
                               "Server[1]:\n\tState:2\n\tName:Beta\n\tIP::\n\tPort:%d\n\tMaxConnections:3\n"
                               "\tOnlineConnections:0\n\tWelcomeText:Welcome!\n\tGoodByeText:Bye!\n\tThread:0\n\tSocket:0\n"
                         % (port, int(re.search(r"Server\[1\]:.*?Port:(\d+)", text, re.S).group(1))))
        self.assertEqual(srv.view("user"), "UserCount:3\n"
                         "User[0]:\n\tName:alice\n\tPassWord:secret\n\tServerID:1\n\tMaxConnections:4\n"
                         "\tOnlineConnections:0\n\tUserGroup:0\n\tEnabled:-1\n"
                         "User[1]:\n\tName:grouped\n\tPassWord:pw\n\tServerID:0\n\tMaxConnections:0\n"
                         "\tOnlineConnections:0\n\tUserGroup:0\n\tEnabled:1\n"
                         "User[2]:\n\tName:anon\n\tPassWord:\n\tServerID:0\n\tMaxConnections:5\n"
                         "\tOnlineConnections:0\n\tUserGroup:0\n\tEnabled:1\n")
        self.assertEqual(srv.view("conn"), "ConnectionCount:0\n")


class ConsoleWords(ServerTest):
    def test_words_as_an_operator_types_them(self):
        srv = self.serve()
        users = srv.view("user")
        since = len(srv.output())
        # "view close" shows nothing and does not stop; upper case and unknown
        # words are ignored; an over-long word is cut, not split into two words.
        srv.type("view close\nVIEW user\nview nothing\n" + "x" * 300 + "view\nview user clear\nview conn\n")
        srv.wait_for("ConnectionCount:0\nVostrine>", since)  # the last word's answer: every one before it is done
        out = srv.output()[since:].decode()
        self.assertEqual(out, "Vostrine>" * 5 + users + "Vostrine>Vostrine>ConnectionCount:0\nVostrine>")

    def test_close_discards_the_rest_of_its_line_then_pauses_and_the_end_of_input_stops_alike(self):
        srv, ended = self.serve(), self.serve()
        srv.type("close view user\n")
        srv.wait_for("Press Enter to continue . . .")
        self.assertRaises(subprocess.TimeoutExpired, srv.process.wait, 0.3)  # the pause waits for a line
        self.assertNotIn(b"UserCount", srv.output())
        srv.type("\n")
        ended.process.stdin.close()
        self.assertEqual([srv.finish(), ended.finish()], [0, 0])
        self.assertTrue(ended.output().endswith(b"Press Enter to continue . . ."))
