"""Data connections over real sockets: PORT and PASV, LIST, RETR and STOR, the
peer checks, and transfers that break off."""

import os
import random
import re
import resource
import socket
import struct
import time
import unittest

from harness import Client, ServerTest, WAIT, receive_all, user

OPENING = b"150 Opening BINARY mode data connection for file transfer.\r\n"
COMPLETE = b"226 Transfer complete.\r\n"
LIST_START = b"125 Data connection already open; Transfer starting.\r\n"
NO_DATA = b"425 Can't open data connection.\r\n"
ABORTED = b"426 Connection closed; transfer aborted.\r\n"


def random_bytes(size, seed=1):
    return random.Random(seed).randbytes(size)


def reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class TransferTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(users=[user("alice", "secret", max_connections=20)], max_connections=20,
                              files={"f20000.bin": random_bytes(20000), "empty.txt": b"",
                                     "sub/inner.txt": b"inner", "with blanks.txt": b"12345"})
        self.c = self.connect(self.srv).login("alice", "secret")

    def active(self, client=None):
        """Sends PORT for a fresh listening socket of the client; returns it."""
        client = client or self.c
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.settimeout(WAIT)
        self.addCleanup(listener.close)
        port = listener.getsockname()[1]
        self.assertEqual(client.cmd("PORT 127,0,0,1,%d,%d" % (port // 256, port % 256)),
                         "200 Port command successful\r\n")
        return listener

    def data_command(self, command, mode):
        """Sends a transfer command over a fresh data connection; returns the connection."""
        if mode == "passive":
            data = self.c.pasv()
            self.c.send(command + "\r\n")
            return data
        listener = self.active()
        self.c.send(command + "\r\n")
        return listener.accept()[0]

    def final_replies(self):
        """The transfer's reply lines: the 150 line, if any, and the one after it."""
        lines = [self.c.line()]
        return lines + [self.c.line()] if lines[0] == OPENING else lines

    def retr(self, name, mode="passive"):
        """Downloads a file; returns (bytes, reply lines)."""
        content = receive_all(self.data_command("RETR " + name, mode))
        return content, self.final_replies()

    def stor(self, name, content, mode="passive"):
        """Uploads bytes; returns the reply lines."""
        data = self.data_command("STOR " + name, mode)
        try:
            data.sendall(content)
        except (ConnectionResetError, BrokenPipeError):
            pass  # the server stopped reading; its reply says why
        data.close()
        return self.final_replies()

    def listing(self, argument=""):
        data = self.c.pasv()
        self.c.send(("LIST %s" % argument).rstrip() + "\r\n")
        self.assertEqual(self.c.line(), LIST_START)
        text = receive_all(data).decode()
        self.assertEqual(self.c.line(), COMPLETE)
        return text

    def names(self, listing):
        return sorted(line[59:] for line in listing.split("\r\n") if line)


class Downloads(TransferTest):
    def test_retr_both_modes(self):
        for mode in ("passive", "active"):
            with self.subTest(mode=mode):
                content, lines = self.retr("f20000.bin", mode)
                self.assertEqual(content, random_bytes(20000))
                self.assertEqual(lines, [OPENING, COMPLETE])
                content, lines = self.retr("empty.txt", mode)
                self.assertEqual((content, lines), (b"", [OPENING, COMPLETE]))

    def test_retr_failures(self):
        content, lines = self.retr("missing.bin")
        self.assertEqual((content, lines), (b"", [b"550 File not found.\r\n"]))
        content, lines = self.retr("sub")
        self.assertEqual((content, lines), (b"", [OPENING, b"550 Can't open file.\r\n"]))
        content, lines = self.retr("../config")
        self.assertEqual((content, lines), (b"", [b"550 File not found.\r\n"]))
        self.assertEqual(self.c.cmd("NOOP"), "200 OK\r\n")

    def test_retr_from_another_directory_and_by_root_path(self):
        self.c.cmd("CWD sub")
        self.assertEqual(self.retr("/f20000.bin")[0], random_bytes(20000))
        self.assertEqual(self.retr("inner.txt")[0], b"inner")

    def test_retr_of_a_file_over_4_gib_is_listed_and_sized(self):
        with open(self.srv.path("sparse.bin"), "wb") as f:
            f.truncate(5 * 1024 ** 3 + 3)
        self.assertEqual(self.c.cmd("SIZE sparse.bin"), "213 5368709123\r\n")
        self.assertIn("-r-xr-xr-x   1 owner    group      5368709123 ", self.listing("sparse.bin"))


class Uploads(TransferTest):
    def test_stor_both_modes_and_replacing(self):
        for mode in ("passive", "active"):
            with self.subTest(mode=mode):
                content = random_bytes(300000, seed=len(mode))
                self.assertEqual(self.stor("up.bin", content, mode), [OPENING, COMPLETE])
                self.assertEqual(self.srv.read("up.bin"), content)
        self.assertEqual(self.stor("up.bin", b"short"), [OPENING, COMPLETE])
        self.assertEqual(self.srv.read("up.bin"), b"short")
        self.assertEqual(self.stor("up.bin", b""), [OPENING, COMPLETE])
        self.assertEqual(self.srv.read("up.bin"), b"")

    def test_stor_failures(self):
        self.assertEqual(self.stor("nowhere/x.bin", b"data"), [OPENING, b"550 Can't create file.\r\n"])
        self.assertEqual(self.stor("sub", b"data"), [OPENING, b"550 Can't create file.\r\n"])
        self.assertEqual(self.stor("../escape.bin", b"data"), [b"550 Can't create file.\r\n"])
        self.assertFalse(os.path.exists(os.path.join(self.srv.workdir, "escape.bin")))
        self.assertEqual(self.c.cmd("NOOP"), "200 OK\r\n")

    def test_stor_into_a_subdirectory_by_root_path(self):
        self.c.cmd("CWD sub")
        self.assertEqual(self.stor("/sub/new.txt", b"new"), [OPENING, COMPLETE])
        self.assertEqual(self.srv.read("sub/new.txt"), b"new")


class DataConnections(TransferTest):
    def test_pasv_reply_names_the_address_the_client_reached(self):
        for address in ("127.0.0.1", "127.0.0.2"):
            c = Client.__new__(Client)
            c.sock = socket.create_connection((address, self.srv.port), timeout=WAIT)
            c.pending = b""
            self.addCleanup(c.close)
            c.line()
            c.login("alice", "secret")
            reply = c.cmd("PASV")
            match = re.fullmatch(r"227 Entering Passive Mode \((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)\.\r\n", reply)
            self.assertIsNotNone(match, reply)
            self.assertEqual(".".join(match.groups()[:4]), address)

    def test_one_transfer_per_pasv_and_many_per_port(self):
        self.c.pasv().close()  # a listener that nobody uses is replaced by the next PASV
        data = self.c.pasv()
        self.c.send("RETR empty.txt\r\n")
        self.assertEqual(receive_all(data), b"")
        self.assertEqual([self.c.line(), self.c.line()], [OPENING, COMPLETE])
        self.assertEqual(self.c.cmd("RETR empty.txt"), NO_DATA.decode())
        self.c.send("LIST\r\n")
        self.assertEqual([self.c.line(), self.c.line()], [LIST_START, NO_DATA])
        listener = self.active()
        for _ in range(2):
            self.c.send("RETR with blanks.txt\r\n")
            data, _ = listener.accept()
            self.assertEqual(receive_all(data), b"12345")
            self.assertEqual([self.c.line(), self.c.line()], [OPENING, COMPLETE])

    def test_port_after_pasv_switches_to_active(self):
        self.c.pasv().close()
        self.assertEqual(self.retr("with blanks.txt", mode="active")[0], b"12345")

    def test_before_any_port_or_pasv_there_is_no_data_connection(self):
        self.assertEqual(self.c.cmd("RETR empty.txt"), NO_DATA.decode())
        self.assertEqual(self.c.cmd("STOR x"), NO_DATA.decode())
        self.assertFalse(os.path.exists(self.srv.path("x")))

    def test_port_refuses_bounces_and_garbage(self):
        for argument, reply in (("10,0,0,1,200,1", "500 Illegal PORT command.\r\n"),
                                ("127,0,0,2,200,1", "500 Illegal PORT command.\r\n"),
                                ("127,0,0,1,0,21", "500 Illegal PORT command.\r\n"),
                                ("127,0,0,1,3,255", "500 Illegal PORT command.\r\n"),
                                ("127,0,0,1,300,1", "501 Syntax error in parameters or arguments.\r\n"),
                                ("127,0,0,1", "501 Syntax error in parameters or arguments.\r\n"),
                                ("", "501 Syntax error in parameters or arguments.\r\n"),
                                ("a,b,c,d,e,f", "501 Syntax error in parameters or arguments.\r\n")):
            self.assertEqual(self.c.cmd("PORT " + argument), reply, argument)
        self.assertEqual(self.c.cmd("RETR empty.txt"), NO_DATA.decode())  # nothing was stored

    def test_passive_port_is_kept_for_the_client(self):
        reply = self.c.cmd("PASV")
        numbers = [int(n) for n in re.search(r"\(([\d,]+)\)", reply).group(1).split(",")]
        port = numbers[4] * 256 + numbers[5]
        thief = socket.socket()
        thief.bind(("127.0.0.2", 0))
        thief.settimeout(WAIT)
        thief.connect(("127.0.0.1", port))
        self.addCleanup(thief.close)
        self.c.send("RETR f20000.bin\r\n")
        time.sleep(0.2)
        data = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
        self.assertEqual(receive_all(data), random_bytes(20000))
        self.assertEqual([self.c.line(), self.c.line()], [OPENING, COMPLETE])
        self.assertEqual(thief.recv(10), b"")  # closed without a byte


class Listings(TransferTest):
    def test_columns(self):
        os.utime(self.srv.path("with blanks.txt"), (1141732800, 1141732800))
        text = self.listing()
        lines = {line[59:]: line for line in text.split("\r\n") if line}
        self.assertTrue(text.endswith("\r\n"))
        self.assertEqual(sorted(lines), [".", "..", "empty.txt", "f20000.bin", "sub", "with blanks.txt"])
        self.assertEqual(lines["with blanks.txt"],
                         "-r-xr-xr-x   1 owner    group               5 Mar 07  2006 with blanks.txt")
        self.assertRegex(lines["sub"], r"^dr-xr-xr-x   1 owner    group               0 [A-Z][a-z]{2} \d\d  \d{4} sub$")
        self.assertRegex(lines["empty.txt"], r"^-r-xr-xr-x   1 owner    group               0 ")
        self.assertRegex(lines["f20000.bin"], r"^-r-xr-xr-x   1 owner    group           20000 ")

    def test_arguments(self):
        everything = self.names(self.listing())
        self.assertEqual(self.names(self.listing("-la")), everything)
        self.assertEqual(self.names(self.listing("-a -l")), everything)
        self.assertEqual(self.names(self.listing("sub")), [".", "..", "inner.txt"])
        self.assertEqual(self.names(self.listing("-la sub")), [".", "..", "inner.txt"])
        self.assertEqual(self.names(self.listing("with blanks.txt")), ["with blanks.txt"])
        self.assertEqual(self.listing("missing"), "")
        self.c.cmd("CWD sub")
        self.assertEqual(self.names(self.listing()), [".", "..", "inner.txt"])
        self.assertEqual(self.names(self.listing("/")), everything)
        self.assertEqual(self.c.cmd("LIST ../.."), "550 File not found.\r\n")

    def test_a_large_directory_is_listed_completely(self):
        for i in range(2000):
            self.srv.put("sub/entry-with-a-rather-long-name-%04d.txt" % i, b"")
        names = self.names(self.listing("sub"))
        self.assertEqual(len(names), 2003)


class FileFaults(TransferTest):
    def test_a_failed_disk_write_is_reported(self):
        # A file size limit on the server makes its writes fail as a full disk would.
        _, hard = resource.prlimit(self.srv.process.pid, resource.RLIMIT_FSIZE)
        resource.prlimit(self.srv.process.pid, resource.RLIMIT_FSIZE, (1 << 20, hard))
        self.assertEqual(self.stor("too-big.bin", random_bytes(3 << 20)),
                         [OPENING, b"452 Can't write file.\r\n"])
        self.assertEqual(self.stor("fits.bin", b"small"), [OPENING, COMPLETE])
        self.assertEqual(self.c.cmd("NOOP"), "200 OK\r\n")

    def test_a_file_that_shrinks_during_retr_ends_the_transfer_at_its_end(self):
        self.srv.put("shrinking.bin", b"s" * (64 << 20))
        data = self.c.pasv()
        self.c.send("RETR shrinking.bin\r\n")
        self.assertEqual(self.c.line(), OPENING)
        time.sleep(0.5)  # unread, the socket buffers fill and the server waits
        os.truncate(self.srv.path("shrinking.bin"), 1 << 20)
        received = len(receive_all(data))
        self.assertEqual(self.c.line(), COMPLETE)
        self.assertLess(received, 64 << 20)
        self.assertGreaterEqual(received, 1 << 20)


class BrokenTransfers(TransferTest):
    def open_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.srv.process.pid))

    def test_aborted_transfers_leave_everything_serving(self):
        self.srv.put("big.bin", random_bytes(64 * 1024 * 1024))
        self.assertEqual(self.stor("first.bin", b"1"), [OPENING, COMPLETE])
        baseline = self.open_fds()  # with the pipe our connection keeps for its uploads
        other = self.connect(self.srv).login("alice", "secret")
        per_connection = self.open_fds() - baseline
        upload_pipe = 2
        # A download dropped half-way.
        data = self.c.pasv()
        self.c.send("RETR big.bin\r\n")
        self.assertEqual(len(data.recv(65536)) > 0, True)
        reset(data)
        self.assertEqual([self.c.line(), self.c.line()], [OPENING, ABORTED])
        # An upload dropped half-way keeps what arrived.
        data = self.c.pasv()
        self.c.send("STOR part.bin\r\n")
        self.assertEqual(self.c.line(), OPENING)
        data.sendall(b"x" * 100000)
        time.sleep(0.2)
        reset(data)
        self.assertEqual(self.c.line(), ABORTED)
        # Data connections that are never used, or refused.
        for _ in range(5):
            self.c.cmd("PASV")
        self.c.cmd("PORT 127,0,0,1,250,250")
        self.assertEqual(self.c.cmd("RETR big.bin"), NO_DATA.decode())
        self.assertEqual(other.cmd("NOOP"), "200 OK\r\n")
        self.assertEqual(self.retr("with blanks.txt")[0], b"12345")
        self.assertEqual(self.open_fds(), baseline + per_connection)  # only the other client's
        # A client that vanishes in the middle of a download.
        data = self.c.pasv()
        self.c.send("RETR big.bin\r\n")
        data.recv(65536)
        reset(self.c.sock)
        reset(data)
        self.srv.wait_field("user", 0, "OnlineConnections", 1)
        self.assertEqual(other.cmd("QUIT"), "221 Bye!\r\n")
        self.srv.wait_field("server", 0, "OnlineConnections", 0)
        self.srv.wait_field("user", 0, "OnlineConnections", 0)
        wait_fds = time.monotonic() + WAIT
        gone = baseline - per_connection - upload_pipe  # not even our own connection's
        while self.open_fds() != gone and time.monotonic() < wait_fds:
            time.sleep(0.05)
        self.assertEqual(self.open_fds(), gone)

    def test_clear_ends_connections_waiting_or_transferring(self):
        self.srv.put("big.bin", random_bytes(32 * 1024 * 1024))
        waiting = self.connect(self.srv).login("alice", "secret")
        waiting.cmd("PASV")
        waiting.send("RETR big.bin\r\n")  # never connects: waits in the passive accept
        stalled = self.c.pasv()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.addCleanup(stalled.close)
        self.c.send("RETR big.bin\r\n")
        self.assertEqual(self.c.line(), OPENING)
        uploading = self.connect(self.srv).login("alice", "secret")
        up = uploading.pasv()
        self.addCleanup(up.close)
        uploading.send("STOR slow.bin\r\n")
        self.assertEqual(uploading.line(), OPENING)
        up.sendall(b"y" * 1000)
        view = self.srv.view("conn")
        states = re.findall(r"\tState:(\d+)\n", view)
        self.assertIn("3", states)
        self.assertIn("4", states)
        self.srv.type("clear\n")
        for client in (waiting, self.c, uploading):
            self.assertTrue(client.closed())
        self.srv.wait_field("server", 0, "OnlineConnections", 0)
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 0)
        self.assertNotIn("InUsed:-1", self.srv.view("conn"))
        self.assertEqual(self.connect(self.srv).login("alice", "secret").cmd("NOOP"), "200 OK\r\n")


if __name__ == "__main__":
    unittest.main()
