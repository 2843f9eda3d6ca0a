# Moving around and managing files: CWD over a real tree, SIZE, DELE, RMD,
# MKD, RNFR/RNTO, and every attempt to reach above the account's root.

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
    # The walk's rules are unit-tested; here, the replies and what the view shows.
    def test_replies_and_view(self):
        self.assertEqual(self.cwd("pub"), "250 \"/pub\" is current directory.\r\n")
        self.assertEqual(self.c.cmd("PWD"), "257 \"/pub\" is current directory.\r\n")
        self.assertIn("\tLocalDirectory:root/pub\n\tCurrentDirectory:/pub\n", self.srv.view("conn"))
        self.assertEqual(self.cwd("\\nowhere\\deep\\"), "550 CWD failed. \"nowhere/deep\": directory not found.\r\n")
        self.assertEqual(self.cwd("/p.txt"), "550 CWD failed. \"p.txt\": directory not found.\r\n")
        self.assertEqual(self.cwd(None), "250 \"/\" is current directory.\r\n")


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
    def test_commands_in_sequence(self):
        self.srv.put("pub/a.txt", "pub's own a.txt")
        steps = [
            ("SIZE a.txt", "213 1234"), ("SIZE pub/p.txt", "213 6"), ("SIZE docs", "550 File not found"),
            ("SIZE missing", "550 File not found"),
            ("CWD pub", '250 "/pub" is current directory.'),
            ("DELE /a.txt", '250 File "/a.txt" was deleted successfully.'),  # from the root, not /pub
            ("DELE /a.txt", "550 File not found."), ("DELE /empty", "550 File not found."),
            ("MKD /docs/new", '257 "/docs/new" Directory created successfully.'),
            ("CWD /", '250 "/" is current directory.'),
            ("RMD docs", "550 Directory not found."), ("RMD empty", "250 Directory deleted successfully."),
            ("RMD empty", "550 Directory not found."),
            ("MKD new dir", '257 "new dir" Directory created successfully.'),
            ("MKD new dir", "550 Directory created failed."), ("MKD x/y", "550 Directory created failed."),
            ("RNTO b.txt", "550 RNTO command failed."),  # no RNFR yet
            ("RNFR missing", "550 missing: The system cannot find the file specified."),
            ("RNFR pub/a.txt", "350 File exists, ready for destination name"),
            ("RNTO pub/p.txt", "550 RNTO command failed."),  # an existing target is never replaced
            ("RNTO b.txt", "250 RNTO command successful."), ("RNTO c.txt", "550 RNTO command failed."),
            ("RNFR docs", "350 File exists, ready for destination name"),
            ("CWD pub", '250 "/pub" is current directory.'),
            ("RNTO manuals", "550 RNTO command failed."),  # the source is joined at RNTO: /pub/docs
            ("RNFR /docs", "350 File exists, ready for destination name"),
            ("RNTO manuals", "250 RNTO command successful."),
        ]
        for line, reply in steps:
            self.assertEqual(self.c.cmd(line), reply + "\r\n", line)
        self.assertFalse(os.path.exists(self.srv.path("a.txt")))
        self.assertEqual(self.srv.read("b.txt"), b"pub's own a.txt")
        self.assertEqual(self.srv.read("pub/p.txt"), b"in pub")
        self.assertEqual(self.srv.read("pub/manuals/d.txt"), b"in docs")
        self.assertTrue(os.path.isdir(self.srv.path("new dir")))
        self.assertFalse(os.path.exists(self.srv.path("empty")))

    def test_a_rename_source_too_long_to_keep_is_refused(self):
        self.assertEqual(self.c.cmd("RNFR " + "n" * 256),
                         "550 %s: The system cannot find the file specified.\r\n" % ("n" * 256))
        self.srv.put("n" * 255, "x")
        self.assertEqual(self.c.cmd("RNFR " + "n" * 255), "350 File exists, ready for destination name\r\n")


if __name__ == "__main__":
    unittest.main()
