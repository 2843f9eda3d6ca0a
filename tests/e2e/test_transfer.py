# Data connections over real sockets: PORT and PASV, LIST, RETR and STOR, the
# peer checks, and transfers that break off.

import os
import random
import re
import resource
import socket
import time
import unittest

from harness import ServerTest, WAIT, pasv_target, receive_all, reset, user

OPENING = b"150 Opening BINARY mode data connection for file transfer.\r\n"
COMPLETE = b"226 Transfer complete.\r\n"
LIST_START = b"125 Data connection already open; Transfer starting.\r\n"
NO_DATA = b"425 Can't open data connection.\r\n"
ABORTED = b"426 Connection closed; transfer aborted.\r\n"
CANT_CREATE = b"550 Can't create file.\r\n"
F20000 = random.Random(1).randbytes(20000)


class TransferTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(users=[user("alice", "secret", max_connections=20)], max_connections=20,
                              files={"f20000.bin": F20000, "empty.txt": b"", "sub/inner.txt": b"inner",
                                     "with blanks.txt": b"12345"})
        self.c = self.connect(self.srv).login("alice", "secret")

    def data_command(self, command, mode="passive"):
        # Sends a transfer command over a fresh data connection; returns it.
        if mode == "passive":
            data = self.c.pasv()
            self.c.send(command + "\r\n")
            return data
        listener, argument = self.client_listener()
        self.assertEqual(self.c.cmd("PORT " + argument), "200 Port command successful\r\n")
        self.c.send(command + "\r\n")
        return listener.accept()[0]

    def transfer(self, command, mode="passive", upload=None):
        # Runs a transfer to its end; returns (bytes received, reply lines).
        data = self.data_command(command, mode)
        received = b""
        try:
            if upload is not None:
                data.sendall(upload)
                data.shutdown(socket.SHUT_WR)
            received = receive_all(data)
        except OSError:
            pass  # the server stopped the transfer; its reply says why
        lines = [self.c.line()]
        return received, lines + [self.c.line()] if lines[0] in (OPENING, LIST_START) else lines

    def listing(self, argument=""):
        text, lines = self.transfer(("LIST %s" % argument).rstrip())
        self.assertEqual(lines, [LIST_START, COMPLETE])
        return text.decode()

    def names(self, argument=""):
        return sorted(line[59:] for line in self.listing(argument).split("\r\n") if line)


class Transfers(TransferTest):
    def test_retr_and_stor_outcomes(self):
        up = random.Random(2).randbytes(300000)
        # (command, mode, bytes to upload, bytes received, reply lines, (file, its bytes or None if absent))
        cases = [
            ("RETR f20000.bin", "passive", None, F20000, [OPENING, COMPLETE], None),
            ("RETR f20000.bin", "active", None, F20000, [OPENING, COMPLETE], None),
            ("RETR empty.txt", "active", None, b"", [OPENING, COMPLETE], None),
            ("RETR missing.bin", "passive", None, b"", [b"550 File not found.\r\n"], None),
            ("RETR sub", "passive", None, b"", [OPENING, b"550 Can't open file.\r\n"], None),
            ("RETR ../config", "passive", None, b"", [b"550 File not found.\r\n"], None),
            ("STOR up.bin", "passive", up, b"", [OPENING, COMPLETE], ("up.bin", up)),
            ("STOR up.bin", "active", b"short", b"", [OPENING, COMPLETE], ("up.bin", b"short")),
            ("STOR up.bin", "passive", b"", b"", [OPENING, COMPLETE], ("up.bin", b"")),
            ("STOR nowhere/x.bin", "passive", b"data", b"", [OPENING, CANT_CREATE], None),
            ("STOR sub", "active", b"data", b"", [OPENING, CANT_CREATE], None),
            ("STOR ../escape.bin", "passive", b"data", b"", [CANT_CREATE], ("../escape.bin", None)),
        ]
        for command, mode, upload, received, replies, afterwards in cases:
            with self.subTest(command=command, mode=mode):
                self.assertEqual(self.transfer(command, mode, upload), (received, replies))
                if afterwards and afterwards[1] is None:
                    self.assertFalse(os.path.exists(self.srv.path(afterwards[0])))
                elif afterwards:
                    self.assertEqual(self.srv.read(afterwards[0]), afterwards[1])
        self.assertEqual(self.c.cmd("NOOP"), "200 OK\r\n")

    def test_a_file_over_4_gib_is_listed_and_sized(self):
        with open(self.srv.path("sparse.bin"), "wb") as f:
            f.truncate(5 * 1024 ** 3 + 3)
        self.assertEqual(self.c.cmd("SIZE sparse.bin"), "213 5368709123\r\n")
        self.assertIn("-r-xr-xr-x   1 owner    group      5368709123 ", self.listing("sparse.bin"))

    def test_a_failed_disk_write_is_reported(self):
        # A file size limit on the server makes its writes fail as a full disk would.
        _, hard = resource.prlimit(self.srv.process.pid, resource.RLIMIT_FSIZE)
        resource.prlimit(self.srv.process.pid, resource.RLIMIT_FSIZE, (1 << 20, hard))
        self.assertEqual(self.transfer("STOR big.bin", upload=bytes(3 << 20))[1], [OPENING, b"452 Can't write file.\r\n"])
        self.assertEqual(self.transfer("STOR fits.bin", upload=b"small")[1], [OPENING, COMPLETE])

    def test_a_file_that_shrinks_during_retr_ends_the_transfer_at_its_end_and_says_so(self):
        self.srv.put("shrinking.bin", b"s" * (64 << 20))
        data = self.data_command("RETR shrinking.bin")
        self.assertEqual(self.c.line(), OPENING)
        time.sleep(0.5)  # unread, the socket buffers fill and the server waits
        os.truncate(self.srv.path("shrinking.bin"), 1 << 20)
        received = len(receive_all(data))
        self.assertEqual(self.c.line(), b"451 Can't read file.\r\n")  # not the file that was asked for
        self.assertTrue((1 << 20) <= received < (64 << 20), received)


class DataConnections(TransferTest):
    def test_pasv_reply_names_the_address_the_client_reached(self):
        for address in ("127.0.0.1", "127.0.0.2"):
            reply = self.connect(self.srv, host=address).login("alice", "secret").cmd("PASV")
            self.assertRegex(reply, r"^227 Entering Passive Mode \(%s,\d+,\d+\)\.\r\n$" % address.replace(".", ","))

    def test_one_transfer_per_pasv_and_many_per_port(self):
        self.c.pasv().close()  # a listener that nobody uses is replaced by the next PASV
        self.assertEqual(self.transfer("RETR empty.txt"), (b"", [OPENING, COMPLETE]))
        self.assertEqual(self.c.cmd("RETR empty.txt"), NO_DATA.decode())
        self.c.send("LIST\r\n")
        self.assertEqual([self.c.line(), self.c.line()], [LIST_START, NO_DATA])
        listener, argument = self.client_listener()
        self.c.cmd("PORT " + argument)
        for _ in range(2):
            self.c.send("RETR with blanks.txt\r\n")
            self.assertEqual(receive_all(listener.accept()[0]), b"12345")
            self.assertEqual([self.c.line(), self.c.line()], [OPENING, COMPLETE])

    def test_port_refuses_bounces_and_garbage(self):
        self.assertEqual(self.c.cmd("STOR x"), NO_DATA.decode())  # before any PORT or PASV
        illegal, syntax = "500 Illegal PORT command.\r\n", "501 Syntax error in parameters or arguments.\r\n"
        for argument, reply in (("10,0,0,1,200,1", illegal), ("127,0,0,2,200,1", illegal), ("127,0,0,1,0,21", illegal),
                                ("127,0,0,1,3,255", illegal), ("127,0,0,1,300,1", syntax), ("127,0,0,1", syntax),
                                ("", syntax), ("a,b,c,d,e,f", syntax)):
            self.assertEqual(self.c.cmd("PORT " + argument), reply, argument)
        self.assertEqual(self.c.cmd("RETR empty.txt"), NO_DATA.decode())  # nothing was stored
        listener, argument = self.client_listener()  # numbers written with a plus sign are numbers
        self.assertEqual(self.c.cmd("PORT +" + argument.replace(",", ",+")), "200 Port command successful\r\n")
        self.c.send("RETR with blanks.txt\r\n")
        self.assertEqual(receive_all(listener.accept()[0]), b"12345")
        self.assertEqual([self.c.line(), self.c.line()], [OPENING, COMPLETE])

    def test_passive_port_is_kept_for_the_client(self):
        port = pasv_target(self.c.cmd("PASV"))[1]
        thief = socket.socket()
        thief.bind(("127.0.0.2", 0))
        thief.settimeout(WAIT)
        thief.connect(("127.0.0.1", port))
        self.addCleanup(thief.close)
        self.c.send("RETR f20000.bin\r\n")
        time.sleep(0.2)
        self.assertEqual(receive_all(socket.create_connection(("127.0.0.1", port), timeout=WAIT)), F20000)
        self.assertEqual([self.c.line(), self.c.line()], [OPENING, COMPLETE])
        self.assertEqual(thief.recv(10), b"")  # closed without a byte


class Listings(TransferTest):
    def test_every_entry_with_its_kind_size_and_date(self):
        # The columns are unit-tested; here, what the file system gives them.
        os.utime(self.srv.path("with blanks.txt"), (1141732800, 1141732800))
        text = self.listing()
        lines = {line[59:]: line for line in text.split("\r\n") if line}
        self.assertTrue(text.endswith("\r\n"))
        self.assertEqual(sorted(lines), [".", "..", "empty.txt", "f20000.bin", "sub", "with blanks.txt"])
        self.assertEqual(lines["with blanks.txt"], "-r-xr-xr-x   1 owner    group               5 Mar 07  2006 with blanks.txt")
        self.assertTrue(lines["sub"].startswith("dr-xr-xr-x   1 owner    group               0 "))
        self.assertTrue(lines["f20000.bin"].startswith("-r-xr-xr-x   1 owner    group           20000 "))

    def test_arguments(self):
        everything, sub = self.names(), [".", "..", "inner.txt"]
        for argument, names in (("-la", everything), ("-a -l", everything), ("sub", sub), ("-la sub", sub),
                                ("with blanks.txt", ["with blanks.txt"]), ("missing", [])):
            self.assertEqual(self.names(argument), names, argument)
        self.srv.wait_for(re.compile(rb">>\d+:>>\d+:226 Transfer complete"))  # the empty one is echoed too
        self.c.cmd("CWD sub")
        self.assertEqual((self.names(), self.names("/")), (sub, everything))
        self.assertEqual(self.c.cmd("LIST ../.."), "550 File not found.\r\n")

    def test_a_large_directory_is_listed_completely(self):
        for i in range(2000):
            self.srv.put("sub/entry-with-a-rather-long-name-%04d.txt" % i, b"")
        self.assertEqual(len(self.names("sub")), 2003)


class BrokenTransfers(TransferTest):
    def open_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.srv.process.pid))

    def test_aborted_transfers_leave_everything_serving(self):
        self.srv.put("big.bin", bytes(64 << 20))
        self.assertEqual(self.transfer("STOR first.bin", upload=b"1")[1], [OPENING, COMPLETE])
        baseline = self.open_fds()  # the upload gave its pipe back
        other = self.connect(self.srv).login("alice", "secret")
        other.cmd("CWD /")
        per_connection = self.open_fds() - baseline
        self.assertEqual(per_connection, 2)  # an idle connection: its socket and its account's root
        data = self.data_command("RETR big.bin")  # a download dropped half-way
        self.assertGreater(len(data.recv(65536)), 0)
        reset(data)
        self.assertEqual([self.c.line(), self.c.line()], [OPENING, ABORTED])
        data = self.data_command("STOR part.bin")  # an upload dropped half-way
        self.assertEqual(self.c.line(), OPENING)
        data.sendall(b"x" * 100000)
        time.sleep(0.2)
        reset(data)
        self.assertEqual(self.c.line(), ABORTED)
        for _ in range(5):  # data connections that are never used, or refused
            self.c.cmd("PASV")
        self.c.cmd("PORT 127,0,0,1,250,250")
        self.assertEqual(self.c.cmd("RETR big.bin"), NO_DATA.decode())
        self.assertEqual(other.cmd("NOOP"), "200 OK\r\n")
        self.assertEqual(self.transfer("RETR with blanks.txt")[0], b"12345")
        self.assertEqual(self.open_fds(), baseline + per_connection)  # only the other client's
        data = self.data_command("RETR big.bin")  # a client that vanishes in the middle of a download
        data.recv(65536)
        reset(self.c.sock)
        reset(data)
        self.srv.wait_field("user", 0, "OnlineConnections", 1)
        self.assertEqual(other.cmd("QUIT"), "221 Bye!\r\n")
        self.srv.wait_field("server", 0, "OnlineConnections", 0)
        self.srv.wait_field("user", 0, "OnlineConnections", 0)
        gone = baseline - per_connection  # not even our own connection's
        deadline = time.monotonic() + WAIT
        while self.open_fds() != gone and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(self.open_fds(), gone)

    def test_clear_ends_connections_idle_waiting_or_transferring(self):
        self.srv.put("big.bin", bytes(32 << 20))
        idle, greeted = self.connect(self.srv).login("alice", "secret"), self.connect(self.srv)
        waiting = self.connect(self.srv).login("alice", "secret")
        waiting.cmd("PASV")
        waiting.send("RETR big.bin\r\n")  # never connects: waits in the passive accept
        stalled = self.data_command("RETR big.bin")
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.addCleanup(stalled.close)
        self.assertEqual(self.c.line(), OPENING)
        uploading = self.connect(self.srv).login("alice", "secret")
        up = uploading.pasv()
        self.addCleanup(up.close)
        uploading.send("STOR slow.bin\r\n")
        self.assertEqual(uploading.line(), OPENING)
        up.sendall(b"y" * 1000)
        states = re.findall(r"\tState:(\d+)\n", self.srv.view("conn"))
        self.assertTrue({"3", "4"} <= set(states), states)
        self.srv.type("clear\n")
        for client in (idle, greeted, waiting, self.c, uploading):
            self.assertTrue(client.closed())
            self.assertEqual(client.pending, b"")  # no final reply after the connection was ended
        self.srv.wait_field("server", 0, "OnlineConnections", 0)
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 0)
        self.assertEqual(self.srv.view("conn").count("\tInUsed:0\n"), 5)
        self.assertEqual(self.connect(self.srv).login("alice", "secret").cmd("NOOP"), "200 OK\r\n")  # still accepting
        self.assertIn("\tInUsed:-1\n", self.srv.view("conn"))


if __name__ == "__main__":
    unittest.main()
