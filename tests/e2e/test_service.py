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
import tempfile
import time
import unittest

from harness import (BINARY, Client, ServerTest, Vostrine, WAIT, certificate, pasv_target, receive_all, reset, server,
                     user)

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
WRONG = "530 Not logged in, user or password incorrect.\r\n"


class Options(ServerTest):
    def test_no_console_serves_after_its_input_ends_and_stops_on_sigterm(self):
        srv = self.serve(args=["--no-console", "--hide-passwords"])
        srv.process.stdin.close()
        time.sleep(0.3)
        c = self.connect(srv)
        self.assertEqual(c.cmd("USER alice"), "331 Password required for alice\r\n")
        self.assertEqual(c.cmd("PASS secret"), "230 User successfully logged in.\r\n")
        srv.wait_for(":PASS ****\r\n")
        self.assertNotIn(b"secret", srv.output())
        srv.process.send_signal(signal.SIGTERM)  # no console to wait for: the signal alone ends it
        self.assertEqual(srv.finish(), 0)
        self.assertTrue(c.closed())
        self.assertNotIn(b"Press Enter", srv.output())

    def test_signals_stop_cleanly_and_sighup_reopens_the_logs(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            srv = self.serve(args=["--hide-passwords"])
            c = self.connect(srv).login("alice", "secret")
            self.assertIn("\tPassWord:****\n", srv.view("user"))
            srv.process.send_signal(number)
            self.assertEqual(srv.finish(), 0, number)
            self.assertTrue(c.closed())
            self.assertNotIn(b"Press Enter", srv.output())
        logs = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, logs, True)
        auth = os.path.join(logs, "auth.log")
        srv = self.serve(args=["--auth-log", auth])
        self.connect(srv).login("alice", "secret")
        os.rename(auth, auth + ".1")  # as logrotate does
        srv.process.send_signal(signal.SIGHUP)
        time.sleep(0.3)
        self.connect(srv).login("alice", "secret")
        self.assertIsNone(srv.process.poll())
        with open(auth + ".1") as old, open(auth) as new:
            self.assertEqual((len(old.readlines()), len(new.readlines())), (1, 1))

    def test_listen_address_idle_timeout_and_connection_table(self):
        srv = self.serve(args=["--listen", "127.0.0.2", "--idle-timeout", "10", "--max-connections", "10"],
                         max_connections=20)
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", srv.port), timeout=WAIT).close()
        c = self.connect(srv, host="127.0.0.2").login("alice", "secret")
        address, port = pasv_target(c.cmd("PASV"))
        self.assertEqual(address, [127, 0, 0, 2])
        with self.assertRaises(OSError):  # its passive port is on that address only
            socket.create_connection(("127.0.0.1", port), timeout=WAIT).close()
        c.close()
        srv.wait_field("server", 0, "OnlineConnections", 0)
        clients = [self.connect(srv, host="127.0.0.2") for _ in range(10)]
        extra = self.connect(srv, greet=False, host="127.0.0.2")
        self.assertEqual(extra.line(), b"502 Too many users on this server.\n")
        started = time.monotonic()
        self.assertTrue(clients[0].closed(wait=WAIT + 15))  # silent: dropped after about 10 s
        self.assertGreater(time.monotonic() - started, 8)

    def test_passive_address_and_ports(self):
        low = 20000 + os.getpid() * 7 % 10000  # below the ephemeral ports other tests take
        srv = self.serve(args=["--passive-address", "10.1.2.3", "--passive-ports", "%d-%d" % (low, low + 2)])
        c = self.connect(srv).login("alice", "secret")
        seen = set()
        for _ in range(6):
            address, port = pasv_target(c.cmd("PASV"))
            self.assertEqual(address, [10, 1, 2, 3])
            self.assertTrue(low <= port <= low + 2, port)
            seen.add(port)
        self.assertGreater(len(seen), 1)  # a random start
        self.assertEqual(c.cmd("PORT 127,0,0,1,200,1"), "200 Port command successful\r\n")  # its listener goes
        fds = len(os.listdir("/proc/%d/fd" % srv.process.pid))
        for port in range(low, low + 3):
            taken = socket.socket()
            self.addCleanup(taken.close)
            taken.bind(("0.0.0.0", port))
            taken.listen(1)
        self.assertEqual(c.cmd("PASV"), "425 Data socket bind error.\r\n")
        self.assertEqual(len(os.listdir("/proc/%d/fd" % srv.process.pid)), fds)  # nothing leaks


    def test_passive_address_as_a_host_name(self):
        done = subprocess.run([BINARY, "--passive-address", "no-such-host.invalid"], capture_output=True, timeout=WAIT)
        self.assertEqual((done.returncode, done.stderr),
                         (2, b"vostrine: --passive-address no-such-host.invalid: does not resolve to an IPv4 address\n"))
        srv = self.serve(args=["--passive-address", "localhost"])
        c = self.connect(srv).login("alice", "secret")
        for signalled in (False, True):  # SIGHUP resolves it again, and does not stop the server
            if signalled:
                srv.process.send_signal(signal.SIGHUP)
            self.assertEqual(pasv_target(c.cmd("PASV"))[0], [127, 0, 0, 1])
        self.assertEqual(c.cmd("NOOP"), "200 OK\r\n")
        self.assertIsNone(srv.process.poll())


    @unittest.skipUnless(os.geteuid() == 0, "needs root to change user")
    def test_user_and_group_once_the_port_is_bound(self):
        for arguments, fault in ((["--user", "no-such-user"], b"--user no-such-user: no such user"),
                                 (["--user", "nobody", "--group", "no-such-group"], b"--group no-such-group: no such group")):
            done = subprocess.run([BINARY] + arguments, capture_output=True, timeout=WAIT, cwd="/")
            self.assertEqual((done.returncode, done.stderr), (2, b"vostrine: " + fault + b"\n"))
        nobody = pwd.getpwnam("nobody")
        srv = self.serve(args=["--user", "nobody", "--group", "root"],
                         prepare=lambda work: (os.chmod(work, 0o755), os.chmod(os.path.join(work, "root"), 0o777)))
        with open("/proc/%d/status" % srv.process.pid) as f:
            status = dict(line.split(":", 1) for line in f.read().splitlines())
        self.assertEqual(status["Uid"].split(), [str(nobody.pw_uid)] * 4)
        self.assertEqual(status["Gid"].split(), ["0"] * 4)
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.send("STOR mine.txt\r\n")
        data.sendall(b"x")
        data.close()
        self.assertEqual([c.line()[:3], c.line()], [b"150", b"226 Transfer complete.\r\n"])
        self.assertEqual(os.stat(srv.path("mine.txt")).st_uid, nobody.pw_uid)


    def test_the_sandbox_serves_the_roots(self):
        done = subprocess.run([BINARY, "--sandbox=maybe"], capture_output=True, timeout=WAIT)
        self.assertEqual(done.returncode, 2)
        libc = ctypes.CDLL(None, use_errno=True)
        if libc.syscall(444, None, 0, 1) < 1:  # landlock_create_ruleset's version query (x86-64)
            self.skipTest("this kernel has no Landlock")
        srv = self.serve(args=["--sandbox=required"], files={"a.txt": b"hello"})
        with open("/proc/%d/status" % srv.process.pid) as f:
            self.assertIn("NoNewPrivs:\t1\n", f.read())
        c = self.connect(srv).login("alice", "secret")
        data = c.pasv()
        c.send("RETR a.txt\r\n")
        self.assertEqual(receive_all(data), b"hello")
        self.assertEqual([c.line()[:3], c.line()], [b"150", b"226 Transfer complete.\r\n"])
        data = c.pasv()
        c.send("STOR b.txt\r\n")
        data.sendall(b"up")
        data.close()
        self.assertEqual([c.line()[:3], c.line()], [b"150", b"226 Transfer complete.\r\n"])
        self.assertEqual(srv.read("b.txt"), b"up")


    def test_verbose_lines_and_a_service_that_cannot_bind(self):
        srv = self.serve(args=["--verbose"])
        c = self.connect(srv)
        local = c.sock.getsockname()
        srv.wait_for(re.compile(rb"Connection (\d+) from 127\.0\.0\.1 port %d\n" % local[1]))
        c.close()
        srv.wait_for(re.compile(rb"Connection \d+ closed\n"))
        with socket.socket() as taken:
            taken.bind(("0.0.0.0", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            busy = Vostrine(self, servers=[server(port)], users=[user("alice", "secret")], args=["--verbose"])
            busy.wait_for("Thread Closed. Bind socket error\nListening on 0.0.0.0 port %d: Address already in use\n" % port)
            folder = busy.workdir
            done = subprocess.run([BINARY, "--no-console"], capture_output=True, timeout=WAIT, cwd=folder)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"no listener could bind:\n0.0.0.0 port %d: Address already in use\n" % port, done.stderr)


    def test_ready_and_stopping_reach_the_service_manager(self):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder, True)
        manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(manager.close)
        manager.bind(os.path.join(folder, "notify"))
        manager.settimeout(WAIT)
        os.environ["NOTIFY_SOCKET"] = os.path.join(folder, "notify")
        try:
            srv = self.serve(args=["--no-console"])
        finally:
            del os.environ["NOTIFY_SOCKET"]
        self.assertEqual(manager.recv(4096), b"READY=1")
        srv.stop()
        self.assertEqual(manager.recv(4096), b"STOPPING=1")


class Settings(ServerTest):
    def write(self, text):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "vostrine.conf")
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_every_option_as_a_setting_and_the_command_line_wins(self):
        low = 20000 + os.getpid() * 11 % 10000
        values = {"extensions": "yes", "passive-address": "127.0.0.1", "passive-ports": "%d-%d" % (low, low + 3),
                  "max-connections": "50", "hide-passwords": "true", "listen": "127.0.0.1", "idle-timeout": "300",
                  "max-per-address": "1", "no-console": "no", "tls-allow-new-data-sessions": "no", "tls-required": "0",
                  "config": "config", "tls-cert": certificate()[0], "tls-key": certificate()[1]}
        values.update({name: self.write("") + "." + name for name in ("xferlog", "auth-log")})
        settings = self.write("; written by an operator\n[vostrine]\n%s\n[account alice]\nanything = kept for later\n"
                              % "\n".join("%s = %s" % item for item in values.items()))
        srv = self.serve(args=["--settings", settings, "--max-per-address", "2"])
        first, second = self.connect(srv).login("alice", "secret"), self.connect(srv)
        self.assertEqual(self.connect(srv, greet=False).line(), b"421 Too many connections from your address.\r\n")
        address, port = pasv_target(first.cmd("PASV"))
        self.assertTrue(low <= port <= low + 3)
        self.assertEqual(first.cmd("SYST"), "215 UNIX Type: L8\r\n")
        second.cmd("USER alice")
        second.cmd("PASS secret")
        srv.wait_for(":PASS ****\r\n")
        self.assertEqual(first.cmd("AUTH TLS"), "234 AUTH TLS successful.\r\n")

    def test_refusals_name_the_file_the_line_and_the_key(self):
        for text, fault in (("[vostrine]\nextensions = maybe\n", ":2: extensions = maybe: expected yes, no"),
                            ("\n[vostrine]\nmax-connections = 0\n", ":3: max-connections = 0: expected a number"),
                            ("[vostrine]\nbogus = 1\n", ":2: bogus: not a setting"),
                            ("[vostrine]\nsettings = other.conf\n", ":2: settings: not a setting"),
                            ("extensions = yes\n", ":1: extensions: outside the [vostrine] section"),
                            ("[vostrine]\njust words\n", ":2: not a [section]")):
            path = self.write(text)
            done = subprocess.run([BINARY, "--settings", path], capture_output=True, timeout=WAIT, cwd="/")
            self.assertEqual((done.returncode, done.stdout), (2, b""), text)
            self.assertTrue(done.stderr.decode().startswith("vostrine: %s%s" % (path, fault)), done.stderr)
        done = subprocess.run([BINARY, "--settings", "/nonexistent.conf"], capture_output=True, timeout=WAIT)
        self.assertEqual((done.returncode, done.stderr), (2, b"vostrine: /nonexistent.conf: No such file or directory\n"))


class Logs(ServerTest):
    def test_xferlog_and_auth_log_lines(self):
        logs = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, logs, True)
        xferlog, auth = os.path.join(logs, "xferlog"), os.path.join(logs, "auth.log")
        srv = self.serve(args=["--xferlog", xferlog, "--auth-log", auth], files={"pub/a.bin": b"a" * 5000,
                                                                              "big.bin": bytes(32 << 20)})
        bad = self.connect(srv)
        bad.cmd("USER alice")
        self.assertEqual(bad.cmd("PASS wrong"), WRONG)
        c = self.connect(srv).login("alice", "secret")
        c.cmd("CWD pub")
        data = c.pasv()
        c.send("RETR a.bin\r\n")
        self.assertEqual(len(receive_all(data)), 5000)
        c.line(), c.line()
        data = c.pasv()
        c.send("RETR /big.bin\r\n")
        data.recv(65536)
        reset(data)  # broken off
        c.line(), c.line()
        c.cmd("QUIT")
        srv.stop()
        with open(xferlog) as f:
            lines = [line.split() for line in f]
        self.assertEqual(len(lines), 2)
        for fields, name, size, status in ((lines[0], "/pub/a.bin", "5000", "c"), (lines[1], "/big.bin", None, "i")):
            self.assertEqual(len(fields), 18, fields)  # five fields of the date, then thirteen
            self.assertRegex(" ".join(fields[:5]), r"^\w{3} \w{3} \d+ \d\d:\d\d:\d\d \d{4}$")
            self.assertGreaterEqual(int(fields[5]), 1)
            self.assertEqual((fields[6], fields[8]), ("127.0.0.1", name))
            if size:
                self.assertEqual(fields[7], size)
            self.assertEqual(fields[9:], ["b", "_", "o", "r", "alice", "ftp", "0", "*", status])
        with open(auth) as f:
            text = f.read()
        self.assertRegex(text, r"login failed for user alice from 127\.0\.0\.1 port \d+\n.*"
                               r"login ok for user alice from 127\.0\.0\.1 port \d+\n$")


class FailedLogins(ServerTest):
    def test_pauses_grow_and_the_fifth_failure_closes(self):
        srv = self.serve(users=[user("alice", "secret"), user("bob", "pw")])
        c = self.connect(srv)
        started = time.monotonic()
        c.send("USER alice\r\nPASS a\r\nPASS b\r\nNOOP\r\n")  # the NOOP waits for both pauses
        self.assertEqual(c.line(), b"331 Password required for alice\r\n")
        self.assertEqual([c.line(), c.line()], [WRONG.encode()] * 2)
        self.assertEqual(c.line(), b"530 Please login with USER and PASS.\r\n")
        self.assertGreater(time.monotonic() - started, 2.5)  # 1 s, then 2 s
        self.assertEqual(c.cmd("USER bob"), "331 Password required for bob\r\n")  # does not start over
        self.assertEqual(c.cmd("PASS c"), WRONG)
        self.assertGreater(time.monotonic() - started, 6.5)  # then 4 s
        self.assertEqual(c.cmd("PASS pw"), "230 User successfully logged in.\r\n")
        other = self.connect(srv)
        other.cmd("PASS x")  # a password with no user counts as well
        other.send("PASS y\r\n")
        time.sleep(0.3)
        srv.type("clear\n")  # ends the pausing connection at once
        self.assertTrue(other.closed(wait=1.5))
        last = self.connect(srv)
        for i in range(5):
            last.send("PASS %d\r\n" % i)
        self.assertTrue(last.closed(wait=40))
        self.assertEqual(last.pending.count(b"530 Not logged in"), 5)


class Install(unittest.TestCase):
    def test_install_then_run_the_installed_binary_then_uninstall(self):
        stage = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, stage, True)
        make = ["make", "-s", "-C", TOP, "DESTDIR=" + stage, "PREFIX=/usr", "BUILD=" + os.path.dirname(BINARY)]
        subprocess.run(make + ["install"], check=True, capture_output=True, timeout=120)
        installed = {os.path.relpath(os.path.join(d, f), stage) for d, _, files in os.walk(stage) for f in files}
        doc = "usr/share/doc/vostrine/"
        self.assertEqual(installed, {"usr/sbin/vostrine", "usr/share/man/man8/vostrine.8", doc + "config.example",
                                     doc + "vostrine.conf.example", doc + "fail2ban/filter.d/vostrine.conf",
                                     doc + "fail2ban/jail.d/vostrine.conf", "usr/lib/systemd/system/vostrine.service"})
        unit = os.path.join(stage, "usr/lib/systemd/system/vostrine.service")
        with open(unit) as f:
            self.assertIn("ExecStart=/usr/sbin/vostrine --settings /etc/vostrine/vostrine.conf\n", f.read())
        if shutil.which("systemd-analyze"):  # the hardened unit: "OK" is 2.0 or less
            done = subprocess.run(["systemd-analyze", "security", "--offline=true", unit], capture_output=True,
                                  text=True, timeout=60)
            exposure = float(re.search(r"Overall exposure level for \S+: ([\d.]+)", done.stdout).group(1))
            self.assertLessEqual(exposure, 2.0, done.stdout[-3000:])
            with open(unit) as f, open(os.path.join(stage, "vostrine.service"), "w") as checked:
                checked.write(f.read().replace("/usr/sbin/vostrine", os.path.join(stage, "usr/sbin/vostrine")))
            done = subprocess.run(["systemd-analyze", "verify", "--man=no", checked.name], capture_output=True,
                                  text=True, timeout=60)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            os.unlink(checked.name)
        else:
            print("systemd-analyze is not installed: the unit's security rating was not checked")
        # The example settings are settings this binary takes (the files they name aside).
        done = subprocess.run([os.path.join(stage, "usr/sbin/vostrine"), "--settings", os.path.join(stage, doc, "vostrine.conf.example"),
                               "--config", "/nonexistent", "--xferlog", os.devnull, "--auth-log", os.devnull],
                              capture_output=True, timeout=WAIT, cwd=stage, stdin=subprocess.DEVNULL)
        self.assertNotIn(b"vostrine:", done.stderr)
        test = ServerTest("run")
        srv = test.serve(args=["--no-console"], binary=os.path.join(stage, "usr/sbin/vostrine"))
        self.assertEqual(Client(srv.port).login("alice", "secret").cmd("QUIT"), "221 Bye!\r\n")
        srv.stop()
        test.doCleanups()
        subprocess.run(make + ["uninstall"], check=True, capture_output=True, timeout=60)
        self.assertEqual(os.listdir(stage), [])  # the folders it made are gone too


if __name__ == "__main__":
    unittest.main()
