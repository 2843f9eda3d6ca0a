# The operator's console as an operator types it: start-up, the three views,
# the console's words, and the ways the program ends.

import re
import subprocess

from harness import ServerTest, Vostrine, config_text, free_port, server, user


class StartUp(ServerTest):
    def test_a_config_that_cannot_be_loaded_ends_the_program(self):
        # The loader's rules are unit-tested; here, what the operator sees: a
        # line naming what was refused, if anything, then "Load Data false...".
        for config, named in [(None, b""), ("2147483647\n", b"server count 2147483647"),
                              (config_text([], [user("bob", "sixteen-letters!")]), b"user 0 (bob) has a PassWord longer than 15")]:
            srv = Vostrine(self, config=config)
            out = srv.output() if srv.finish() == 0 else b"exit status %d" % srv.process.returncode
            self.assertTrue(named in out and out.endswith(b"Load Data false...") and out.count(b"\n") == bool(named), out)

    def test_start_up_lines_prompt_and_a_value_of_255_characters_ended_by_cr_lf(self):
        srv = Vostrine(self, config=config_text([server(free_port(), welcome="w" * 255)], []).replace("\n", "\r\n"))
        self.assertIn("\tWelcomeText:%s\n" % ("w" * 255), srv.view("server"))
        self.assertRegex(srv.output().decode(), r"^Host Name: .*\nLocal IP: \d+\.\d+\.\d+\.\d+\n"
                                                r"Press \"close\" Key to Quit \.\.\.\nVostrine>")


class Views(ServerTest):
    def test_views_byte_for_byte(self):
        port = free_port()
        srv = Vostrine(self, servers=[server(port, name="Alpha server name longer than nineteen", max_connections=7,
                                             welcome="Hi there", goodbye="See you", ip="10.0.0.1"),
                                      server(free_port(), name="Beta", state=2, max_connections=3)],
                       users=[user("alice", "secret", max_connections=4, enabled=65535, server_id=1),
                              user("grouped", "pw", group="staff"), user("anon")])
        text = srv.view("server")
        text = re.sub(r"\tThread:\d+\n\tSocket:-?\d+\n", "\tThread:<id>\n\tSocket:<fd>\n", text, count=1)
        self.assertEqual(text, "ServerCount:2\nServer[0]:\n\tState:0\n\tName:Alpha server name l\n\tIP::10.0.0.1\n"
                               "\tPort:%d\n\tMaxConnections:7\n\tOnlineConnections:0\n\tWelcomeText:Hi there\n"
                               "\tGoodByeText:See you\n\tThread:<id>\n\tSocket:<fd>\n"
                               "Server[1]:\n\tState:2\n\tName:Beta\n\tIP::\n\tPort:%d\n\tMaxConnections:3\n"
                               "\tOnlineConnections:0\n\tWelcomeText:Welcome!\n\tGoodByeText:Bye!\n\tThread:0\n\tSocket:0\n"
                         % (port, int(re.search(r"Server\[1\]:.*?Port:(\d+)", text, re.S).group(1))))
        self.assertEqual(srv.view("user"), "UserCount:3\n"
                         "User[0]:\n\tName:alice\n\tPassWord:secret\n\tServerID:1\n\tMaxConnections:4\n"
                         "\tOnlineConnections:0\n\tUserGroup:0\n\tEnabled:-1\n"
                         "User[1]:\n\tName:grouped\n\tPassWord:pw\n\tServerID:0\n\tMaxConnections:0\n"
                         "\tOnlineConnections:0\n\tUserGroup:0\n\tEnabled:1\n"
                         "User[2]:\n\tName:anon\n\tPassWord:\n\tServerID:0\n\tMaxConnections:5\n"
                         "\tOnlineConnections:0\n\tUserGroup:0\n\tEnabled:1\n")
        self.assertEqual(srv.view("conn"), "ConnectionCount:0\n")


class ConsoleWords(ServerTest):
    def test_words_as_an_operator_types_them(self):
        srv = self.serve()
        users = srv.view("user")
        since = len(srv.output())
        # "view close" shows nothing and does not stop; upper case and unknown
        # words are ignored; an over-long word is cut, not split into two words.
        srv.type("view close\nVIEW user\nview nothing\n" + "x" * 300 + "view\nview user clear\nview conn\n")
        srv.wait_for("ConnectionCount:0\nVostrine>", since)  # the last word's answer: every one before it is done
        out = srv.output()[since:].decode()
        self.assertEqual(out, "Vostrine>" * 5 + users + "Vostrine>Vostrine>ConnectionCount:0\nVostrine>")

    def test_close_discards_the_rest_of_its_line_then_pauses_and_the_end_of_input_stops_alike(self):
        srv, ended = self.serve(), self.serve()
        srv.type("close view user\n")
        srv.wait_for("Press Enter to continue . . .")
        self.assertRaises(subprocess.TimeoutExpired, srv.process.wait, 0.3)  # the pause waits for a line
        self.assertNotIn(b"UserCount", srv.output())
        srv.type("\n")
        ended.process.stdin.close()
        self.assertEqual([srv.finish(), ended.finish()], [0, 0])
        self.assertTrue(ended.output().endswith(b"Press Enter to continue . . ."))
