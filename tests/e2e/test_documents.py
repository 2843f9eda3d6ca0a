# The lists a reader sees against the lists the server runs on: the options
# of --help (built from the option registry) against the README's table and
# the manual page, and HELP and FEAT (built from the command table) against
# what the server answers.

import os
import re
import subprocess
import unittest

from harness import BINARY, HERE, ServerTest, WAIT, certificate

TOP = os.path.dirname(os.path.dirname(HERE))


def documented(path, pattern):
    with open(os.path.join(TOP, path)) as f:
        return set(re.findall(pattern, f.read(), re.M))


class Options(unittest.TestCase):
    def test_readme_and_manual_page_list_every_option_of_help(self):
        done = subprocess.run([BINARY, "--help"], capture_output=True, text=True, timeout=WAIT)
        options = set(re.findall(r"^  --([a-z-]+)", done.stdout, re.M))
        self.assertIn("max-per-address", options)
        self.assertEqual(documented("README.md", r"^\| `--([a-z-]+)"), options - {"help", "version"})
        self.assertEqual({name.replace("\\-", "-") for name in documented("doc/vostrine.8", r"^\.BI? \\-\\-([a-z\\-]+)")},
                         options)
        version = subprocess.run([BINARY, "--version"], capture_output=True, text=True, timeout=WAIT)
        self.assertEqual((version.returncode, version.stderr), (0, ""))
        self.assertRegex(version.stdout, r"^vostrine \d+\.\d+\.\d+\n$")


class Commands(ServerTest):
    def test_help_lists_what_the_server_knows_and_feat_what_it_offers(self):
        cert, key = certificate()
        for tls in ([], ["--tls-cert", cert, "--tls-key", key]):
            srv = self.serve(args=["--extensions"] + tls)
            c = self.connect(srv)
            c.send("HELP\r\n")
            lines = [c.line().decode()]
            while not lines[-1].startswith("214 "):
                lines.append(c.line().decode())
            keywords = " ".join(lines[1:-1]).split()
            self.assertEqual(keywords, sorted(keywords))
            self.assertEqual("AUTH" in keywords, bool(tls))
            for keyword in keywords + ["XYZ"]:
                if keyword in ("QUIT", "AUTH", "PASS", "FEAT", "HELP"):  # the end, a pause, several lines
                    continue
                recognised = not c.cmd(keyword).startswith("500 Syntax error")
                self.assertEqual(recognised, keyword != "XYZ", keyword)
            c.send("FEAT\r\n")
            features = [c.line().decode()]
            while not features[-1].startswith("211 "):
                features.append(c.line().decode())
            for line in features[1:-1]:
                word = line.split()[0]
                self.assertTrue(word in keywords or word in ("TVFS", "UTF8"), line)


if __name__ == "__main__":
    unittest.main()
