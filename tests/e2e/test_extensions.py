# The program's options, and what --extensions adds, over raw sockets: the
# early gate, FEAT and its kin, normalised paths, listings, times, resume,
# ABOR and STAT during transfers, EPSV and EPRT over IPv6, TYPE A. Without the
# option none of it is there (the other files test that mode byte for byte).

import os
import re
import socket
import subprocess
import time
import unittest

from harness import BINARY, Client, ServerTest, WAIT, receive_all, user

OPENING_BINARY = b"150 Opening BINARY mode data connection for file transfer.\r\n"
OPENING_ASCII = b"150 Opening ASCII mode data connection for file transfer.\r\n"
COMPLETE = b"226 Transfer complete.\r\n"
LIST_START = b"125 Data connection already open; Transfer starting.\r\n"
FEAT = ("211-Features:\r\n EPRT\r\n EPSV\r\n MDTM\r\n MFMT\r\n MLST type*;size*;modify*;perm*;unique*;\r\n"
        " REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n211 End\r\n")


def multi(client, command, last_prefix):
    # Sends a command and returns its reply lines, up to the one that starts with last_prefix.
    client.send(command + "\r\n")
    lines = []
    while not lines or not lines[-1].startswith(last_prefix):
        lines.append(client.line().decode())
    return "".join(lines)


class Options(unittest.TestCase):
    def test_help_and_refused_options(self):
        done = subprocess.run([BINARY, "--help"], capture_output=True, timeout=WAIT)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        self.assertIn(b"--extensions", done.stdout)
        # Refused before anything listens: a line naming what was wrong, then the usage.
        for arguments in (["--bogus"], ["--extensions=yes"], ["stray"], ["--max-connections", "0"],
                          ["--max-connections", "10001"], ["--idle-timeout", "9"], ["--passive-ports", "2000-1000"],
                          ["--passive-ports", "80-90"], ["--passive-address", "::1"], ["--listen", "::1"],
                          ["--listen", "nowhere"], ["--xferlog"], ["--xferlog", "/no/such/dir/x"]):
            done = subprocess.run([BINARY] + arguments, capture_output=True, timeout=WAIT, cwd="/")
            self.assertEqual((done.returncode, done.stdout), (2, b""), arguments)
            first, usage = (done.stderr + b"\n").split(b"\n", 1)
            self.assertTrue(first.startswith(b"vostrine: ") and any(a.encode() in first for a in arguments), first)
            self.assertEqual(usage.startswith(b"Usage: vostrine"), "/no/such" not in arguments[-1], done.stderr)


class UrgentData(ServerTest):
    def test_abor_sent_as_urgent_data_keeps_the_next_command_whole(self):
        for args, abor in (((), b"500 Command not implemented.\r\n"), (("--extensions",), b"225 No transfer to abort.\r\n")):
            c = self.connect(self.serve(args=args)).login("alice", "secret")
            c.send(b"\xff\xf4\xff")           # Telnet interrupt process, then synch,
            c.sock.send(b"\xf2", socket.MSG_OOB)  # whose data mark is urgent
            c.send(b"ABOR\r")
            c.sock.send(b"\n", socket.MSG_OOB)  # and ABOR's own last byte
            c.send(b"PWD\r\nUSER \xff\xffx\r\n")  # IAC IAC is a literal 0xFF
            self.assertEqual([c.line(), c.line(), c.line()],
                             [abor, b'257 "/" is current directory.\r\n', b"331 Password required for \xffx\r\n"])


class ExtendedTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(args=["--extensions"], users=[user("alice", "secret", max_connections=10)],
                              files={"a.txt": "line one\nline two\r\nthree", "pub/p.txt": "p", "docs/d.txt": "d"})
        self.c = self.connect(self.srv).login("alice", "secret")

    def epsv(self, client=None):
        client = client or self.c
        reply = client.cmd("EPSV")
        port = int(re.fullmatch(r"229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\)\r\n", reply).group(1))
        return socket.create_connection((client.sock.getpeername()[0], port), timeout=WAIT)

    def transfer(self, command, upload=None):
        data = self.epsv()
        self.c.send(command + "\r\n")
        if upload is not None:
            data.sendall(upload)
            data.shutdown(socket.SHUT_WR)
        return receive_all(data), [self.c.line(), self.c.line()]


class Gate(ExtendedTest):
    def test_commands_before_login_and_their_replies(self):
        c = self.connect(self.srv)
        time.sleep(2.2)  # none of the early commands counts as activity
        self.assertEqual(multi(c, "FEAT", "211 "), FEAT)
        for line, reply in (("SYST", "215 UNIX Type: L8"), ("NOOP", "200 OK"), ("OPTS UTF8 ON", "200 UTF8 set to on"),
                            ("OPTS MLST type;size;Modify;bogus;", "200 MLST OPTS type;size;modify;"),
                            ("OPTS FOO", "501 Option not understood."), ("PWD", "530 Please login with USER and PASS."),
                            ("MLSD", "530 Please login with USER and PASS."), ("XYZ", "500 Syntax error, command unrecognized.")):
            self.assertEqual(c.cmd(line), reply + "\r\n", line)
        self.assertGreaterEqual(self.srv.field("conn", 1, "TickCount"), 2)
        self.assertIn(" MLST type*;size*;modify*;perm;unique;\r\n", multi(c, "FEAT", "211 "))  # OPTS MLST's choice
        self.assertRegex(multi(c, "HELP", "214 "), r"^214-.*\r\n( [A-Z ]+\r\n)+214 Help OK\.\r\n$")
        self.assertEqual(c.cmd("QUIT"), "221 Bye!\r\n")
        for line, reply in (("MODE S", "200 Mode set to S."), ("MODE B", "504 Command not implemented for that parameter."),
                            ("STRU F", "200 Structure set to F."), ("STRU R", "504 Command not implemented for that parameter."),
                            ("ALLO 100", "202 No storage allocation necessary."), ("TYPE A N", "200 Type set to A"),
                            ("TYPE L 8", "200 Type set to L 8"), ("TYPE E", "504 Command not implemented for that parameter."),
                            ("SITE HELP", "504 Command not implemented for that parameter."),
                            ("SMNT x", "502 Command not implemented."), ("REIN", "502 Command not implemented."),
                            ("STOU", "502 Command not implemented."), ("REST x", "501 Syntax error in parameters or arguments."),
                            ("ABOR", "225 No transfer to abort.")):
            self.assertEqual(self.c.cmd(line), reply + "\r\n", line)

    def test_refusal_line_ends_with_cr_lf(self):
        srv = self.serve(args=["--extensions"], max_connections=0)
        self.assertEqual(Client(srv.port, greet=False).line(), b"502 Too many users on this server.\r\n")


class Paths(ExtendedTest):
    def test_normalised_directories_and_quoted_names(self):
        for line, reply in (("CWD ..", '250 "/" is current directory.'), ("CWD pub", '250 "/pub" is current directory.'),
                            ("CWD docs", 'CWD failed'),  # not below /pub: no second try from the root
                            ("CWD ./../docs/.", '250 "/docs" is current directory.'), ("CDUP", '250 "/" is current directory.'),
                            ("XCWD /pub/../../..", '250 "/" is current directory.'), ('XMKD say "hi"', '257 "say ""hi""" Directory'),
                            ('CWD say "hi"', '250 "/say ""hi""" is current directory.'), ("XPWD", '257 "/say ""hi"""'),
                            ("XCUP", '250 "/"'), ('XRMD say "hi"', "250 Directory deleted successfully.")):
            self.assertIn(reply, self.c.cmd(line), line)


class Listings(ExtendedTest):
    def test_list_nlst_mlsd_mlst(self):
        os.utime(self.srv.path("docs/d.txt"), (1141732800, 1141732800))
        listing, replies = self.transfer("LIST")
        self.assertEqual(replies, [LIST_START, COMPLETE])
        self.assertRegex(listing.decode(), r"-rw-r--r--   1 owner    group               1 Mar  7  2006 d.txt|"
                                           r"drwxr-xr-x +\d+ owner    group +\d+ [A-Z][a-z]{2} [ \d]\d \d\d:\d\d docs\r\n")
        self.assertEqual(sorted(self.transfer("NLST")[0].decode().split("\r\n")), ["", "a.txt", "docs", "pub"])
        self.assertEqual(self.transfer("NLST pub/p.txt")[0], b"pub/p.txt\r\n")
        facts, replies = self.transfer("MLSD docs")
        self.assertEqual(replies, [LIST_START, COMPLETE])
        self.assertIn(b"type=file;size=1;modify=20060307120000;perm=adfwr;unique=", facts)
        self.assertRegex(facts.decode(), r"type=cdir;.* \.\r\n")
        for line, reply in (("LIST missing", "550 No such file or directory."), ("MLSD a.txt", "501 Not a directory."),
                            ("NLST ../..", "550 No such file or directory.")):
            self.assertEqual(self.c.cmd(line), reply + "\r\n", line)
        self.assertRegex(multi(self.c, "MLST docs/d.txt", "250 "),
                         r"^250-Listing docs/d.txt\r\n type=file;size=1;modify=20060307120000;perm=adfwr;unique=\w+; "
                         r"docs/d.txt\r\n250 End.\r\n$")
        self.assertIn(" d.txt\r\n", multi(self.c, "STAT docs", "213 "))

    def test_times(self):
        for line, reply in (("MFMT 20060307120000 a.txt", "213 Modify=20060307120000; a.txt"), ("MDTM a.txt", "213 20060307120000"),
                            ("MDTM docs", "550 File not found."), ("MDTM nothing", "550 File not found."),
                            ("MFMT 20061307120000 a.txt", "501 Syntax error in parameters or arguments."),
                            ("SITE CHMOD 600 a.txt", "200 SITE CHMOD command successful."),
                            ("SITE CHMOD 600 ../config", "550 SITE CHMOD command failed.")):
            self.assertEqual(self.c.cmd(line), reply + "\r\n", line)
        self.assertEqual(os.stat(self.srv.path("a.txt")).st_mtime, 1141732800)
        self.assertEqual(os.stat(self.srv.path("a.txt")).st_mode & 0o777, 0o600)


class ResumeAndAscii(ExtendedTest):
    def test_rest_retr_stor_appe(self):
        self.c.cmd("TYPE I")
        content = bytes(range(256)) * 40
        self.srv.put("f.bin", content)
        self.assertEqual(self.c.cmd("REST 1000"), "350 Restarting at 1000. Send STORE or RETRIEVE to initiate transfer.\r\n")
        self.assertEqual(self.transfer("RETR f.bin"), (content[1000:], [OPENING_BINARY, COMPLETE]))
        self.assertEqual(self.transfer("RETR f.bin")[0], content)  # the offset served one transfer
        self.c.cmd("REST 10241")
        data = self.epsv()
        self.assertEqual(self.c.cmd("RETR f.bin"), "554 Restart offset beyond the end of the file.\r\n")
        data.close()
        self.c.cmd("REST 5")
        self.assertEqual(self.transfer("STOR f.bin", b"XY")[1], [OPENING_BINARY, COMPLETE])
        self.assertEqual(self.srv.read("f.bin"), content[:5] + b"XY")  # kept before, cut after
        self.assertEqual(self.transfer("APPE f.bin", b"Z")[1], [OPENING_BINARY, COMPLETE])
        self.assertEqual(self.transfer("APPE new.bin", b"N")[1], [OPENING_BINARY, COMPLETE])
        self.assertEqual((self.srv.read("f.bin"), self.srv.read("new.bin")), (content[:5] + b"XYZ", b"N"))

    def test_resume_past_4_gib(self):
        self.c.cmd("TYPE I")
        with open(self.srv.path("sparse.bin"), "wb") as f:
            f.seek(5 << 30)
            f.write(b"tail")
        self.assertEqual(self.c.cmd("SIZE sparse.bin"), "213 %d\r\n" % ((5 << 30) + 4))
        self.c.cmd("REST %d" % ((5 << 30) + 1))
        self.assertEqual(self.transfer("RETR sparse.bin")[0], b"ail")

    def test_type_a_converts_line_ends_both_ways(self):
        self.assertEqual(self.transfer("RETR a.txt"), (b"line one\r\nline two\r\nthree", [OPENING_ASCII, COMPLETE]))
        self.assertEqual(self.transfer("STOR up.txt", b"x\r\ny\rz\r\n\r")[1], [OPENING_ASCII, COMPLETE])
        self.assertEqual(self.srv.read("up.txt"), b"x\ny\rz\n\r")
        self.c.cmd("TYPE I")
        self.assertEqual(self.transfer("RETR a.txt")[0], b"line one\nline two\r\nthree")


class DuringTransfers(ExtendedTest):
    def test_stat_noop_and_abor_during_a_download_then_the_queue(self):
        self.c.cmd("TYPE I")
        self.srv.put("big.bin", bytes(64 << 20))
        data = self.epsv()
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        self.c.send("RETR big.bin\r\n")
        self.assertEqual(self.c.line(), OPENING_BINARY)
        data.recv(65536)
        self.c.send("STAT\r\nNOOP\r\nPWD\r\n")
        self.assertRegex(self.c.line().decode(), r"^213 Status: \d+ bytes transferred\.\r\n$")
        self.assertEqual(self.c.line(), b"200 OK\r\n")
        self.c.send("ABOR\r\n")  # PWD waits for the transfer's end; ABOR does not
        self.assertEqual([self.c.line(), self.c.line(), self.c.line()],
                         [b"426 Connection closed; transfer aborted.\r\n", b"226 ABOR command successful.\r\n",
                          b'257 "/" is current directory.\r\n'])
        data.close()
        self.assertEqual(self.c.cmd("NOOP"), "200 OK\r\n")


class ExtendedPassiveAndActive(ExtendedTest):
    def test_epsv_eprt_and_ipv6(self):
        self.c.cmd("TYPE I")
        self.assertEqual(self.transfer("RETR pub/p.txt"), (b"p", [OPENING_BINARY, COMPLETE]))
        six = self.connect(self.srv, host="::1").login("alice", "secret")
        six.cmd("TYPE I")
        listener, _ = self.client_listener(socket.AF_INET6)
        port = listener.getsockname()[1]
        for line, reply in (("PASV", "522 PORT and PASV are for IPv4 connections: use EPRT or EPSV."),
                            ("PORT 127,0,0,1,4,1", "522 PORT and PASV are for IPv4 connections: use EPRT or EPSV."),
                            ("EPRT |3|x|1|", "522 Network protocol not supported, use (1,2)"),
                            ("EPRT |1|127.0.0.1|5000|", "500 Illegal EPRT command."),
                            ("EPRT |2|::1|80|", "500 Illegal EPRT command."), ("EPRT |2|::1|", "501 Syntax error in parameters or arguments."),
                            ("EPSV 1", "522 Network protocol not supported, use (2)"),
                            ("EPRT |2|::1|%d|" % port, "200 EPRT command successful.")):
            self.assertEqual(six.cmd(line), reply + "\r\n", line)
        six.send("RETR pub/p.txt\r\n")
        self.assertEqual(receive_all(listener.accept()[0]), b"p")
        self.assertEqual([six.line(), six.line()], [OPENING_BINARY, COMPLETE])
        data = self.epsv(six)  # over ::1
        six.send("RETR docs/d.txt\r\n")
        self.assertEqual(receive_all(data), b"d")
        self.assertEqual([six.line(), six.line()], [OPENING_BINARY, COMPLETE])
        self.assertEqual(self.c.cmd("EPSV ALL"), "200 EPSV ALL command successful.\r\n")
        for line in ("PASV", "PORT 127,0,0,1,4,1", "EPRT |1|127.0.0.1|5000|"):
            self.assertEqual(self.c.cmd(line), "503 EPSV ALL was given: use EPSV.\r\n", line)


if __name__ == "__main__":
    unittest.main()
