# Control connections over real sockets: greeting, framing, the login gate,
# connection limits, slots under concurrency, "clear" and "close".

import os
import resource
import socket
import threading
import time
import unittest

from harness import Client, ServerTest, Vostrine, WAIT, free_port, listening, reset, server, user


class GreetingAndGate(ServerTest):
    def test_greeting_gate_and_echo(self):
        srv = self.serve(welcome="Hello there, friend")
        c = self.connect(srv)
        self.assertEqual(c.greeting, b"220 Hello there, friend\r\n")
        syntax, login = "500 Syntax error, command unrecognized.\r\n", "530 Please login with USER and PASS.\r\n"
        not_implemented = "500 Command not implemented.\r\n"
        before = [("", syntax), (" NOOP", syntax), ("PWD\tx", syntax), ("HELO", syntax), ("X" * 40, syntax),
                  ("QUIT", login), ("NOOP", login), ("PWD", login), ("LIST", login), ("REST 0", login),
                  ("PASS x", "530 Not logged in, user or password incorrect!\r\n")]
        after = [("REST", not_implemented), ("REST 100", not_implemented), ("CDUP", not_implemented),
                 ("abor", not_implemented), ("ABOR now", not_implemented), ("\r", syntax), ("NOOP", "200 OK\r\n"),
                 ("type  A ", "200 Type set to  A \r\n")]
        for line, reply in before:
            self.assertEqual(c.cmd(line), reply, line)
        c.login("alice", "secret")
        for line, reply in after:
            self.assertEqual(c.cmd(line), reply, line)
        # The keyword upper-cased, the argument as sent.
        srv.wait_for(":TYPE  A \r\n")
        srv.wait_for(":200 Type set to  A \r\n")


class Framing(ServerTest):
    def test_lines_split_over_receives_or_sharing_one(self):
        srv = self.serve()
        c = self.connect(srv)
        c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for piece in (b"US", b"ER al", b"ice\r", b"\nPA", b"SS secret\r\n"):
            c.send(piece)
            time.sleep(0.05)
        self.assertEqual(c.line(), b"331 Password required for alice\r\n")
        self.assertEqual(c.line(), b"230 User successfully logged in.\r\n")
        c.send(b"NOOP")
        c.sock.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            c.line()  # no line end yet: nothing runs
        c.sock.settimeout(WAIT)
        c.send(b"\r\nPWD\nNOOP\r\n")  # every line of one receive runs, in order; a bare LF ends one too
        self.assertEqual([c.line() for _ in range(3)], [b"200 OK\r\n", b"257 \"/\" is current directory.\r\n", b"200 OK\r\n"])

    def test_long_lines(self):
        srv = self.serve()
        c = self.connect(srv)
        syntax = b"500 Syntax error, command unrecognized.\r\n"
        # 1023 characters is the longest line; its reply is cut to fit, line end kept.
        longest = "USER " + "n" * 1018
        reply = c.cmd(longest).encode()
        self.assertTrue(reply.startswith(b"331 Password required for nnn"), reply)
        self.assertTrue(reply.endswith(b"n\r\n"))
        self.assertLessEqual(len(reply), 1023)
        # 1024 characters is one too many, whether it comes at once or in pieces.
        c.send("USER " + "n" * 1019 + "\r\n")
        self.assertEqual(c.line(), syntax)
        c.send(b"x" * 3000)
        self.assertEqual(c.line(), syntax)
        c.send(b"y" * 5000 + b"\r\nUSER alice\r\n")
        self.assertEqual(c.line(), b"331 Password required for alice\r\n")
        self.assertEqual(c.cmd("PASS secret"), "230 User successfully logged in.\r\n")
        c.send("TYPE " + "t" * 1018 + "\r\n")
        self.assertTrue(c.line().endswith(b"t\r\n"))


class Limits(ServerTest):
    def test_server_limit_refuses_then_admits_again(self):
        refused = self.connect(self.serve(max_connections=0), greet=False)
        self.assertEqual(refused.line(), b"502 Too many users on this server.\n")
        srv = self.serve(max_connections=2)
        first, second = self.connect(srv), self.connect(srv)
        third = self.connect(srv, greet=False)
        self.assertEqual(third.line(), b"502 Too many users on this server.\n")
        self.assertTrue(third.closed() and refused.closed())
        self.assertEqual(first.login("alice", "secret").cmd("QUIT"), "221 Bye!\r\n")
        self.assertTrue(first.closed())
        srv.wait_field("server", 0, "OnlineConnections", 1)
        self.assertEqual(self.connect(srv).greeting, b"220 Welcome!\r\n")
        self.assertEqual(second.cmd("USER alice"), "331 Password required for alice\r\n")

    def test_the_101st_connection_is_refused(self):
        srv = self.serve(max_connections=500)
        clients = [self.connect(srv) for _ in range(100)]
        extra = self.connect(srv, greet=False)
        self.assertEqual(extra.line(), b"502 Too many users on this server.\n")
        self.assertTrue(extra.closed())
        self.assertEqual(clients[99].cmd("USER x"), "331 Password required for x\r\n")
        clients[0].close()
        srv.wait_field("server", 0, "OnlineConnections", 99)
        self.assertEqual(self.connect(srv).greeting, b"220 Welcome!\r\n")


class Listeners(ServerTest):
    def test_which_servers_listen(self):
        shared, high, off, other = free_port(), free_port(), free_port(), free_port()
        servers = [server(shared, name="First"), server(shared, name="Second"),
                   server(high + 65536, name="High"), server(off, name="Off", state=0),
                   server(other, name="Two", state=2)]
        srv = Vostrine(self, servers=servers, users=[user("alice", "secret")])
        srv.wait_for("Thread Closed. Bind socket error\n")
        srv.wait_listening(shared)
        srv.wait_listening(high)
        for port in (shared, high):
            c = Client(port)
            self.addCleanup(c.close)
            self.assertEqual(c.greeting, b"220 Welcome!\r\n")
        time.sleep(0.2)
        self.assertFalse(socket_accepts(off))
        self.assertFalse(socket_accepts(other))
        view = srv.view("server")
        states = [int(line.split(":")[1]) for line in view.splitlines() if line.startswith("\tState:")]
        self.assertEqual(states, [0, 0, 0, 0, 2])
        self.assertEqual(srv.output().count(b"Thread Closed. Bind socket error\n"), 1)


class AcceptFailures(ServerTest):
    def test_a_listener_out_of_descriptors_keeps_its_port_and_recovers(self):
        srv = self.serve(max_connections=50)
        listener = srv.field("server", 0, "Socket")
        taken = {int(fd) for fd in os.listdir("/proc/%d/fd" % srv.process.pid)}
        lowest_free = min(set(range(len(taken) + 1)) - taken)
        # No descriptor left: accepting fails. The listening socket is kept
        # (closed, anyone on the host could take its port) and accepting pauses.
        soft, hard = resource.prlimit(srv.process.pid, resource.RLIMIT_NOFILE)
        resource.prlimit(srv.process.pid, resource.RLIMIT_NOFILE, (min(lowest_free, listener), hard))
        since = srv.mark()
        started = time.monotonic()
        while time.monotonic() - started < 2:  # clients keep coming
            try:
                socket.create_connection(("127.0.0.1", srv.port), timeout=WAIT).close()
            except OSError:
                pass
            self.assertTrue(listening(srv.port))
            time.sleep(0.02)
        out = srv.output()[since:]
        self.assertEqual(out.count(b" Server Socket "), 1, out)  # then quiet retries, no loop
        self.assertIn(b"0 Server Socket %d: out of descriptors, accepting paused.\n" % listener, out)
        self.assertNotIn(b"Restart it", out)
        resource.prlimit(srv.process.pid, resource.RLIMIT_NOFILE, (soft, hard))
        deadline = time.monotonic() + WAIT
        while True:  # served again once descriptors are free and the queued clients (gone) are taken
            try:
                late = Client(srv.port)
                self.addCleanup(late.close)
                if late.greeting == b"220 Welcome!\r\n":
                    break
            except (OSError, AssertionError):
                pass
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)


def socket_accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


class DropsAndShutdown(ServerTest):
    def test_close_with_clients_blocked_in_receive(self):
        srv = self.serve()
        clients = [self.connect(srv).login("alice", "secret") for _ in range(3)]
        clients.append(self.connect(srv))
        started = time.monotonic()
        srv.type("close\n\n")  # and the pause's key
        self.assertEqual(srv.finish(), 0)
        self.assertLess(time.monotonic() - started, WAIT)
        for c in clients:
            self.assertTrue(c.closed())
            self.assertEqual(c.pending, b"")  # nothing was sent to them

    def test_counts_return_to_zero_after_many_concurrent_clients(self):
        srv = self.serve(users=[user("alice", "secret", max_connections=100)], max_connections=100)
        errors = []

        def client(number):
            c = None
            try:
                c = Client(srv.port)
                c.login("alice", "secret")
                if number % 3 == 0:
                    assert c.cmd("QUIT") == "221 Bye!\r\n"
                    assert c.closed()
                elif number % 3 == 1:
                    c.send(b"NOOP\r\nPWD\r\nNOOP\r\n")
                    reset(c.sock)  # vanishes while the server is replying
                else:
                    c.close()
            except Exception as failure:  # reported below, with the others
                errors.append(failure)
            finally:
                if c is not None:
                    c.close()

        for _ in range(3):
            threads = [threading.Thread(target=client, args=(n,)) for n in range(40)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        self.assertEqual(errors, [])
        srv.wait_field("server", 0, "OnlineConnections", 0)
        self.assertEqual(srv.field("user", 0, "OnlineConnections"), 0)
        view = srv.view("conn")
        self.assertNotIn("InUsed:-1", view)
        self.assertLessEqual(int(view.split("\n")[0].split(":")[1]), 100)
        self.assertEqual(self.connect(srv).login("alice", "secret").cmd("NOOP"), "200 OK\r\n")


if __name__ == "__main__":
    unittest.main()
