# Data connections over real sockets: PORT and PASV, LIST, RETR and STOR, the
# peer checks, and transfers that break off.

import os
import random
import re
import resource
import socket

from harness import WAIT, ServerTest, pasv_target, receive_all, reset, user, wait_until
from replies import (ABORTED, BAD_ARGUMENT, BYE, CANT_CREATE, COMPLETE, LIST_START, NO_DATA, NOT_FOUND, OK, OPENING,
                     PORT_OK)

F20000 = random.Random(1).randbytes(20000)


class TransferTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(users=[user("alice", "secret", max_connections=20)], max_connections=20,
                              files={"f20000.bin": F20000, "empty.txt": b"", "sub/inner.txt": b"inner",
                                     "with blanks.txt": b"12345"})
        self.c = self.connect(self.srv).login("alice", "secret")

    def listing(self, argument=""):
        text, replies = self.c.transfer(("LIST %s" % argument).rstrip())
        self.assertEqual(replies, LIST_START + COMPLETE)
        return text.decode()

    def names(self, argument=""):
        return sorted(line[59:] for line in self.listing(argument).split("\r\n") if line)

    def open_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.srv.process.pid))


class Transfers(TransferTest):
    def test_retr_and_stor_outcomes(self):
        up = random.Random(2).randbytes(300000)
        # (command, data connection, bytes to upload, bytes received, replies, (file, its bytes or None if absent))
        for command, via, upload, received, replies, afterwards in [
                ("RETR f20000.bin", "pasv", None, F20000, OPENING + COMPLETE, None),
                ("RETR f20000.bin", "port", None, F20000, OPENING + COMPLETE, None),
                ("RETR empty.txt", "port", None, b"", OPENING + COMPLETE, None),
                ("RETR missing.bin", "pasv", None, b"", NOT_FOUND, None),
                ("RETR sub", "pasv", None, b"", OPENING + "550 Can't open file.\r\n", None),
                ("RETR ../config", "pasv", None, b"", NOT_FOUND, None),
                ("STOR up.bin", "pasv", up, b"", OPENING + COMPLETE, ("up.bin", up)),
                ("STOR up.bin", "port", b"short", b"", OPENING + COMPLETE, ("up.bin", b"short")),
                ("STOR up.bin", "pasv", b"", b"", OPENING + COMPLETE, ("up.bin", b"")),
                ("STOR nowhere/x.bin", "pasv", b"data", b"", OPENING + CANT_CREATE, None),
                ("STOR sub", "port", b"data", b"", OPENING + CANT_CREATE, None),
                ("STOR ../escape.bin", "pasv", b"data", b"", CANT_CREATE, ("../escape.bin", None))]:
            with self.subTest(command=command, via=via):
                self.assertEqual(self.c.transfer(command, upload, via), (received, replies))
                if afterwards:
                    path = self.srv.path(afterwards[0])
                    self.assertEqual(self.srv.read(afterwards[0]) if os.path.exists(path) else None, afterwards[1])
        self.c.talk([("NOOP", OK)])

    def test_files_over_4_gib_full_disks_and_files_that_shrink(self):
        with open(self.srv.path("sparse.bin"), "wb") as f:
            f.truncate(5 * 1024 ** 3 + 3)
        self.c.talk([("SIZE sparse.bin", "213 5368709123")])
        self.assertIn("-r-xr-xr-x   1 owner    group      5368709123 ", self.listing("sparse.bin"))
        # A file size limit on the server makes its writes fail as a full disk would.
        _, hard = resource.prlimit(self.srv.process.pid, resource.RLIMIT_FSIZE)
        resource.prlimit(self.srv.process.pid, resource.RLIMIT_FSIZE, (1 << 20, hard))
        self.assertEqual(self.c.transfer("STOR big.bin", bytes(3 << 20))[1], OPENING + "452 Can't write file.\r\n")
        self.assertEqual(self.c.transfer("STOR fits.bin", b"small")[1], OPENING + COMPLETE)
        # A file that shrinks during RETR ends the transfer at its end, and says so.
        self.srv.put("shrinking.bin", b"s" * (64 << 20))
        data = self.c.pasv()
        self.c.talk([("RETR shrinking.bin", OPENING)])  # unread, the socket buffers fill and the server waits
        os.truncate(self.srv.path("shrinking.bin"), 1 << 20)
        received = len(receive_all(data))
        self.assertEqual(self.c.reply(), "451 Can't read file.\r\n")  # not the file that was asked for
        self.assertTrue((1 << 20) <= received < (64 << 20), received)


class DataConnections(TransferTest):
    def test_one_transfer_per_pasv_and_many_per_port(self):
        self.c.pasv().close()  # a listener that nobody uses is replaced by the next PASV
        self.assertEqual(self.c.transfer("RETR empty.txt"), (b"", OPENING + COMPLETE))
        self.c.talk([("RETR empty.txt", NO_DATA)])
        self.c.send("LIST\r\n")
        self.assertEqual(self.c.reply() + self.c.reply(), LIST_START + NO_DATA)
        listener = self.c.port()
        for _ in range(2):
            self.assertEqual(self.c.transfer("RETR with blanks.txt", via=listener), (b"12345", OPENING + COMPLETE))

    def test_port_refuses_bounces_and_garbage(self):
        illegal = "500 Illegal PORT command."
        self.c.talk([("STOR x", NO_DATA)] +  # before any PORT or PASV
                    [("PORT " + argument, reply) for argument, reply in (
                        ("10,0,0,1,200,1", illegal), ("127,0,0,2,200,1", illegal), ("127,0,0,1,0,21", illegal),
                        ("127,0,0,1,3,255", illegal), ("127,0,0,1,300,1", BAD_ARGUMENT), ("127,0,0,1", BAD_ARGUMENT),
                        ("", BAD_ARGUMENT), ("a,b,c,d,e,f", BAD_ARGUMENT))] +
                    [("RETR empty.txt", NO_DATA)])  # nothing was stored
        listener = self.c.port()  # then the same with numbers written with a plus sign
        self.c.talk([("PORT +127,+0,+0,+1,+%d,+%d" % divmod(listener.getsockname()[1], 256), PORT_OK)])
        self.assertEqual(self.c.transfer("RETR with blanks.txt", via=listener), (b"12345", OPENING + COMPLETE))

    def test_pasv_names_the_address_the_client_reached_and_keeps_the_port_for_it(self):
        for address in ("127.0.0.1", "127.0.0.2"):
            reply = self.connect(self.srv, host=address).login("alice", "secret").cmd("PASV")
            self.assertRegex(reply, r"^227 Entering Passive Mode \(%s,\d+,\d+\)\.\r\n$" % address.replace(".", ","))
        port = pasv_target(self.c.cmd("PASV"))[1]
        thief = socket.create_connection(("127.0.0.1", port), timeout=WAIT, source_address=("127.0.0.2", 0))
        self.addCleanup(thief.close)
        data = socket.create_connection(("127.0.0.1", port), timeout=WAIT)  # queued behind the thief
        self.assertEqual(self.c.transfer("RETR f20000.bin", via=data), (F20000, OPENING + COMPLETE))
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

    def test_arguments_and_a_large_directory(self):
        everything, sub = self.names(), [".", "..", "inner.txt"]
        for argument, names in (("-la", everything), ("-a -l", everything), ("sub", sub), ("-la sub", sub),
                                ("with blanks.txt", ["with blanks.txt"]), ("missing", [])):
            self.assertEqual(self.names(argument), names, argument)
        self.srv.wait_for(re.compile(rb">>\d+:>>\d+:226 Transfer complete"))  # the empty one is echoed too
        self.c.cmd("CWD sub")
        self.assertEqual((self.names(), self.names("/")), (sub, everything))
        self.c.talk([("LIST ../..", NOT_FOUND)])
        for i in range(2000):
            self.srv.put("sub/entry-with-a-rather-long-name-%04d.txt" % i, b"")
        self.assertEqual(len(self.names()), 2003)


class BrokenTransfers(TransferTest):
    def test_aborted_transfers_leave_everything_serving(self):
        self.srv.put("big.bin", bytes(64 << 20))
        self.assertEqual(self.c.transfer("STOR first.bin", b"1")[1], OPENING + COMPLETE)
        baseline = self.open_fds()  # the upload gave its pipe back
        other = self.connect(self.srv).login("alice", "secret")
        other.cmd("CWD /")
        per_connection = self.open_fds() - baseline
        self.assertEqual(per_connection, 2)  # an idle connection: its socket and its account's root
        data = self.c.begin("RETR big.bin")  # a download dropped half-way
        self.assertGreater(len(data.recv(65536)), 0)
        reset(data)
        self.assertEqual(self.c.reply() + self.c.reply(), OPENING + ABORTED)
        data = self.c.pasv()  # an upload dropped half-way
        self.c.talk([("STOR part.bin", OPENING)])
        data.sendall(b"x" * 100000)
        reset(data)
        self.assertEqual(self.c.reply(), ABORTED)
        for _ in range(5):  # data connections that are never used, or refused
            self.c.cmd("PASV")
        self.c.cmd("PORT 127,0,0,1,250,250")
        self.c.talk([("RETR big.bin", NO_DATA)])
        other.talk([("NOOP", OK)])
        self.assertEqual(self.c.transfer("RETR with blanks.txt")[0], b"12345")
        self.assertEqual(self.open_fds(), baseline + per_connection)  # only the other client's
        data = self.c.begin("RETR big.bin")  # a client that vanishes in the middle of a download
        data.recv(65536)
        reset(self.c.sock)
        reset(data)
        self.srv.wait_field("user", 0, "OnlineConnections", 1)
        other.talk([("QUIT", BYE)])
        self.srv.wait_field("server", 0, "OnlineConnections", 0)
        self.srv.wait_field("user", 0, "OnlineConnections", 0)
        wait_until(lambda: self.open_fds() == baseline - per_connection, what="every descriptor back")  # even our own

    def test_clear_ends_connections_idle_waiting_or_transferring(self):
        self.srv.put("big.bin", bytes(32 << 20))
        idle, greeted = self.connect(self.srv).login("alice", "secret"), self.connect(self.srv)
        waiting = self.connect(self.srv).login("alice", "secret")
        waiting.cmd("PASV")
        waiting.send("RETR big.bin\r\n")  # never connects: waits in the passive accept
        stalled = self.c.pasv()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.addCleanup(stalled.close)
        self.c.talk([("RETR big.bin", OPENING)])
        uploading = self.connect(self.srv).login("alice", "secret")
        up = uploading.pasv()
        self.addCleanup(up.close)
        uploading.talk([("STOR slow.bin", OPENING)])
        up.sendall(b"y" * 1000)
        states = re.findall(r"\tState:(\d+)\n", self.srv.view("conn"))
        self.assertTrue({"3", "4"} <= set(states), states)
        self.srv.type("clear\n")
        clients = (idle, greeted, waiting, self.c, uploading)
        self.assertEqual([(c.closed(), c.pending) for c in clients], [(True, b"")] * 5)  # no reply after the end
        self.srv.wait_field("server", 0, "OnlineConnections", 0)
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 0)
        self.assertEqual(self.srv.view("conn").count("\tInUsed:0\n"), 5)
        self.connect(self.srv).login("alice", "secret").talk([("NOOP", OK)])  # still accepting
        self.assertIn("\tInUsed:-1\n", self.srv.view("conn"))
