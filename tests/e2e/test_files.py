"""Moving around and managing files: CWD over a real tree, SIZE, DELE, RMD,
MKD, RNFR/RNTO, and every attempt to reach above the account's root."""

import os
import unittest

from harness import ServerTest, user

TREE = {
    "a.txt": "a" * 1234,
    "pub/p.txt": "in pub",
    "pub/incoming/": None,
    "docs/d.txt": "in docs",
    "empty/": None,
}


class FileTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(users=[user("alice", "secret")], files={k: v or "" for k, v in TREE.items()})
        # Beside the root: what no client may touch.
        self.outside = os.path.join(self.srv.workdir, "outside.txt")
        with open(self.outside, "w") as f:
            f.write("keep me")
        os.makedirs(os.path.join(self.srv.workdir, "secret"))
        self.c = self.connect(self.srv).login("alice", "secret")

    def cwd(self, argument):
        return self.c.cmd("CWD " + argument if argument is not None else "CWD")


class ChangeDirectory(FileTest):
    def test_walk(self):
        walk = [("pub", "/pub"), ("incoming", "/pub/incoming"), ("/", "/"), ("pub/incoming", "/pub/incoming"),
                (None, "/"), ("\\pub\\", "/pub"), ("docs", "/docs"),  # not in /pub: found below the root
                ("\\", "/"), ("docs/", "/docs"), ("/pub", "/pub"), ("/", "/"), ("pub/../docs", "/pub/../docs")]
        for argument, now in walk:
            self.assertEqual(self.cwd(argument), "250 \"%s\" is current directory.\r\n" % now, argument)
            self.assertEqual(self.c.cmd("PWD"), "257 \"%s\" is current directory.\r\n" % now)

    def test_leading_slash_looks_only_below_the_root(self):
        self.cwd("pub")
        self.assertEqual(self.cwd("/incoming"), "550 CWD failed. \"incoming\": directory not found.\r\n")
        self.assertEqual(self.cwd("incoming"), "250 \"/pub/incoming\" is current directory.\r\n")

    def test_failures_quote_the_rewritten_name(self):
        self.assertEqual(self.cwd("a.txt"), "550 CWD failed. \"a.txt\": directory not found.\r\n")
        self.assertEqual(self.cwd("\\nowhere\\deep\\"), "550 CWD failed. \"nowhere/deep\": directory not found.\r\n")
        self.assertEqual(self.c.cmd("PWD"), "257 \"/\" is current directory.\r\n")

    def test_view_shows_the_configured_root(self):
        self.cwd("pub")
        view = self.srv.view("conn")
        self.assertIn("\tLocalDirectory:root/pub\n\tCurrentDirectory:/pub\n", view)


class Confinement(FileTest):
    def test_nothing_above_the_root_is_reached(self):
        self.cwd("pub")
        attempts = [
            ("CWD ..", "250 \"/pub/..\" is current directory.\r\n"),  # back at the root: inside
            ("CWD ..", "550 CWD failed. \"..\": directory not found.\r\n"),
            ("CWD ../..", "550 CWD failed. \"../..\": directory not found.\r\n"),
            ("CWD /../secret", "550 CWD failed. \"../secret\": directory not found.\r\n"),
            ("DELE ../outside.txt", "550 File not found.\r\n"),
            ("DELE /../outside.txt", "550 File not found.\r\n"),
            ("SIZE ../outside.txt", "550 File not found\r\n"),
            ("MKD ../made", "550 Directory created failed.\r\n"),
            ("RMD ../secret", "550 Directory not found.\r\n"),
            ("RNFR ../outside.txt", "550 ../outside.txt: The system cannot find the file specified.\r\n"),
            ("RNFR a.txt", "350 File exists, ready for destination name\r\n"),
            ("RNTO ../stolen.txt", "550 RNTO command failed.\r\n"),
            ("RNTO pub/../../stolen.txt", "550 RNTO command failed.\r\n"),
            ("RMD /", "550 Directory not found.\r\n"),
            ("RMD .", "550 Directory not found.\r\n"),
        ]
        os.rmdir(self.srv.path("empty"))
        for line, reply in attempts:
            self.assertEqual(self.c.cmd(line), reply, line)
        self.assertEqual(sorted(os.listdir(self.srv.workdir)), ["config", "outside.txt", "root", "secret"])
        with open(self.outside) as f:
            self.assertEqual(f.read(), "keep me")
        self.assertTrue(os.path.isdir(self.srv.root))
        self.assertEqual(self.c.cmd("SIZE pub/../a.txt"), "213 1234\r\n")  # names that stay inside work


class FileCommands(FileTest):
    def test_size(self):
        self.assertEqual(self.c.cmd("SIZE a.txt"), "213 1234\r\n")
        self.assertEqual(self.c.cmd("SIZE pub/p.txt"), "213 6\r\n")
        since = self.srv.mark()
        self.assertEqual(self.c.cmd("SIZE docs"), "550 File not found\r\n")
        self.srv.wait_for("root/docs\r\n", since)
        self.assertEqual(self.c.cmd("SIZE missing"), "550 File not found\r\n")

    def test_size_of_huge_files(self):
        with open(self.srv.path("huge.bin"), "wb") as f:
            f.truncate(3 * 1024 ** 3 + 5)  # sparse: no disk space used
        self.assertEqual(self.c.cmd("SIZE huge.bin"), "213 3221225477\r\n")

    def test_dele(self):
        self.assertEqual(self.c.cmd("DELE a.txt"), "250 File \"a.txt\" was deleted successfully.\r\n")
        self.assertFalse(os.path.exists(self.srv.path("a.txt")))
        self.assertEqual(self.c.cmd("DELE a.txt"), "550 File not found.\r\n")
        self.assertEqual(self.c.cmd("DELE empty"), "550 File not found.\r\n")
        self.assertTrue(os.path.isdir(self.srv.path("empty")))

    def test_slash_names_count_from_the_root(self):
        self.srv.put("pub/a.txt", "pub's own a.txt")
        self.cwd("pub")
        self.assertEqual(self.c.cmd("DELE /a.txt"), "250 File \"/a.txt\" was deleted successfully.\r\n")
        self.assertFalse(os.path.exists(self.srv.path("a.txt")))
        self.assertTrue(os.path.exists(self.srv.path("pub/a.txt")))
        self.assertEqual(self.c.cmd("MKD /docs/new"), "257 \"/docs/new\" Directory created successfully.\r\n")
        self.assertTrue(os.path.isdir(self.srv.path("docs/new")))
        self.assertEqual(self.c.cmd("SIZE /docs/d.txt"), "213 7\r\n")

    def test_rmd_and_mkd(self):
        self.assertEqual(self.c.cmd("RMD docs"), "550 Directory not found.\r\n")  # not empty
        self.assertEqual(self.c.cmd("RMD empty"), "250 Directory deleted successfully.\r\n")
        self.assertEqual(self.c.cmd("RMD empty"), "550 Directory not found.\r\n")
        self.assertEqual(self.c.cmd("MKD new dir"), "257 \"new dir\" Directory created successfully.\r\n")
        self.assertTrue(os.path.isdir(self.srv.path("new dir")))
        self.assertEqual(self.c.cmd("MKD new dir"), "550 Directory created failed.\r\n")
        self.assertEqual(self.c.cmd("MKD x/y"), "550 Directory created failed.\r\n")
        self.assertEqual(self.c.cmd("MKD a.txt"), "550 Directory created failed.\r\n")

    def test_rename(self):
        self.assertEqual(self.c.cmd("RNTO b.txt"), "550 RNTO command failed.\r\n")  # no RNFR yet
        self.assertEqual(self.c.cmd("RNFR missing"), "550 missing: The system cannot find the file specified.\r\n")
        self.assertEqual(self.c.cmd("RNFR a.txt"), "350 File exists, ready for destination name\r\n")
        self.assertEqual(self.c.cmd("RNTO b.txt"), "250 RNTO command successful.\r\n")
        self.assertEqual(self.srv.read("b.txt"), b"a" * 1234)
        self.assertEqual(self.c.cmd("RNTO c.txt"), "550 RNTO command failed.\r\n")  # a.txt is gone
        self.assertEqual(self.c.cmd("RNFR docs"), "350 File exists, ready for destination name\r\n")
        self.assertEqual(self.c.cmd("RNTO manuals"), "250 RNTO command successful.\r\n")
        self.assertTrue(os.path.isdir(self.srv.path("manuals")))

    def test_rename_never_replaces_a_file(self):
        self.c.cmd("RNFR a.txt")
        self.assertEqual(self.c.cmd("RNTO pub/p.txt"), "550 RNTO command failed.\r\n")
        self.assertEqual(self.srv.read("pub/p.txt"), b"in pub")
        self.assertEqual(self.srv.read("a.txt"), b"a" * 1234)

    def test_rename_source_is_joined_at_rnto(self):
        self.srv.put("pub/old", "pub's old")
        self.srv.put("old", "root's old")
        self.assertEqual(self.c.cmd("RNFR old"), "350 File exists, ready for destination name\r\n")
        self.cwd("pub")
        self.assertEqual(self.c.cmd("RNTO new"), "250 RNTO command successful.\r\n")
        self.assertEqual(self.srv.read("pub/new"), b"pub's old")
        self.assertEqual(self.srv.read("old"), b"root's old")

    def test_long_arguments(self):
        name = "n" * 300
        reply = self.c.cmd("RNFR " + name)
        self.assertEqual(reply, "550 %s: The system cannot find the file specified.\r\n" % name)
        self.srv.put("n" * 200, "x")
        self.assertEqual(self.c.cmd("RNFR " + "n" * 200), "350 File exists, ready for destination name\r\n")
        huge = "m" * 1015
        for command, start in (("DELE", "550 File not found.\r\n"), ("CWD", "550 CWD failed. \"mmm"),
                               ("RNFR", "550 mmm"), ("SIZE", "550 File not found\r\n"),
                               ("MKD", "550 Directory created failed.\r\n")):
            reply = self.c.cmd(command + " " + huge)
            self.assertTrue(reply.startswith(start), reply[:50])
            self.assertTrue(reply.endswith("\r\n"))
            self.assertLessEqual(len(reply), 1023)
        deep = "/".join(["d" * 200] * 5)
        self.srv.put(deep + "/" + "f" * 50 + "/", None)
        self.assertTrue(self.cwd(deep).startswith("250 "))
        # One more level would pass 1023 characters: refused, and nothing changes.
        self.assertEqual(self.cwd("f" * 50), "550 CWD failed. \"%s\": directory not found.\r\n" % ("f" * 50))
        self.assertEqual(self.c.cmd("MKD " + "e" * 50), "550 Directory created failed.\r\n")
        reply = self.c.cmd("PWD")  # the directory is cut to fit the reply, its ending kept
        self.assertTrue(reply.startswith("257 \"/" + deep[:900]), reply[:40])
        self.assertTrue(reply.endswith("d\" is current directory.\r\n"), reply[-40:])
        self.assertEqual(len(reply), 1023)
        self.assertEqual(self.c.cmd("NOOP"), "200 OK\r\n")


if __name__ == "__main__":
    unittest.main()
