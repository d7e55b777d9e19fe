"""The command-line tools as a user runs them: `corvane doctor` on a network
without a multicast route, with a port taken and with bad addresses;
`corvane run` with a `corvane-peer` that finds it by its hail, XML both ways
and a file, its commands, signals and failures; the peer's faults; both
tools' --json, --help and --version; and the README's C example, built with
the commands the README gives.

Runs inside the suite's private network namespace (hails stay there).
Usage: tools_test.py   (CORVANE_BIN_DIR names the build's bin directory)
"""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.environ["CORVANE_BIN_DIR"]
SOURCE = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
CORVANE = os.path.join(BIN, "corvane")
PEER = os.path.join(BIN, "corvane-peer")
VALID_XML = ('<?xml version="1.0"?><!DOCTYPE message SYSTEM "corvane-message.dtd">'
             '<message id="m1"><sender>{}</sender><body>hello</body></message>')


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(process):
    """Ends `process` if it still runs, and collects it."""
    if process.poll() is None:
        process.kill()
    process.communicate()


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def isolated(command):
    """`command` in a further network namespace that has only loopback, up,
    and no route for multicast."""
    flags = "-n" if os.geteuid() == 0 else "-rn"
    return ["unshare", flags, "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + command


class DoctorTest(unittest.TestCase):
    def test_reports_a_missing_multicast_route(self):
        run = subprocess.run(isolated([sys.executable, CORVANE, "doctor"]), capture_output=True,
                             text=True, timeout=60)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("there is no route to the group address 228.11.11.11", run.stdout)
        self.assertIn("ip route add 224.0.0.0/4", run.stdout)

    def test_reports_a_port_already_taken(self):
        with socket.socket() as held:
            held.bind(("0.0.0.0", 0))
            held.listen()
            port = held.getsockname()[1]
            run = subprocess.run([sys.executable, CORVANE, "doctor", "--server-port", str(port),
                                  "--file-port", str(free_port())],
                                 capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("the server port %d is already in use by another program" % port, run.stdout)
        self.assertIn("a hail sent to 228.11.11.11:45599 was heard back", run.stdout)

    def test_a_sound_network_passes(self):
        run = subprocess.run([sys.executable, CORVANE, "doctor", "--server-port", str(free_port()),
                              "--file-port", str(free_port())],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertIn("No problem found", run.stdout)


class DoctorAddressTest(unittest.TestCase):
    def doctor(self, *arguments):
        return subprocess.run([sys.executable, CORVANE, "doctor", "--server-port",
                               str(free_port()), "--file-port", str(free_port())] +
                              list(arguments), capture_output=True, text=True, timeout=60)

    def test_an_interface_that_is_not_here_is_a_problem(self):
        run = self.doctor("--interface", "192.0.2.1")
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("no interface of this machine has the address 192.0.2.1", run.stdout)
        self.assertIn("skipped  the hail check", run.stdout)
        self.assertNotIn("No problem found", run.stdout)

    def test_an_interface_that_is_no_address_is_a_problem(self):
        run = self.doctor("--interface", "notanaddress")
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("the interface notanaddress is not an IPv4 address", run.stdout)

    def test_the_loopback_interface_passes(self):
        run = self.doctor("--interface", "127.0.0.1")
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertIn("the interface 127.0.0.1 is this machine's", run.stdout)

    def test_a_group_that_is_not_multicast_says_so(self):
        run = self.doctor("--group", "10.1.1.1")
        self.assertEqual(run.returncode, 1, run.stdout)
        self.assertIn("the group address 10.1.1.1 is not a multicast group", run.stdout)
        self.assertNotIn("may be filtered", run.stdout)


def start_host(*arguments, stdin=subprocess.DEVNULL):
    """`corvane run --json` without hailing on ports of its own; the process
    and its started event."""
    host = subprocess.Popen([sys.executable, CORVANE, "run", "--json", "--no-hailing",
                             "--server-port", str(free_port()), "--file-port", str(free_port())] +
                            list(arguments), stdin=stdin, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    # Read byte by byte: communicate() later reads the descriptor itself, and
    # would miss lines a buffered readline had taken along.
    line = b""
    while not line.endswith(b"\n"):
        byte = os.read(host.stdout.fileno(), 1)
        if not byte:
            break
        line += byte
    return host, json.loads(line)


def events_of(output):
    return [json.loads(line) for line in output.splitlines() if line.startswith("{")]


class RunTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="corvane-run-")
        self.addCleanup(shutil.rmtree, self.directory, True)

    def write(self, name, content):
        path = os.path.join(self.directory, name)
        with open(path, "w") as f:
            f.write(content)
        return path

    def test_properties_saved_by_the_control_are_used(self):
        path = os.path.join(self.directory, "corvane.ini")
        server_port, file_port = free_port(), free_port()
        env = dict(os.environ, GI_TYPELIB_PATH=BIN, LD_LIBRARY_PATH=BIN)
        subprocess.run(["/usr/bin/python3", "-c", """if True:
            import gi, sys
            gi.require_version("CorvaneClient", "1.0")
            from gi.repository import CorvaneClient
            ctrl = CorvaneClient.Ctrl(server_port=%d, file_port=%d, using_hailing_server=False)
            ctrl.save_to_file(sys.argv[1])""" % (server_port, file_port), path],
                       env=env, check=True, timeout=60)
        run = subprocess.run([sys.executable, CORVANE, "run", "--json", "--properties", path,
                              "--no-stdin", "stop"], capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        started = events_of(run.stdout)[0]
        self.assertEqual((started["server_port"], started["file_port"], started["hailing"]),
                         (server_port, file_port, False), run.stdout)

        run = subprocess.run([sys.executable, CORVANE, "run", "--properties",
                              os.path.join(self.directory, "missing.ini"), "--no-stdin", "stop"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 2, run.stderr)
        self.assertIn("missing.ini", run.stderr)
        self.assertNotIn("Traceback", run.stderr)

    def test_an_engine_that_stops_by_itself_fails_and_names_the_port(self):
        with socket.socket() as held:
            held.bind(("0.0.0.0", 0))
            held.listen()
            port = held.getsockname()[1]
            run = subprocess.run([sys.executable, CORVANE, "run", "--json", "--no-hailing",
                                  "--server-port", str(free_port()), "--file-port", str(port),
                                  "--seconds", "20", "--no-stdin"],
                                 capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        events = events_of(run.stdout)
        self.assertEqual([e["event"] for e in events], ["started", "error", "stopped"], events)
        self.assertEqual(events[1]["code"], -107)
        self.assertIn("(file port %d)" % port, events[1]["text"])
        self.assertEqual(events[2]["by"], "engine")
        self.assertIn("the file port %d could not be opened" % port, events[2]["reason"])

    def test_signals_stop_the_engine(self):
        for number, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            with self.subTest(signal=number):
                host, started = start_host("--seconds", "30")
                self.addCleanup(stop, host)
                self.assertEqual(started["event"], "started")
                host.send_signal(number)
                out, err = host.communicate(timeout=30)
                self.assertEqual(host.returncode, status, out + err)
                self.assertNotIn("Traceback", err)
                self.assertEqual(events_of(out)[-1],
                                 {"event": "stopped", "by": "signal",
                                  "signal": signal.Signals(number).name})
                with socket.socket() as again:  # the engine let its port go
                    again.bind(("0.0.0.0", started["server_port"]))

    def test_commands_wait_for_a_peer_then_run(self):
        to_peer = self.write("to-peer.xml", VALID_XML.format("host"))
        host, started = start_host("--seconds", "30", "--wait-timeout", "20", "wait", "0.3",
                                   "wait-app", "late-peer", "apps", "send", to_peer, "stop")
        self.addCleanup(stop, host)
        peer = subprocess.Popen([PEER, "connect", "--host", "127.0.0.1", "--port",
                                 str(started["server_port"]), "--id", "late-peer", "--json",
                                 "--seconds", "10"], stdout=subprocess.PIPE, text=True)
        self.addCleanup(stop, peer)
        out, err = host.communicate(timeout=60)
        self.assertEqual(host.returncode, 0, out + err)
        # Applications joining and leaving, and each send's outcomes, come
        # between the commands' own events.
        observed = ("application_added", "application_removed", "outcome")
        kinds = [(e["event"], e.get("seconds", e.get("application"))) for e in events_of(out)
                 if e["event"] not in observed]
        self.assertEqual(kinds, [("waited", 0.3), ("waited", "late-peer"), ("applications", None),
                                 ("sent", None), ("stopped", None)], out)
        added = [e for e in events_of(out) if e["event"] == "application_added"]
        self.assertEqual([(e["id"], e["address"]) for e in added], [("late-peer", "127.0.0.1")])
        outcomes = [e for e in events_of(out) if e["event"] == "outcome"]
        if outcomes:  # an engine that sends to each application
            self.assertEqual([(e["application"], e["status"]) for e in outcomes],
                             [("late-peer", 0)])
        peer_output, _ = peer.communicate(timeout=30)
        self.assertIn('"sender>host<', peer_output.replace("<sender>", '"sender>'))

    def test_applications_progress_and_health_are_printed(self):
        big = os.path.join(self.directory, "big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(3 << 20))
        host, started = start_host("--seconds", "30", "--file-directory",
                                   os.path.join(self.directory, "files"), "wait-app", "v1",
                                   "wait", "2", "status", "wait", "3", "status", "stop")
        self.addCleanup(stop, host)
        peer = subprocess.Popen([PEER, "connect", "--host", "127.0.0.1", "--port",
                                 str(started["server_port"]), "--id", "v1", "--name", "Vendor 1",
                                 "send-file", big, "wait", "3", "disconnect"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, peer)
        out, err = host.communicate(timeout=60)
        self.assertEqual(host.returncode, 0, out + err)
        events = events_of(out)
        added = [e for e in events if e["event"] == "application_added"]
        self.assertEqual(added, [{"event": "application_added", "id": "v1", "name": "Vendor 1",
                                  "address": "127.0.0.1", "version": 1}])
        progress = [e for e in events if e["event"] == "progress"]
        self.assertTrue(progress, out)
        self.assertEqual(progress[-1], {"event": "progress", "application": "v1",
                                        "file": "big.bin", "bytes": 3 << 20, "size": 3 << 20,
                                        "percent": 100})
        self.assertLessEqual(len(progress), 10, "one a second at most, and the last")
        statuses = [e for e in events if e["event"] == "status"]
        self.assertEqual(len(statuses), 2, out)
        row = statuses[0]["applications"][0]
        self.assertEqual((row["id"], row["files_received"]), ("v1", 1), out)
        self.assertGreaterEqual(row["bytes_received"], 3 << 20)
        self.assertRegex(row["connected_since"], r"^\d{4}-\d\d-\d\dT")
        self.assertEqual(statuses[1]["count"], 0, "the application left")
        self.assertEqual(statuses[1]["refused_connections"], 0)
        removed = [e for e in events if e["event"] == "application_removed"]
        self.assertEqual(removed, [{"event": "application_removed", "id": "v1",
                                    "reason": "disconnected"}])

        # Readable: the health as a table under its header.
        host = subprocess.Popen([sys.executable, CORVANE, "run", "--no-hailing",
                                 "--server-port", str(free_port()), "--file-port",
                                 str(free_port()), "--seconds", "20", "status", "stop"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        out, err = host.communicate(timeout=60)
        self.assertEqual(host.returncode, 0, out + err)
        self.assertIn("status  applications=0  refused_connections=0", out)
        self.assertRegex(out, r"ID +NAME +ADDRESS +CONNECTED +LAST SEEN +RTT ms +MISSED")

    def test_wait_app_is_bounded_and_unknown_commands_fail(self):
        run = subprocess.run([sys.executable, CORVANE, "run", "--json", "--no-hailing",
                              "--server-port", str(free_port()), "--file-port", str(free_port()),
                              "wait-app", "stop", "--wait-timeout", "0.3", "--no-stdin"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        failed = [e for e in events_of(run.stdout) if e["event"] == "failed"]
        self.assertEqual(failed[0]["operation"], "wait-app", run.stdout)
        self.assertIn("within 0.3 s", failed[0]["text"])

        # A whole command in one argument is refused before the engine starts.
        run = subprocess.run([sys.executable, CORVANE, "run", "send %s" % self.directory],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 2, run.stdout + run.stderr)
        self.assertIn("unknown command 'send %s'" % self.directory, run.stderr)
        self.assertEqual(run.stdout, "")
        for words in (["send"], ["wait", "soon"]):
            run = subprocess.run([sys.executable, CORVANE, "run"] + words,
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 2, words)

        # On standard input it fails the run.
        host, _ = start_host("--seconds", "30", stdin=subprocess.PIPE)
        self.addCleanup(stop, host)
        out, err = host.communicate("bogus\nstop\n", timeout=60)
        self.assertEqual(host.returncode, 1, out + err)
        failed = [e for e in events_of(out) if e["event"] == "failed"]
        self.assertEqual(failed[0]["operation"], "bogus")

    def test_failures_say_what_they_concern(self):
        missing = os.path.join(self.directory, "missing.xml")
        to_peer = self.write("to-peer.xml", VALID_XML.format("host"))
        host, started = start_host("--seconds", "30", "--ack-timeout", "500", "send", missing,
                                   "wait-app", "deaf-peer", "send", to_peer, "stop")
        self.addCleanup(stop, host)
        peer = subprocess.Popen([PEER, "connect", "--host", "127.0.0.1", "--port",
                                 str(started["server_port"]), "--id", "deaf-peer", "--no-xml-ack",
                                 "--seconds", "10"], stdout=subprocess.DEVNULL)
        self.addCleanup(stop, peer)
        out, err = host.communicate(timeout=60)
        self.assertEqual(host.returncode, 1, out + err)
        failed = [e for e in events_of(out) if e["event"] == "failed"]
        self.assertEqual(failed[0]["file"], missing, out)
        self.assertIn("cannot read %s: No such file or directory" % missing, failed[0]["text"])
        self.assertEqual(failed[1]["code"], -111, out)
        self.assertEqual(failed[1]["applications"], ["deaf-peer"])
        self.assertIn("no acknowledgement within the ack timeout (0.5 s)", failed[1]["reason"])


class PeerFaultTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="corvane-peer-")
        self.addCleanup(shutil.rmtree, self.directory, True)
        self.host, started = start_host("--seconds", "60", "--file-directory",
                                        os.path.join(self.directory, "files"))
        self.addCleanup(stop, self.host)
        self.port = str(started["server_port"])

    def peer(self, *arguments):
        return subprocess.run([PEER, "connect", "--host", "127.0.0.1", "--port", self.port,
                               "--json"] + list(arguments),
                              capture_output=True, text=True, timeout=60)

    def host_events(self):
        self.host.send_signal(signal.SIGTERM)
        out, _ = self.host.communicate(timeout=30)
        return events_of(out)

    def test_what_cannot_be_read_is_not_sent(self):
        missing = os.path.join(self.directory, "missing.bin")
        run = self.peer("--trace", "send-file", self.directory, "send-file", missing,
                        "send-xml", missing)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        events = events_of(run.stdout)
        self.assertFalse([e for e in events if e.get("type") == "BINDATA"], run.stdout)
        failures = [e["error"] for e in events if e["event"] in ("file_failed", "xml_failed")]
        self.assertEqual(failures, ["cannot read %s: it is a directory" % self.directory,
                                    "cannot read %s: No such file or directory" % missing,
                                    "cannot read %s: No such file or directory" % missing],
                         run.stdout)
        self.assertFalse([e for e in self.host_events() if e["event"] == "error"])

    def test_an_unknown_command_is_refused_before_connecting(self):
        run = self.peer("send-xml %s" % self.directory)
        self.assertEqual(run.returncode, 2, run.stdout + run.stderr)
        self.assertIn('unknown command "send-xml %s"' % self.directory, run.stderr)
        self.assertEqual(run.stdout, "")

    def test_stop_reading_is_not_a_success(self):
        xml = os.path.join(self.directory, "m.xml")
        with open(xml, "w") as f:
            f.write(VALID_XML.format("peer"))
        run = self.peer("--stop-reading", "send-xml", xml)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("xml_not_acknowledged", [e["event"] for e in events_of(run.stdout)])

    def test_the_old_version_spelling_still_announces_a_protocol_version(self):
        for spelling in ("--version", "--protocol-version"):
            run = self.peer(spelling, "2", "--trace")
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            sent = [e["type"] for e in events_of(run.stdout) if e["event"] == "frame_sent"]
            self.assertIn("VERSION", sent, run.stdout)


class HelpAndVersionTest(unittest.TestCase):
    def test_both_tools_print_the_project_version(self):
        with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
            version = re.search(r"project\(Corvane VERSION ([0-9.]+)", f.read()).group(1)
        for command in ([sys.executable, CORVANE, "--version"], [PEER, "--version"]):
            run = subprocess.run(command, capture_output=True, text=True, timeout=30)
            self.assertEqual(run.returncode, 0, command)
            self.assertEqual(run.stdout.split(), [os.path.basename(command[-2]), version])

    def test_help_gives_units_defaults_and_every_fault(self):
        peer = subprocess.run([PEER, "--help"], capture_output=True, text=True, timeout=30).stdout
        for fault in ("--no-xml-ack", "--no-health-ack", "--ack-delay MS", "--wrong-ack-id",
                      "--bad-checksum", "--stop-reading", "--reset-mid-file", "--pieces N"):
            self.assertRegex(peer, r"\n  %s +\S" % re.escape(fault))
        self.assertIn("--group-port N          UDP port of the hails (default 45599)", peer)
        self.assertIn("--protocol-version 1|2", peer)
        run = subprocess.run([sys.executable, CORVANE, "run", "--help"], capture_output=True,
                             text=True, timeout=30).stdout
        flat = " ".join(run.split())
        for text in ("--hailing-interval MS milliseconds between hails (default 15000)",
                     "--ack-timeout MS milliseconds to wait for an acknowledgement (default 30000)",
                     "--server-port N TCP port applications connect to (default 45500)",
                     "--wait-timeout S seconds wait-app waits at most before it fails (default: 30)",
                     "wait-app [ID]"):
            self.assertIn(text, flat)


class ReadmeExampleTest(unittest.TestCase):
    """The C example and the commands that build it, as the README prints them."""

    def setUp(self):
        with open(os.path.join(SOURCE, "README.md")) as f:
            readme = f.read()
        blocks = re.findall(r"\n\n((?:    .*\n|\n)+)", readme)
        section = readme[readme.index("From C, `example.c`:"):]
        self.program = self.dedent(next(b for b in blocks if "int main(void)" in b and
                                        b in section))
        self.builds = [self.dedent(b) for b in blocks if "example.c -o example" in b]
        self.assertEqual(len(self.builds), 2, "the build tree's and an installation's commands")
        self.directory = tempfile.mkdtemp(prefix="corvane-readme-")
        self.addCleanup(shutil.rmtree, self.directory, True)

    @staticmethod
    def dedent(block):
        return "".join(line[4:] + "\n" for line in block.rstrip("\n").split("\n"))

    def build_and_run(self, commands):
        """Runs the README's commands in a directory with example.c, in a
        network namespace of their own (the example takes the default ports);
        the program runs until a vendor application's XML reaches it."""
        with open(os.path.join(self.directory, "example.c"), "w") as f:
            f.write(self.program)
        with open(os.path.join(self.directory, "m.xml"), "w") as f:
            f.write(VALID_XML.format("vendor"))
        script = commands.replace("./example", "stdbuf -oL ./example >example.out 2>&1 &")
        script += """
example=$!
tries=0
until "$PEER" connect --host 127.0.0.1 --port 45500 send-xml m.xml >/dev/null 2>&1; do
  tries=$((tries + 1)); [ $tries -lt 150 ] || break
  kill -0 $example 2>/dev/null || break
  sleep 0.2
done
# The XMLACK goes out before the program's main loop prints the XML.
tries=0
until grep -q "XML:" example.out; do
  tries=$((tries + 1)); [ $tries -lt 100 ] || break
  sleep 0.1
done
kill $example; wait $example || true
"""
        flags = "-n" if os.geteuid() == 0 else "-rn"
        run = subprocess.run(["unshare", flags, "sh", "-c",
                              "ip link set lo up && ip route add 224.0.0.0/4 dev lo && "
                              "exec sh -ec \"$0\"", script],
                             cwd=self.directory, env=dict(os.environ, PEER=PEER),
                             capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(os.path.join(self.directory, "example.out")) as f:
            out = f.read()
        self.assertIn("XML: " + VALID_XML.format("vendor"), out, run.stderr)

    def test_from_the_build_tree(self):
        os.symlink(os.path.dirname(BIN), os.path.join(self.directory, "build"))
        self.assertIn("$PWD/build/pkgconfig", self.builds[0])
        self.build_and_run(self.builds[0])

    def test_from_an_installation(self):
        prefix = os.path.join(self.directory, "opt-corvane")
        subprocess.run(["cmake", "--install", os.path.dirname(BIN), "--prefix", prefix],
                       check=True, capture_output=True, timeout=120)
        self.assertIn("/opt/corvane/", self.builds[1])
        self.build_and_run(self.builds[1].replace("/opt/corvane/", prefix + "/"))


class ReadmePythonExampleTest(unittest.TestCase):
    """The README's Python example that keeps a live list of applications and
    prints file progress, run against the build tree with corvane-peer as the
    vendor application."""

    def test_lists_applications_and_prints_progress(self):
        with open(os.path.join(SOURCE, "README.md")) as f:
            readme = f.read()
        section = readme[readme.index("(`example.py`):"):]
        block = re.search(r"\n\n((?:    .*\n|\n)+)", section).group(1)
        program = ReadmeExampleTest.dedent(block)
        directory = tempfile.mkdtemp(prefix="corvane-readme-py-")
        self.addCleanup(shutil.rmtree, directory, True)
        received = os.path.join(directory, "received")
        with open(os.path.join(directory, "example.py"), "w") as f:
            f.write(program.replace('"/tmp/received"', repr(received)))
        payload = os.path.join(directory, "report.bin")
        with open(payload, "wb") as f:
            f.write(os.urandom(3 << 20))
        script = """
/usr/bin/python3 -u example.py >example.out 2>&1 &
example=$!
tries=0
until "$PEER" connect --host 127.0.0.1 --port 45500 --id vendor-9 --name "Vendor Nine" \
    send-file report.bin disconnect >peer.out 2>&1; do
  tries=$((tries + 1)); [ $tries -lt 150 ] || break
  kill -0 $example 2>/dev/null || break
  sleep 0.2
done
tries=0
until grep -q "left: vendor-9" example.out; do
  tries=$((tries + 1)); [ $tries -lt 100 ] || break
  sleep 0.1
done
kill $example; wait $example || true
"""
        flags = "-n" if os.geteuid() == 0 else "-rn"
        env = dict(os.environ, PEER=PEER, GI_TYPELIB_PATH=BIN, LD_LIBRARY_PATH=BIN)
        run = subprocess.run(["unshare", flags, "sh", "-c",
                              "ip link set lo up && ip route add 224.0.0.0/4 dev lo && "
                              "exec sh -ec \"$0\"", script],
                             cwd=directory, env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(os.path.join(directory, "example.out")) as f:
            out = f.read()
        self.assertIn("applications: Vendor Nine (vendor-9)", out)
        self.assertIn("report.bin from vendor-9: %d of %d bytes" % (3 << 20, 3 << 20), out)
        self.assertIn("file: " + os.path.join(received, "report.bin"), out)
        self.assertIn("left: vendor-9 disconnected", out)
        self.assertIn("applications: none", out)


class RunWithPeerTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="corvane-tools-")
        self.addCleanup(shutil.rmtree, self.directory, True)

    def write(self, name, content, mode="w"):
        path = os.path.join(self.directory, name)
        with open(path, mode) as f:
            f.write(content)
        return path

    def test_host_and_peer_exchange_xml_and_a_file(self):
        files = os.path.join(self.directory, "files")
        # A group port of its own: the peer follows the first hail it hears.
        group_port = str(free_udp_port())
        host = subprocess.Popen(
            [sys.executable, CORVANE, "run", "--json", "--group-port", group_port,
             "--server-port", str(free_port()),
             "--file-port", str(free_port()), "--hailing-interval", "200",
             "--file-directory", files, "--seconds", "30"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(stop, host)
        started = json.loads(host.stdout.readline())
        self.assertEqual(started["event"], "started")

        to_peer = self.write("to-peer.xml", VALID_XML.format("host"))
        to_host = self.write("to-host.xml", VALID_XML.format("peer"))
        report = self.write("report.bin", os.urandom(300000), "wb")
        peer = subprocess.Popen(
            [PEER, "connect", "--hail", "--group-port", group_port, "--id", "demo-peer", "--name", "Demo Peer", "--json",
             "send-xml", to_host, "send-file", report, "--seconds", "4"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(stop, peer)

        # The host answers once the peer is listed.
        events = []
        deadline = time.monotonic() + 20
        sent = False
        while time.monotonic() < deadline:
            line = host.stdout.readline()
            if not line:
                break
            event = json.loads(line)
            events.append(event)
            if event["event"] == "message" and not sent:
                host.stdin.write("apps\nsend %s\n" % to_peer)
                host.stdin.flush()
                sent = True
            if event["event"] == "sent":
                break
        peer_output, _ = peer.communicate(timeout=30)
        host.stdin.write("stop\n")
        host.stdin.flush()
        rest, _ = host.communicate(timeout=30)
        events += [json.loads(line) for line in rest.splitlines() if line.startswith("{")]

        kinds = [e["event"] for e in events]
        self.assertIn("message", kinds, events)
        self.assertIn("file", kinds, events)
        self.assertIn("sent", kinds, events)
        self.assertEqual(kinds[-1], "stopped")
        self.assertEqual(host.returncode, 0)
        apps = [e for e in events if e["event"] == "applications"]
        self.assertEqual(apps[0]["list"][0]["id"], "demo-peer")
        peer_events = [json.loads(line) for line in peer_output.splitlines() if line.startswith("{")]
        peer_kinds = [e["event"] for e in peer_events]
        self.assertIn("hail", peer_kinds, peer_output)
        self.assertIn("xml_acknowledged", peer_kinds, peer_output)
        self.assertIn({"event": "binack"}, [{"event": e["event"]} for e in peer_events
                                            if e.get("flag") == 1], peer_output)
        # One JSON convention for both tools: snake_case keys, numbers as numbers.
        for event in [started] + events + peer_events:
            for key in event:
                self.assertRegex(key, r"^[a-z][a-z0-9_]*$", event)
            self.assertRegex(event["event"], r"^[a-z][a-z0-9_]*$", event)
        sent = [e for e in peer_events if e["event"] == "file_sent"]
        connected = [e for e in peer_events if e["event"] == "connected"]
        self.assertIsInstance(started["server_port"], int)
        self.assertEqual(sent[0]["bytes"], 300000)
        self.assertIsInstance(connected[0]["file_port"], int)
        self.assertIsInstance([e for e in peer_events if e["event"] == "hail"][0]["port"], int)
        self.assertTrue(any(e["event"] == "xml" and "host" in e["text"] for e in peer_events),
                        peer_output)
        self.assertEqual(peer.returncode, 0, peer_output)
        with open(report, "rb") as original, open(os.path.join(files, "report.bin"), "rb") as got:
            self.assertEqual(original.read(), got.read())


class PeerListenTest(unittest.TestCase):
    def test_listen_prints_the_hails_of_a_running_engine(self):
        group_port = str(free_udp_port())
        host = subprocess.Popen(
            [sys.executable, CORVANE, "run", "--group-port", group_port, "--hailing-interval",
             "200", "--server-port", str(free_port()), "--file-port", str(free_port()),
             "--id", "listened-to", "--seconds", "20", "--no-stdin"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, host)
        listen = subprocess.run([PEER, "listen", "--group-port", group_port, "--count", "2",
                                 "--seconds", "15", "--json"],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(listen.returncode, 0, listen.stdout + listen.stderr)
        hails = [json.loads(line) for line in listen.stdout.splitlines()
                 if '"hail"' in line]
        self.assertEqual(len(hails), 2, listen.stdout)
        self.assertEqual(hails[0]["application_id"], "listened-to")

    def test_trace_shows_every_frame_with_its_header(self):
        group_port = str(free_udp_port())
        server_port = free_port()
        host = subprocess.Popen(
            [sys.executable, CORVANE, "run", "--group-port", group_port, "--no-hailing",
             "--server-port", str(server_port), "--file-port", str(free_port()),
             "--seconds", "20", "--no-stdin"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(stop, host)
        host.stdout.readline()  # started
        trace = subprocess.run([PEER, "connect", "--host", "127.0.0.1", "--port", str(server_port),
                                "--trace", "--json"], capture_output=True, text=True, timeout=30)
        frames = [json.loads(line) for line in trace.stdout.splitlines() if '"frame_' in line]
        self.assertEqual(frames[0]["event"], "frame_sent")
        self.assertEqual(frames[0]["type"], "CONNECT")
        self.assertEqual(frames[0]["header"], "CVNPBDP001CONNECT   ")
        self.assertEqual(frames[1]["type"], "CONNECTACK")


if __name__ == "__main__":
    unittest.main(verbosity=2)
