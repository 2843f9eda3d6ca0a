# The lists a reader sees against the lists the server runs on: the options
# of --help (built from the option registry) against the README's table and
# the manual page, and HELP and FEAT (built from the command table) against
# what the server answers.

import os
import re

from harness import TOP, ServerTest, certificate, run


def documented(path, pattern):
    with open(os.path.join(TOP, path)) as f:
        return set(re.findall(pattern, f.read(), re.M))


class Documents(ServerTest):
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
