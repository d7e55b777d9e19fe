"""The command-line tools as a user runs them: `corvane doctor` on a network
without a multicast route and with a port taken, and `corvane run` with a
`corvane-peer` that finds it by its hail, XML both ways and a file.

Runs inside the suite's private network namespace (hails stay there).
Usage: tools_test.py   (CORVANE_BIN_DIR names the build's bin directory)
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.environ["CORVANE_BIN_DIR"]
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
        self.assertIn("xml-acknowledged", peer_kinds, peer_output)
        self.assertIn({"event": "binack"}, [{"event": e["event"]} for e in peer_events
                                            if e.get("flag") == "1"], peer_output)
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
        self.assertEqual(hails[0]["application-id"], "listened-to")

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
        frames = [json.loads(line) for line in trace.stdout.splitlines() if '"frame-' in line]
        self.assertEqual(frames[0]["event"], "frame-sent")
        self.assertEqual(frames[0]["type"], "CONNECT")
        self.assertEqual(frames[0]["header"], "CVNPBDP001CONNECT   ")
        self.assertEqual(frames[1]["type"], "CONNECTACK")


if __name__ == "__main__":
    unittest.main(verbosity=2)
