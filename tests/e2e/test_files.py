# Moving around and managing files: CWD over a real tree, SIZE, DELE, RMD,
# MKD, RNFR/RNTO, and every attempt to reach above the account's root.

import os

from harness import ServerTest, content
from replies import NOT_FOUND, RENAME_FAILED, RENAME_READY

NOT_THERE = "550 %s: The system cannot find the file specified."
CWD_FAILED = '550 CWD failed. "%s": directory not found.'
NO_DIRECTORY, NOT_MADE = "550 Directory not found.", "550 Directory created failed."


class FileTest(ServerTest):
    def setUp(self):
        self.srv = self.serve(files={"a.txt": "a" * 1234, "pub/p.txt": "in pub", "pub/incoming/": None,
                                     "docs/d.txt": "in docs", "empty/": None})
        content(os.path.join(self.srv.workdir, "outside.txt"), "keep me")  # beside the root: what no client may touch
        os.makedirs(os.path.join(self.srv.workdir, "secret"))
        self.c = self.connect(self.srv).login("alice", "secret")

    def test_nothing_above_the_root_is_reached(self):
        # The walk's rules are unit-tested; here, the replies and what the view shows.
        os.rmdir(self.srv.path("empty"))
        self.c.talk([("CWD pub", '250 "/pub" is current directory.'), ("PWD", '257 "/pub" is current directory.')])
        self.assertIn("\tLocalDirectory:root/pub\n\tCurrentDirectory:/pub\n", self.srv.view("conn"))
        self.c.talk([("CWD \\nowhere\\deep\\", CWD_FAILED % "nowhere/deep"), ("CWD /p.txt", CWD_FAILED % "p.txt"),
                     ("CWD ..", '250 "/pub/.." is current directory.'),  # back at the root: inside
                     ("CWD ..", CWD_FAILED % ".."), ("CWD ../..", CWD_FAILED % "../.."),
                     ("CWD /../secret", CWD_FAILED % "../secret"), ("DELE ../outside.txt", NOT_FOUND),
                     ("DELE /../outside.txt", NOT_FOUND), ("SIZE ../outside.txt", "550 File not found"),
                     ("MKD ../made", NOT_MADE), ("RMD ../secret", NO_DIRECTORY),
                     ("RNFR ../outside.txt", NOT_THERE % "../outside.txt"), ("RNFR a.txt", RENAME_READY),
                     ("RNTO ../stolen.txt", RENAME_FAILED), ("RNTO pub/../../stolen.txt", RENAME_FAILED),
                     ("RMD /", NO_DIRECTORY), ("RMD .", NO_DIRECTORY),
                     ("SIZE pub/../a.txt", "213 1234"), ("CWD", '250 "/" is current directory.')])  # inside: they work
        self.assertEqual(sorted(os.listdir(self.srv.workdir)), ["config", "outside.txt", "root", "secret"])
        self.assertEqual(content(os.path.join(self.srv.workdir, "outside.txt")), b"keep me")
        self.assertTrue(os.path.isdir(self.srv.root))

    def test_commands_in_sequence(self):
        self.srv.put("pub/a.txt", "pub's own a.txt")
        self.c.talk([
            ("SIZE a.txt", "213 1234"), ("SIZE pub/p.txt", "213 6"), ("SIZE docs", "550 File not found"),
            ("SIZE missing", "550 File not found"), ("CWD pub", '250 "/pub" is current directory.'),
            ("DELE /a.txt", '250 File "/a.txt" was deleted successfully.'),  # from the root, not /pub
            ("DELE /a.txt", NOT_FOUND), ("DELE /empty", NOT_FOUND),
            ("MKD /docs/new", '257 "/docs/new" Directory created successfully.'), ("CWD /", '250 "/" is current directory.'),
            ("RMD docs", NO_DIRECTORY), ("RMD empty", "250 Directory deleted successfully."), ("RMD empty", NO_DIRECTORY),
            ("MKD new dir", '257 "new dir" Directory created successfully.'), ("MKD new dir", NOT_MADE), ("MKD x/y", NOT_MADE),
            ("RNTO b.txt", RENAME_FAILED),  # no RNFR yet
            ("RNFR missing", NOT_THERE % "missing"), ("RNFR pub/a.txt", RENAME_READY),
            ("RNTO pub/p.txt", RENAME_FAILED),  # an existing target is never replaced
            ("RNTO b.txt", "250 RNTO command successful."), ("RNTO c.txt", RENAME_FAILED), ("RNFR docs", RENAME_READY),
            ("CWD pub", '250 "/pub" is current directory.'),
            ("RNTO manuals", RENAME_FAILED),  # the source is joined at RNTO: /pub/docs
            ("RNFR /docs", RENAME_READY), ("RNTO manuals", "250 RNTO command successful."),
            ("RNFR " + "n" * 256, NOT_THERE % ("n" * 256))])  # too long to keep
        self.assertFalse(os.path.exists(self.srv.path("a.txt")) or os.path.exists(self.srv.path("empty")))
        self.assertEqual([self.srv.read(name) for name in ("b.txt", "pub/p.txt", "pub/manuals/d.txt")],
                         [b"pub's own a.txt", b"in pub", b"in docs"])
        self.assertTrue(os.path.isdir(self.srv.path("new dir")))
        self.srv.put("n" * 255, "x")
        self.c.talk([("CWD /", '250 "/" is current directory.'), ("RNFR " + "n" * 255, RENAME_READY)])
