#!/usr/bin/python3
"""The manual pages corvane(1), corvane-peer(1) and corvane-desktop(1) say what
--help says: the same options, the same commands and the same exit statuses,
both ways.

Usage: manpage_test.py BIN_DIR MAN_DIR
"""
import re
import subprocess
import sys
import unittest

BIN_DIR = MAN_DIR = None
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")


def run_help(*argv):
    result = subprocess.run(argv, capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        raise AssertionError("%s exited %d: %s" % (argv, result.returncode, result.stderr))
    return result.stdout


def man_text(page):
    """The page's text with roff escapes for dashes and fonts undone."""
    with open("%s/%s.1" % (MAN_DIR, page), encoding="utf-8") as f:
        source = f.read()
    source = source.replace("\\-", "-").replace("\\e", "\\")
    return re.sub(r"\\f[BIRP]", "", source)


def man_section(text, name):
    match = re.search(r'^\.SH "?%s"?\n(.*?)(?=^\.SH )' % re.escape(name), text, re.S | re.M)
    if not match:
        raise AssertionError("no section %s" % name)
    return match.group(1)


def exit_statuses(help_text):
    """The numbers the help's "Exit status:" paragraph names."""
    paragraph = help_text[help_text.index("Exit status:"):]
    return set(int(n) for n in re.findall(r"(?<![\w.-])(\d{1,3})(?![\w.])", paragraph)
               if int(n) in (0, 1, 2, 130, 143))


class CorvanePage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tool = BIN_DIR + "/corvane"
        cls.helps = {name: run_help(tool, *name.split()[1:], "--help")
                     for name in ("corvane", "corvane run", "corvane doctor",
                                  "corvane register", "corvane unregister")}
        cls.page = man_text("corvane")

    def test_every_option_both_ways(self):
        in_help = set()
        for text in self.helps.values():
            in_help |= set(OPTION.findall(text))
        in_page = set(OPTION.findall(man_section(self.page, "OPTIONS")))
        self.assertEqual(in_help - in_page, set(), "options missing from corvane(1)")
        self.assertEqual(in_page - in_help, set(), "options corvane --help does not know")

    def test_every_subcommand_and_run_command(self):
        top = self.helps["corvane"]
        subcommands = set(re.findall(r"^    (\w+)", top, re.M))
        self.assertEqual(subcommands, {"run", "register", "unregister", "doctor"})
        page_commands = set(re.findall(r"^\.B (\w+)$", man_section(self.page, "COMMANDS"), re.M))
        self.assertEqual(subcommands, page_commands)
        run_help_text = self.helps["corvane run"]
        # "... (one a line): send FILE | apps | ... | stop. Settings ..."
        listed = re.search(r"one a line\): (.*?)\. ", " ".join(run_help_text.split())).group(1)
        run_commands = {part.split()[0] for part in listed.split(" | ")}
        self.assertIn("wait-app", run_commands)
        section = man_section(self.page, "OPTIONS")
        section = section[section.index('.SS "corvane run commands"'):]
        page_run = set(re.findall(r"^\.B[IR]? ([a-z-]+)", section, re.M)) - {"doctor"}
        page_run = {c for c in page_run if not c.startswith("-")}
        self.assertEqual(run_commands, page_run)

    def test_exit_statuses(self):
        in_help = exit_statuses(self.helps["corvane"]) | exit_statuses(self.helps["corvane run"]) \
            | exit_statuses(self.helps["corvane doctor"])
        in_page = set(int(n) for n in re.findall(r"^\.B (\d+)$", man_section(self.page, "EXIT STATUS"), re.M))
        self.assertEqual(in_help, in_page)


class PeerPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.help = run_help(BIN_DIR + "/corvane-peer", "--help")
        cls.page = man_text("corvane-peer")

    def test_every_option_both_ways(self):
        in_help = set(OPTION.findall(self.help))
        in_page = set(OPTION.findall(man_section(self.page, "OPTIONS")))
        self.assertEqual(in_help - in_page, set(), "options missing from corvane-peer(1)")
        self.assertEqual(in_page - in_help, set(), "options corvane-peer --help does not know")

    def test_every_command(self):
        block = self.help[self.help.index("\ncommands:"):self.help.index("\nfaults")]
        in_help = set(re.findall(r"^  ([a-z-]+)", block, re.M))
        in_help |= set(re.findall(r"^(listen|connect):", self.help, re.M))
        in_page = set(re.findall(r"^\.BI? ([a-z-]+)", man_section(self.page, "COMMANDS"), re.M))
        self.assertEqual(in_help, in_page)

    def test_exit_statuses(self):
        in_page = set(int(n) for n in re.findall(r"^\.B (\d+)$", man_section(self.page, "EXIT STATUS"), re.M))
        self.assertEqual(exit_statuses(self.help), in_page)


class DesktopPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.help = run_help("/usr/bin/python3", BIN_DIR + "/corvane-desktop", "--help")
        cls.page = man_text("corvane-desktop")

    def test_every_option_both_ways(self):
        in_help = set(OPTION.findall(self.help))
        in_page = set(OPTION.findall(man_section(self.page, "OPTIONS")))
        self.assertEqual(in_help, in_page)

    def test_exit_statuses(self):
        in_page = set(int(n) for n in re.findall(r"^\.B (\d+)$", man_section(self.page, "EXIT STATUS"), re.M))
        self.assertEqual(exit_statuses(self.help), in_page)


if __name__ == "__main__":
    BIN_DIR, MAN_DIR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
