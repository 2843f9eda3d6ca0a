# The program's options and the lists documenting them, and what --extensions
# adds, over raw sockets: the early gate, FEAT and its kin, normalised paths,
# listings, times, resume, ABOR and STAT during transfers, EPSV and EPRT over
# IPv6, TYPE A. Without the option none of it is there (the other files test
# that mode byte for byte).

import hashlib
import os
import random
import re
import socket
import zlib

from harness import TOP, ServerTest, certificate, content, run, user, wait_until
from replies import (ABORTED, BAD_ARGUMENT, BYE, COMPLETE, LIST_START, LOGIN_FIRST, NOT_FOR_PARAMETER, NOT_FOUND, OK,
                     OPENING, OPENING_ASCII, SYNTAX)

FEAT = ("211-Features:\r\n EPRT\r\n EPSV\r\n HASH SHA-256*;SHA-512;SHA-1;MD5;CRC32\r\n MDTM\r\n MFMT\r\n MLST type*;size*;modify*;perm*;unique*;\r\n"
        " REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n211 End\r\n")
IPV4_ONLY = "522 PORT and PASV are for IPv4 connections: use EPRT or EPSV."


def documented(path, pattern):
    return set(re.findall(pattern, content(os.path.join(TOP, path)).decode(), re.M))


class Options(ServerTest):
    def test_help_and_refused_options(self):
        done = run("--help")
        self.assertEqual((done.returncode, done.stderr, b"--extensions" in done.stdout), (0, b"", True))
        # Refused before anything listens: a line naming what was wrong, then the usage.
        for arguments in (["--bogus"], ["--extensions=yes"], ["stray"], ["--max-connections", "0"],
                          ["--max-connections", "10001"], ["--idle-timeout", "9"], ["--passive-ports", "2000-1000"],
                          ["--passive-ports", "80-90"], ["--passive-address", "::1"], ["--listen", "::1"],
                          ["--listen", "nowhere"], ["--xferlog"], ["--xferlog", "/no/such/dir/x"]):
            done = run(*arguments)
            self.assertEqual((done.returncode, done.stdout), (2, b""), arguments)
            first, usage = (done.stderr + b"\n").split(b"\n", 1)
            self.assertTrue(first.startswith(b"vostrine: ") and any(a.encode() in first for a in arguments), first)
            self.assertEqual(usage.startswith(b"Usage: vostrine"), "/no/such" not in arguments[-1], done.stderr)

    def test_abor_sent_as_urgent_data_keeps_the_next_command_whole_and_refusals_end_with_cr_lf(self):
        for args, abor in (((), "500 Command not implemented.\r\n"), (("--extensions",), "225 No transfer to abort.\r\n")):
            c = self.connect(self.serve(args=args)).login("alice", "secret")
            c.send(b"\xff\xf4\xff")           # Telnet interrupt process, then synch,
            c.sock.send(b"\xf2", socket.MSG_OOB)  # whose data mark is urgent
            c.send(b"ABOR\r")
            c.sock.send(b"\n", socket.MSG_OOB)  # and ABOR's own last byte
            c.send(b"PWD\r\nUSER \xff\xffx\r\n")  # IAC IAC is a literal 0xFF
            self.assertEqual(c.reply() + c.reply() + c.reply(),
                             abor + '257 "/" is current directory.\r\n331 Password required for \udcffx\r\n')
        refused = self.connect(self.serve(args=["--extensions"], max_connections=0), greet=False)
        self.assertEqual(refused.line(), b"502 Too many users on this server.\r\n")  # with CR LF, unlike without

    def test_readme_and_manual_page_list_every_option_of_help(self):
        options = set(re.findall(r"^  --([a-z-]+)", run("--help").stdout.decode(), re.M))
        self.assertIn("max-per-address", options)
        self.assertEqual(documented("README.md", r"^\| `--([a-z-]+)"), options - {"help", "version"})
        self.assertEqual({name.replace("\\-", "-") for name in documented("doc/vostrine.8", r"^\.BI? \\-\\-([a-z\\-]+)")},
                         options)
        version = run("--version")
        self.assertEqual((version.returncode, version.stderr), (0, b""))
        self.assertRegex(version.stdout.decode(), r"^vostrine \d+\.\d+\.\d+\n$")

    def test_help_lists_what_the_server_knows_and_feat_what_it_offers(self):
        for tls in ([], ["--tls-cert", certificate()[0], "--tls-key", certificate()[1]]):
            c = self.connect(self.serve(args=["--extensions"] + tls))
            keywords = " ".join(c.cmd("HELP").splitlines()[1:-1]).split()
            self.assertEqual((keywords, "AUTH" in keywords), (sorted(keywords), bool(tls)))
            for keyword in keywords + ["XYZ"]:
                if keyword not in ("QUIT", "AUTH", "PASS", "FEAT", "HELP"):  # the end, a pause, several lines
                    self.assertEqual(c.cmd(keyword).startswith("500 Syntax error"), keyword == "XYZ", keyword)
            for line in c.cmd("FEAT").splitlines()[1:-1]:
                self.assertTrue(line.split()[0] in keywords + ["TVFS", "UTF8"], line)


class ExtendedTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(args=["--extensions"], users=[user("alice", "secret", max_connections=10)],
                              files={"a.txt": "line one\nline two\r\nthree", "pub/p.txt": "p", "docs/d.txt": "d"})
        self.c = self.connect(self.srv).login("alice", "secret")

    def test_commands_before_login_and_their_replies(self):
        c = self.connect(self.srv)
        self.srv.wait_field("conn", 1, "TickCount", 2)  # none of the early commands counts as activity
        c.talk([("FEAT", FEAT), ("SYST", "215 UNIX Type: L8"), ("NOOP", OK), ("OPTS UTF8 ON", "200 UTF8 set to on"),
                ("OPTS MLST type;size;Modify;bogus;", "200 MLST OPTS type;size;modify;"),
                ("OPTS FOO", "501 Option not understood."), ("PWD", LOGIN_FIRST), ("MLSD", LOGIN_FIRST), ("XYZ", SYNTAX)])
        self.assertGreaterEqual(self.srv.field("conn", 1, "TickCount"), 2)
        self.assertIn(" MLST type*;size*;modify*;perm;unique;\r\n", c.cmd("FEAT"))  # OPTS MLST's choice
        self.assertRegex(c.cmd("HELP"), r"^214-.*\r\n( [A-Z0-9 ]+\r\n)+214 Help OK\.\r\n$")
        c.talk([("QUIT", BYE)])
        self.c.talk([("MODE S", "200 Mode set to S."), ("MODE B", NOT_FOR_PARAMETER), ("STRU F", "200 Structure set to F."),
                     ("STRU R", NOT_FOR_PARAMETER), ("ALLO 100", "202 No storage allocation necessary."),
                     ("TYPE A N", "200 Type set to A"), ("TYPE L 8", "200 Type set to L 8"), ("TYPE E", NOT_FOR_PARAMETER),
                     ("SITE HELP", NOT_FOR_PARAMETER), ("SMNT x", "502 Command not implemented."),
                     ("REIN", "502 Command not implemented."), ("STOU", "502 Command not implemented."),
                     ("REST x", BAD_ARGUMENT), ("ABOR", "225 No transfer to abort.")])

    def test_normalised_directories_and_quoted_names(self):
        self.c.talk([("CWD ..", '250 "/" is current directory.'), ("CWD pub", '250 "/pub" is current directory.'),
                     ("CWD docs", '550 CWD failed. "docs": directory not found.'),  # no second try from the root
                     ("CWD ./../docs/.", '250 "/docs" is current directory.'), ("CDUP", '250 "/" is current directory.'),
                     ("XCWD /pub/../../..", '250 "/" is current directory.'),
                     ('XMKD say "hi"', '257 "say ""hi""" Directory created successfully.'),
                     ('CWD say "hi"', '250 "/say ""hi""" is current directory.'),
                     ("XPWD", '257 "/say ""hi""" is current directory.'), ("XCUP", '250 "/" is current directory.'),
                     ('XRMD say "hi"', "250 Directory deleted successfully."),
                     ("CWD \\pub\\..\\docs\\", '250 "/docs" is current directory.'), ("CWD ../../..", '250 "/" is current directory.')])

    def test_list_nlst_mlsd_mlst(self):
        os.utime(self.srv.path("docs/d.txt"), (1141732800, 1141732800))
        listing, replies = self.c.transfer("LIST", via="epsv")
        self.assertEqual(replies, LIST_START + COMPLETE)
        self.assertRegex(listing.decode(), r"-rw-r--r--   1 owner    group               1 Mar  7  2006 d.txt|"
                                           r"drwxr-xr-x +\d+ owner    group +\d+ [A-Z][a-z]{2} [ \d]\d \d\d:\d\d docs\r\n")
        self.assertEqual(sorted(self.c.transfer("NLST")[0].decode().split("\r\n")), ["", "a.txt", "docs", "pub"])
        self.assertEqual(self.c.transfer("NLST pub/p.txt")[0], b"pub/p.txt\r\n")
        facts, replies = self.c.transfer("MLSD docs")
        self.assertEqual(replies, LIST_START + COMPLETE)
        self.assertIn(b"type=file;size=1;modify=20060307120000;perm=adfwr;unique=", facts)
        self.assertRegex(facts.decode(), r"type=cdir;.* \.\r\n")
        self.c.talk([("LIST missing", "550 No such file or directory."), ("MLSD a.txt", "501 Not a directory."),
                     ("NLST ../..", "550 No such file or directory.")])
        self.assertRegex(self.c.cmd("MLST docs/d.txt"), r"^250-Listing docs/d.txt\r\n type=file;size=1;"
                         r"modify=20060307120000;perm=adfwr;unique=\w+; docs/d.txt\r\n250 End.\r\n$")
        self.assertIn(" d.txt\r\n", self.c.cmd("STAT docs"))

    def test_times_and_modes(self):
        self.c.talk([("MFMT 20060307120000 a.txt", "213 Modify=20060307120000; a.txt"), ("MDTM a.txt", "213 20060307120000"),
                     ("MDTM docs", NOT_FOUND), ("MDTM nothing", NOT_FOUND), ("MFMT 20061307120000 a.txt", BAD_ARGUMENT),
                     ("SITE CHMOD 600 a.txt", "200 SITE CHMOD command successful."),
                     ("SITE CHMOD 600 ../config", "550 SITE CHMOD command failed.")])
        status = os.stat(self.srv.path("a.txt"))
        self.assertEqual((status.st_mtime, status.st_mode & 0o777), (1141732800, 0o600))

    def test_rest_retr_stor_appe(self):
        content = bytes(range(256)) * 40
        self.srv.put("f.bin", content)
        self.c.talk([("TYPE I", "200 Type set to I"),
                     ("REST 1000", "350 Restarting at 1000. Send STORE or RETRIEVE to initiate transfer.")])
        self.assertEqual(self.c.transfer("RETR f.bin"), (content[1000:], OPENING + COMPLETE))
        self.assertEqual(self.c.transfer("RETR f.bin")[0], content)  # the offset served one transfer
        self.c.cmd("REST 10241")
        self.assertEqual(self.c.transfer("RETR f.bin"), (b"", "554 Restart offset beyond the end of the file.\r\n"))
        self.c.cmd("REST 5")
        for command, upload in (("STOR f.bin", b"XY"), ("APPE f.bin", b"Z"), ("APPE new.bin", b"N")):
            self.assertEqual(self.c.transfer(command, upload)[1], OPENING + COMPLETE)
        self.assertEqual((self.srv.read("f.bin"), self.srv.read("new.bin")), (content[:5] + b"XYZ", b"N"))  # cut after
        with open(self.srv.path("sparse.bin"), "wb") as f:
            f.seek(5 << 30)
            f.write(b"tail")
        self.c.talk([("SIZE sparse.bin", "213 %d" % ((5 << 30) + 4)), ("REST %d" % ((5 << 30) + 1), "350 Restarting at "
                      "%d. Send STORE or RETRIEVE to initiate transfer." % ((5 << 30) + 1))])
        self.assertEqual(self.c.transfer("RETR sparse.bin")[0], b"ail")

    def test_type_a_converts_line_ends_both_ways(self):
        self.assertEqual(self.c.transfer("RETR a.txt"), (b"line one\r\nline two\r\nthree", OPENING_ASCII + COMPLETE))
        self.assertEqual(self.c.transfer("STOR up.txt", b"x\r\ny\rz\r\n\r")[1], OPENING_ASCII + COMPLETE)
        self.assertEqual(self.srv.read("up.txt"), b"x\ny\rz\n\r")
        self.c.cmd("TYPE I")
        self.assertEqual(self.c.transfer("RETR a.txt")[0], b"line one\nline two\r\nthree")

    def test_stat_noop_and_abor_during_a_download_then_the_queue(self):
        self.c.cmd("TYPE I")
        self.srv.put("big.bin", bytes(64 << 20))
        data = self.c.epsv()
        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        self.c.talk([("RETR big.bin", OPENING)])
        data.recv(65536)
        self.c.send("STAT\r\nNOOP\r\nPWD\r\n")
        self.assertRegex(self.c.reply(), r"^213-Status: (\d+) bytes transferred\.\r\n RETR big\.bin: \1 of 67108864 bytes, "
                                         r"\d+ B/s in the last second, \d+ B/s since the start, \d+\.\d s\r\n213 End of status\.\r\n$")
        self.assertEqual(self.c.reply(), OK)
        self.assertRegex(self.view_xfer(), r"^Socket +Account +Client +Command +Progress\n\d+ +alice +127\.0\.0\.1 +"
                                           r"RETR big\.bin +\d+ of 67108864 bytes, \d+ B/s in the last second, "
                                           r"\d+ B/s since the start, \d+\.\d s\n$")
        self.c.send("ABOR\r\n")  # PWD waits for the transfer's end; ABOR does not
        self.assertEqual(self.c.reply() + self.c.reply() + self.c.reply(),
                         ABORTED + "226 ABOR command successful.\r\n" + '257 "/" is current directory.\r\n')
        data.close()
        self.c.talk([("NOOP", OK)])
        self.assertEqual(self.view_xfer(), "no transfers\n")

    def view_xfer(self):
        since = len(self.srv.output())
        self.srv.type("view xfer\n")
        end = self.srv.wait_for(re.compile(rb"(?s)(no transfers|Socket ).*?Vostrine>"), since)
        return re.search(rb"(?s)(no transfers|Socket ).*(?=Vostrine>$)", self.srv.output()[since:end]).group(0).decode()

    def test_hash_rang_and_the_older_checksum_commands(self):
        data = random.Random(3).randbytes(300000)  # more than one of the engine's pieces
        self.srv.put("f.bin", data)
        self.srv.put("a b.bin", data[:10])

        def digest(name, part):
            return "%08x" % zlib.crc32(part) if name == "crc32" else hashlib.new(name, part).hexdigest()
        self.c.talk([("OPTS HASH", "200 SHA-256"),
                     ("HASH f.bin", "213 SHA-256 0-299999 %s f.bin" % digest("sha256", data)),
                     ("OPTS HASH md5", "200 MD5"), ("OPTS HASH BLAKE2", "501 Unknown algorithm."),
                     ("RANG 10 19", "350 Range set: 10-19."),
                     ("HASH f.bin", "213 MD5 10-19 %s f.bin" % digest("md5", data[10:20])),
                     ("HASH f.bin", "213 MD5 0-299999 %s f.bin" % digest("md5", data)),  # the range served one command
                     ("RANG 299990 400000", "350 Range set: 299990-400000."),
                     ("HASH f.bin", "213 MD5 299990-299999 %s f.bin" % digest("md5", data[299990:])),
                     ("RANG 5 3", "501 Bad range."), ("RANG 1 0", "350 Range reset: the whole file."),
                     ("RANG 300001 300002", "350 Range set: 300001-300002."), ("HASH f.bin", "501 Bad range."),
                     ("HASH missing", NOT_FOUND), ("HASH pub", "553 Not a plain file."),
                     ("OPTS HASH crc32", "200 CRC32"),
                     ("HASH a b.bin", "213 CRC32 0-9 %s a b.bin" % digest("crc32", data[:10])),
                     ("XCRC f.bin", "250 " + digest("crc32", data)), ("XMD5 a b.bin", "250 " + digest("md5", data[:10])),
                     ("XSHA1 f.bin 100", "250 " + digest("sha1", data[100:])),
                     ("XSHA256 f.bin 100 200", "250 " + digest("sha256", data[100:200])),
                     ("XSHA512 f.bin", "250 " + digest("sha512", data)), ("XSHA256 f.bin 7 3", "501 Bad range."),
                     ("XMD5 pub", NOT_FOUND)])
        self.assertIn(" HASH SHA-256;SHA-512;SHA-1;MD5;CRC32*\r\n", self.c.cmd("FEAT"))
        # A hash is heard like a transfer: STAT tells how far it is, ABOR ends it.
        with open(self.srv.path("big.bin"), "wb") as big:
            big.truncate(4 << 30)
        self.c.send("OPTS HASH SHA-512\r\nHASH big.bin\r\n")
        self.assertEqual(self.c.reply(), "200 SHA-512\r\n")
        wait_until(lambda: int(re.match(r"213.Status: (\d+) ", self.c.cmd("STAT")).group(1)) > 0)
        self.c.send("ABOR\r\n")
        self.assertEqual(self.c.reply() + self.c.reply(), ABORTED + "226 ABOR command successful.\r\n")
        self.c.talk([("NOOP", OK)])

    def test_epsv_eprt_and_ipv6(self):
        self.c.cmd("TYPE I")
        self.assertEqual(self.c.transfer("RETR pub/p.txt", via="epsv"), (b"p", OPENING + COMPLETE))
        six = self.connect(self.srv, host="::1").login("alice", "secret")
        six.talk([("TYPE I", "200 Type set to I"), ("PASV", IPV4_ONLY), ("PORT 127,0,0,1,4,1", IPV4_ONLY),
                  ("EPRT |3|x|1|", "522 Network protocol not supported, use (1,2)"),
                  ("EPRT |1|127.0.0.1|5000|", "500 Illegal EPRT command."), ("EPRT |2|::1|80|", "500 Illegal EPRT command."),
                  ("EPRT |2|::1|", BAD_ARGUMENT), ("EPSV 1", "522 Network protocol not supported, use (2)")])
        self.assertEqual(six.transfer("RETR pub/p.txt", via=six.port(socket.AF_INET6)), (b"p", OPENING + COMPLETE))
        self.assertEqual(six.transfer("RETR docs/d.txt", via="epsv"), (b"d", OPENING + COMPLETE))  # over ::1
        self.c.talk([("EPSV ALL", "200 EPSV ALL command successful.")] + [(line, "503 EPSV ALL was given: use EPSV.") for
                     line in ("PASV", "PORT 127,0,0,1,4,1", "EPRT |1|127.0.0.1|5000|")])
