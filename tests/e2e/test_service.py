# Running it for real: the options an operator sets for a service, the logs
# its tools read, signals, and the installed files.

import ctypes
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import time
import unittest

from harness import (BINARY, TOP, WAIT, ServerTest, Vostrine, certificate, content, pasv_target, reset, run, server,
                     user, wait_until)
from replies import COMPLETE, LOGGED_IN, LOGIN_FIRST, OPENING, PORT_OK, TOO_MANY_USERS, WRONG


class Service(ServerTest):
    def test_signals_stop_cleanly_and_sighup_reopens_the_logs(self):
        for number, args in ((signal.SIGINT, []), (signal.SIGTERM, ["--no-console"]), (signal.SIGHUP, [])):
            srv = self.serve(args=args + ["--hide-passwords"])
            if args:
                srv.process.stdin.close()  # without a console, it serves on after its input ends
            c = self.connect(srv).login("alice", "secret")
            self.assertFalse(c.closed(wait=0.3))
            srv.wait_for(":PASS ****\r\n")
            if not args:
                self.assertIn("\tPassWord:****\n", srv.view("user"))
            srv.process.send_signal(number)  # no console to wait for: the signal alone ends it
            self.assertEqual(srv.finish(), 0, number)
            self.assertTrue(c.closed())
            self.assertFalse(b"Press Enter" in srv.output() or b"secret" in srv.output())
        auth = os.path.join(self.scratch(), "auth.log")
        srv = self.serve(args=["--auth-log", auth])
        self.connect(srv).login("alice", "secret")
        os.rename(auth, auth + ".1")  # as logrotate does
        srv.process.send_signal(signal.SIGHUP)
        wait_until(lambda: os.path.exists(auth), what="the log opened again")
        self.connect(srv).login("alice", "secret")
        srv.stop()
        self.assertEqual((content(auth + ".1").count(b"\n"), content(auth).count(b"\n")), (1, 1))

    def test_listen_address_and_connection_table(self):
        srv = self.serve(args=["--listen", "127.0.0.2", "--max-connections", "10"],
                         max_connections=20)
        self.assertRaises(OSError, socket.create_connection, ("127.0.0.1", srv.port), timeout=WAIT)
        c = self.connect(srv, host="127.0.0.2").login("alice", "secret")
        address, port = pasv_target(c.cmd("PASV"))
        self.assertEqual(address, [127, 0, 0, 2])
        self.assertRaises(OSError, socket.create_connection, ("127.0.0.1", port), timeout=WAIT)  # on that address only
        clients = [self.connect(srv, host="127.0.0.2") for _ in range(9)]
        self.assertEqual(self.connect(srv, greet=False, host="127.0.0.2").line(), TOO_MANY_USERS)

    def test_passive_address_and_ports(self):
        low = 20000 + os.getpid() * 7 % 10000  # below the ephemeral ports other tests take
        srv = self.serve(args=["--passive-address", "10.1.2.3", "--passive-ports", "%d-%d" % (low, low + 2)])
        c = self.connect(srv).login("alice", "secret")
        seen = [pasv_target(c.cmd("PASV")) for _ in range(6)]
        self.assertTrue(all(address == [10, 1, 2, 3] and low <= port <= low + 2 for address, port in seen), seen)
        self.assertGreater(len({port for _, port in seen}), 1)  # a random start
        c.talk([("PORT 127,0,0,1,200,1", PORT_OK)])  # its listener goes
        fds = len(os.listdir("/proc/%d/fd" % srv.process.pid))
        for port in range(low, low + 3):
            self.addCleanup(socket.create_server(("0.0.0.0", port)).close)
        c.talk([("PASV", "425 Data socket bind error.")])
        self.assertEqual(len(os.listdir("/proc/%d/fd" % srv.process.pid)), fds)  # nothing leaks

    def test_passive_address_as_a_host_name(self):
        self.assertRefused(["--passive-address", "no-such-host.invalid"],
                           "--passive-address no-such-host.invalid: does not resolve to an IPv4 address")
        srv = self.serve(args=["--passive-address", "localhost"])
        c = self.connect(srv).login("alice", "secret")
        for signalled in (False, True):  # SIGHUP resolves it again, and does not stop the server
            os.kill(srv.process.pid, signal.SIGHUP if signalled else 0)
            self.assertEqual(pasv_target(c.cmd("PASV"))[0], [127, 0, 0, 1])

    @unittest.skipUnless(os.geteuid() == 0, "needs root to change user")
    def test_user_and_group_once_the_port_is_bound(self):
        self.assertRefused(["--user", "no-such-user"], "--user no-such-user: no such user")
        self.assertRefused(["--user", "nobody", "--group", "no-such-group"], "--group no-such-group: no such group")
        nobody = pwd.getpwnam("nobody")
        srv = self.serve(args=["--user", "nobody", "--group", "root"],
                         prepare=lambda work: (os.chmod(work, 0o755), os.chmod(os.path.join(work, "root"), 0o777)))
        status = dict(line.split(":", 1) for line in content("/proc/%d/status" % srv.process.pid).decode().splitlines())
        self.assertEqual((status["Uid"].split(), status["Gid"].split()), ([str(nobody.pw_uid)] * 4, ["0"] * 4))
        self.assertEqual(self.connect(srv).login("alice", "secret").transfer("STOR mine.txt", b"x")[1], OPENING + COMPLETE)
        self.assertEqual(os.stat(srv.path("mine.txt")).st_uid, nobody.pw_uid)

    def test_the_sandbox_serves_the_roots(self):
        self.assertEqual(run("--sandbox=maybe").returncode, 2)
        if ctypes.CDLL(None).syscall(444, None, 0, 1) < 1:  # landlock_create_ruleset's version query (x86-64)
            self.skipTest("this kernel has no Landlock")
        srv = self.serve(args=["--sandbox=required"], files={"a.txt": b"hello"})
        self.assertIn(b"NoNewPrivs:\t1\n", content("/proc/%d/status" % srv.process.pid))
        c = self.connect(srv).login("alice", "secret")
        self.assertEqual(c.transfer("RETR a.txt"), (b"hello", OPENING + COMPLETE))
        self.assertEqual(c.transfer("STOR b.txt", b"up"), (b"", OPENING + COMPLETE))
        self.assertEqual(srv.read("b.txt"), b"up")

    def test_verbose_lines_and_a_service_that_cannot_bind(self):
        srv = self.serve(args=["--verbose"])
        c = self.connect(srv)
        srv.wait_for(re.compile(rb"Connection (\d+) from 127\.0\.0\.1 port %d\n" % c.sock.getsockname()[1]))
        c.close()
        srv.wait_for(re.compile(rb"Connection \d+ closed\n"))
        with socket.create_server(("0.0.0.0", 0)) as taken:
            port = taken.getsockname()[1]
            busy = Vostrine(self, servers=[server(port)], users=[user("alice", "secret")], args=["--verbose"])
            busy.wait_for("Thread Closed. Bind socket error\nListening on 0.0.0.0 port %d: Address already in use\n" % port)
            done = run("--no-console", cwd=busy.workdir)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"no listener could bind:\n0.0.0.0 port %d: Address already in use\n" % port, done.stderr)

    def test_ready_and_stopping_reach_the_service_manager(self):
        manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(manager.close)
        manager.bind(os.path.join(self.scratch(), "notify"))
        manager.settimeout(WAIT)
        os.environ["NOTIFY_SOCKET"] = manager.getsockname()
        try:
            srv = self.serve(args=["--no-console"])
        finally:
            del os.environ["NOTIFY_SOCKET"]
        self.assertEqual(manager.recv(4096), b"READY=1")
        srv.stop()
        self.assertEqual(manager.recv(4096), b"STOPPING=1")

    def write(self, text):
        return content(os.path.join(self.scratch(), "vostrine.conf"), text)

    def test_every_option_as_a_setting_and_the_command_line_wins(self):
        low = 20000 + os.getpid() * 11 % 10000
        values = {"extensions": "yes", "passive-address": "127.0.0.1", "passive-ports": "%d-%d" % (low, low + 3),
                  "max-connections": "50", "hide-passwords": "true", "listen": "127.0.0.1", "idle-timeout": "300",
                  "max-per-address": "1", "no-console": "no", "tls-allow-new-data-sessions": "no", "tls-required": "0",
                  "config": "config", "tls-cert": certificate()[0], "tls-key": certificate()[1],
                  "xferlog": self.write("") + ".xferlog", "auth-log": self.write("") + ".auth"}
        settings = self.write("; written by an operator\n[vostrine]\n%s\n[account alice]\npermissions = full\n"
                              % "\n".join("%s = %s" % item for item in values.items()))
        srv = self.serve(args=["--settings", settings, "--max-per-address", "2"])
        first, second = self.connect(srv).login("alice", "secret"), self.connect(srv)
        self.assertEqual(self.connect(srv, greet=False).line(), b"421 Too many connections from your address.\r\n")
        self.assertTrue(low <= pasv_target(first.cmd("PASV"))[1] <= low + 3)
        first.talk([("SYST", "215 UNIX Type: L8")])
        second.login("alice", "secret")
        srv.wait_for(":PASS ****\r\n")
        first.talk([("AUTH TLS", "234 AUTH TLS successful.")])

    def test_refusals_name_the_file_the_line_and_the_key(self):
        for text, fault in (("[vostrine]\nextensions = maybe\n", ":2: extensions = maybe: expected yes, no"),
                            ("\n[vostrine]\nmax-connections = 0\n", ":3: max-connections = 0: expected a number"),
                            ("[vostrine]\nbogus = 1\n", ":2: bogus: not a setting"),
                            ("[vostrine]\nsettings = other.conf\n", ":2: settings: not a setting"),
                            ("extensions = yes\n", ":1: extensions: outside the [vostrine] section"),
                            ("[vostrine]\njust words\n", ":2: not a [section]")):
            path = self.write(text)
            self.assertRefused(["--settings", path], path + fault, whole=False)
        self.assertRefused(["--settings", "/nonexistent.conf"], "/nonexistent.conf: No such file or directory")

    def test_xferlog_and_auth_log_lines(self):
        logs = self.scratch()
        xferlog, auth = os.path.join(logs, "xferlog"), os.path.join(logs, "auth.log")
        srv = self.serve(args=["--xferlog", xferlog, "--auth-log", auth],
                         files={"pub/a.bin": b"a" * 5000, "big.bin": bytes(32 << 20)})
        self.connect(srv).talk([("USER alice", "331 Password required for alice"), ("PASS wrong", WRONG)])
        c = self.connect(srv).login("alice", "secret")
        c.cmd("CWD pub")
        self.assertEqual(len(c.transfer("RETR a.bin")[0]), 5000)
        data = c.begin("RETR /big.bin")
        data.recv(65536)
        reset(data)  # broken off
        c.reply(), c.reply()
        srv.stop()
        # the date, seconds, host, size, name, then nine fields of fixed meaning
        self.assertRegex(content(xferlog).decode(), r"^\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4} [1-9]\d* 127\.0\.0\.1 5000 "
                         r"/pub/a\.bin b _ o r alice ftp 0 \* c\n\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4} \d+ "
                         r"127\.0\.0\.1 \d+ /big\.bin b _ o r alice ftp 0 \* i\n$")
        self.assertRegex(content(auth).decode(), r"login failed for user alice from 127\.0\.0\.1 port \d+\n.*"
                                                 r"login ok for user alice from 127\.0\.0\.1 port \d+\n$")

    def test_pauses_grow_and_the_fifth_failure_closes(self):
        srv = self.serve(users=[user("alice", "secret"), user("bob", "pw")])
        c = self.connect(srv)
        started = time.monotonic()
        c.send("USER alice\r\nPASS a\r\nPASS b\r\nNOOP\r\n")  # the NOOP waits for both pauses
        self.assertEqual("".join(c.reply() for _ in range(4)), "331 Password required for alice\r\n" + WRONG * 2 + LOGIN_FIRST)
        self.assertGreater(time.monotonic() - started, 2.5)  # 1 s, then 2 s
        c.talk([("USER bob", "331 Password required for bob"), ("PASS c", WRONG)])  # does not start over
        self.assertGreater(time.monotonic() - started, 6.5)  # then 4 s
        c.talk([("PASS pw", LOGGED_IN)])
        other = self.connect(srv)
        other.cmd("PASS x")  # a password with no user counts as well
        since = len(srv.output())
        other.send("PASS y\r\n")
        srv.wait_for(":PASS y\r\n", since)
        srv.type("clear\n")  # ends the pausing connection at once
        self.assertTrue(other.closed(wait=1.5))
        last = self.connect(srv)
        last.send("".join("PASS %d\r\n" % i for i in range(5)))
        self.assertTrue(last.closed(wait=40))
        self.assertEqual(last.pending.count(b"530 Not logged in"), 5)

    def test_install_then_run_the_installed_binary_then_uninstall(self):
        stage = self.scratch()
        make = ["make", "-s", "-C", TOP, "DESTDIR=" + stage, "PREFIX=/usr", "BUILD=" + os.path.dirname(BINARY)]
        subprocess.run(make + ["install"], check=True, capture_output=True, timeout=120)
        installed = {os.path.relpath(os.path.join(d, f), stage) for d, _, files in os.walk(stage) for f in files}
        doc, unit, binary = "usr/share/doc/vostrine/", os.path.join(stage, "usr/lib/systemd/system/vostrine.service"), \
            os.path.join(stage, "usr/sbin/vostrine")
        self.assertEqual(installed, {"usr/sbin/vostrine", "usr/share/man/man8/vostrine.8", doc + "config.example",
                                     doc + "vostrine.conf.example", doc + "fail2ban/filter.d/vostrine.conf",
                                     doc + "fail2ban/jail.d/vostrine.conf", "usr/lib/systemd/system/vostrine.service"})
        text = content(unit).decode()
        self.assertIn("ExecStart=/usr/sbin/vostrine --settings /etc/vostrine/vostrine.conf\n", text)
        if shutil.which("systemd-analyze"):  # the hardened unit: "OK" is 2.0 or less
            done = subprocess.run(["systemd-analyze", "security", "--offline=true", unit], capture_output=True,
                                  text=True, timeout=60)
            exposure = float(re.search(r"Overall exposure level for \S+: ([\d.]+)", done.stdout).group(1))
            self.assertLessEqual(exposure, 2.0, done.stdout[-3000:])
        else:
            print("systemd-analyze is not installed: the unit's security rating was not checked")
        # The example settings are settings this binary takes (the files they name aside).
        done = run("--settings", os.path.join(stage, doc, "vostrine.conf.example"), "--config", "/nonexistent",
                   "--xferlog", os.devnull, "--auth-log", os.devnull, binary=binary, cwd=stage, stdin=subprocess.DEVNULL)
        self.assertNotIn(b"vostrine:", done.stderr)
        srv = self.serve(args=["--no-console"], binary=binary)
        self.connect(srv).login("alice", "secret").talk([("QUIT", "221 Bye!")])
        srv.stop()
        shutil.rmtree(srv.workdir)
        subprocess.run(make + ["uninstall"], check=True, capture_output=True, timeout=60)
        self.assertEqual(os.listdir(stage), [])  # the folders it made are gone too
