# Logging in: the accounts, their passwords and limits, re-login, and the
# basic commands of a logged-in connection.


from harness import ServerTest, user
from replies import BYE, LOGGED_IN, LOGIN_FIRST, NO_USER, OK, WRONG

TOO_MANY = "530 Not logged in, too many people are using this user.\r\n"
NO_HOME = "530 Not logged in, user has no home directory.\r\n"
ACCOUNTS = [user("alice", "secret", max_connections=2), user("bob", "hunter2", max_connections=3),
            user("anon"),  # empty password: any password
            user("off", "secret", enabled=0), user("offanon", enabled=0), user("homeless", "pw", directories=[]),
            user("grouped", "pw", group="staff"), user("eve", "pw", root="NULL")]  # SECURITY: an empty root


class Login(ServerTest):
    def setUp(self):
        self.srv = self.serve(users=ACCOUNTS, max_connections=50)

    def attempt(self, name, password):
        c = self.connect(self.srv)
        if name is not None:
            c.talk([("USER " + name, "331 Password required for " + name)])
        return c.cmd("PASS " + password)

    def test_login_matrix(self):
        for name, password, reply in [(None, "secret", NO_USER), ("nobody", "secret", NO_USER), ("Alice", "secret", NO_USER),
                                      ("alice", "Secret", WRONG), ("alice", "", WRONG), ("off", "secret", WRONG),
                                      ("offanon", "anything", WRONG), ("grouped", "pw", TOO_MANY),
                                      ("homeless", "pw", NO_HOME), ("eve", "pw", NO_HOME),
                                      ("anon", "whatever", LOGGED_IN), ("anon", "", LOGGED_IN), ("alice", "secret", LOGGED_IN)]:
            self.assertEqual(self.attempt(name, password), reply, (name, password))
        self.assertIn(b"user 7 (eve) has an empty root directory", self.srv.output())

    def test_account_limit_is_freed_by_quit(self):
        first = self.connect(self.srv).login("alice", "secret")
        self.connect(self.srv).login("alice", "secret")
        self.assertEqual(self.attempt("alice", "secret"), TOO_MANY)
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 2)
        first.talk([("QUIT", BYE)])
        self.srv.wait_field("user", 0, "OnlineConnections", 1)
        self.assertEqual(self.attempt("alice", "secret"), LOGGED_IN)

    def test_relogin_moves_the_count_between_accounts(self):
        c = self.connect(self.srv).login("alice", "secret")
        c.talk([("USER bob", "331 Password required for bob")])
        self.assertEqual(self.srv.field("user", 0, "OnlineConnections"), 0)
        c.talk([("NOOP", LOGIN_FIRST), ("PASS hunter2", LOGGED_IN), ("PASS hunter2", LOGGED_IN)])  # counted once
        self.assertEqual([self.srv.field("user", i, "OnlineConnections") for i in (0, 1)], [0, 1])
        c.talk([("BYE", BYE)])
        self.srv.wait_field("user", 1, "OnlineConnections", 0)
        self.srv.wait_field("server", 0, "OnlineConnections", 0)

    def test_basic_commands(self):
        c = self.connect(self.srv).login("anon", "guest@")
        c.talk([("PWD", '257 "/" is current directory.'), ("SYST", "215 Windows_NT"), ("NOOP", OK),
                ("TYPE A", "200 Type set to A"), ("TYPE I", "200 Type set to I"), ("QUIT", BYE)])
        self.assertTrue(c.closed())
