# Logging in: the accounts, their passwords and limits, re-login, and the
# basic commands of a logged-in connection.

import unittest

from harness import ServerTest, user

NO_USER = "530 Not logged in, user or password incorrect!\r\n"
WRONG = "530 Not logged in, user or password incorrect.\r\n"
TOO_MANY = "530 Not logged in, too many people are using this user.\r\n"
NO_HOME = "530 Not logged in, user has no home directory.\r\n"
OK = "230 User successfully logged in.\r\n"

ACCOUNTS = [
    user("alice", "secret", max_connections=2),
    user("bob", "hunter2", max_connections=3),
    user("anon"),                                   # empty password: any password
    user("off", "secret", enabled=0),
    user("offanon", enabled=0),
    user("homeless", "pw", directories=[]),
    user("grouped", "pw", group="staff"),
]


class Login(ServerTest):
    def setUp(self):
        self.srv = self.serve(users=ACCOUNTS, max_connections=50)

    def attempt(self, name, password):
        c = self.connect(self.srv)
        if name is not None:
            self.assertEqual(c.cmd("USER " + name), "331 Password required for %s\r\n" % name)
        return c.cmd("PASS " + password)

    def test_login_matrix(self):
        cases = [(None, "secret", NO_USER), ("nobody", "secret", NO_USER), ("Alice", "secret", NO_USER),
                 ("alice", "Secret", WRONG), ("alice", "", WRONG), ("off", "secret", WRONG),
                 ("offanon", "anything", WRONG), ("grouped", "pw", TOO_MANY), ("homeless", "pw", NO_HOME),
                 ("anon", "whatever", OK), ("anon", "", OK), ("alice", "secret", OK)]
        for name, password, reply in cases:
            self.assertEqual(self.attempt(name, password), reply, (name, password))

    def test_account_limit_is_freed_by_quit(self):
        first = self.connect(self.srv).login("alice", "secret")
        self.connect(self.srv).login("alice", "secret")
        self.assertEqual(self.attempt("alice", "secret"), TOO_MANY)
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 2)
        self.assertEqual(first.cmd("QUIT"), "221 Bye!\r\n")
        self.assertTrue(first.closed())
        self.srv.wait_field("user", 0, "OnlineConnections", 1)
        self.assertEqual(self.attempt("alice", "secret"), OK)

    def test_relogin_moves_the_count_between_accounts(self):
        c = self.connect(self.srv).login("alice", "secret")
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 1)
        c.cmd("USER bob")
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 0)
        self.assertEqual(c.cmd("NOOP"), "530 Please login with USER and PASS.\r\n")
        self.assertEqual(c.cmd("PASS hunter2"), OK)
        self.assertEqual(c.cmd("PASS hunter2"), OK)  # again: still counted once
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 0)
        self.assertEqual(self.srv.field("user", 1, "OnlineConnections"), 1)
        self.assertEqual(c.cmd("BYE"), "221 Bye!\r\n")
        self.assertTrue(c.closed())
        self.srv.wait_field("user", 1, "OnlineConnections", 0)
        self.srv.wait_field("server", 0, "OnlineConnections", 0)

    def test_basic_commands(self):
        c = self.connect(self.srv).login("anon", "guest@")
        for line, reply in (("PWD", '257 "/" is current directory.'), ("SYST", "215 Windows_NT"), ("NOOP", "200 OK"),
                            ("TYPE A", "200 Type set to A"), ("TYPE I", "200 Type set to I"), ("QUIT", "221 Bye!")):
            self.assertEqual(c.cmd(line), reply + "\r\n", line)
        self.assertTrue(c.closed())


if __name__ == "__main__":
    unittest.main()
