"""Reach and access on a machine with several interfaces: which interfaces
the engine hails on, the address each HAIL carries, and which peers it lets
in, as engine.ini beside the engine library sets it.

Each test runs in a network namespace of its own, made here, with interfaces
of its own addresses (multicast on); nothing leaves it. The engine
is driven through the control, from a copy of the build's modules so that
each test has an engine.ini of its own.
Usage: network_test.py   (CORVANE_BIN_DIR names the build's bin directory)
"""

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.environ["CORVANE_BIN_DIR"]
GROUP = "239.77.1.1"
IP_PKTINFO = 8
WAIT = float(os.environ.get("CORVANE_TEST_WAIT", "10"))

if "CORVANE_NETWORK_MODULES" not in os.environ:
    # Runs again inside a namespace of its own, on a copy of the modules
    # whose engine.ini each test writes (the engine reads it at every Start).
    modules = tempfile.mkdtemp(prefix="corvane-network-")
    try:
        for name in ("Quellor.so", "CorvaneClient.so", "CorvaneClient-1.0.typelib"):
            shutil.copy(os.path.join(BIN, name), modules)
        shutil.copytree(os.path.join(BIN, "dtd"), os.path.join(modules, "dtd"))
        env = dict(os.environ, CORVANE_NETWORK_MODULES=modules, GI_TYPELIB_PATH=modules,
                   LD_LIBRARY_PATH=modules)
        flags = "-n" if os.geteuid() == 0 else "-rn"
        status = subprocess.call(["unshare", flags, sys.executable] + sys.argv, env=env)
    finally:
        shutil.rmtree(modules, ignore_errors=True)
    sys.exit(status)

MODULES = os.environ["CORVANE_NETWORK_MODULES"]


def ip(*args):
    subprocess.run(["ip"] + list(args), check=True)


def add_dummy(name, address):
    # A veth pair whose other end stays without an address: an interface
    # that is up and carries multicast (dummy interfaces may be missing from
    # the kernel).
    ip("link", "add", name, "type", "veth", "peer", "name", name + "p")
    ip("addr", "add", address + "/24", "dev", name)
    ip("link", "set", name + "p", "up")
    ip("link", "set", name, "up", "multicast", "on")


def remove_dummy(name):
    subprocess.run(["ip", "link", "del", name], stderr=subprocess.DEVNULL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class HailReceiver:
    """Receives the HAILs sent to the group on the given interfaces, with the
    interface each came in on."""

    def __init__(self, port, addresses):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        self.sock.bind(("", port))
        for address in addresses:
            self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                                 socket.inet_aton(GROUP) + socket.inet_aton(address))

    def receive(self, until):
        """(interface name, announced address) of the next HAIL, or None."""
        self.sock.settimeout(max(0.05, until - time.monotonic()))
        try:
            data, ancillary, _, _ = self.sock.recvmsg(1024, 64)
        except socket.timeout:
            return None
        index = 0
        for level, kind, payload in ancillary:
            if level == socket.IPPROTO_IP and kind == IP_PKTINFO:
                index = struct.unpack("i", payload[:4])[0]
        text = data.decode("utf-16-le")
        return socket.if_indextoname(index), text[20:35].strip()

    def collect(self, seconds, wanted=None):
        """Every (interface, address) heard within `seconds`, or until `wanted`
        have all been heard."""
        heard = set()
        until = time.monotonic() + seconds
        while time.monotonic() < until:
            hail = self.receive(until)
            if hail:
                heard.add(hail)
            if wanted is not None and wanted <= heard:
                break
        return heard

    def close(self):
        self.sock.close()


class EngineFixture(unittest.TestCase):
    """A copy of the modules with an engine.ini, and a started control."""

    dummies = ()

    def setUp(self):
        ip("link", "set", "lo", "up")
        for name, address in self.dummies:
            add_dummy(name, address)
        self.work = tempfile.mkdtemp(prefix="corvane-files-")
        self.ctrl = None
        self.errors = []

    def tearDown(self):
        if self.ctrl is not None:
            self.ctrl.stop()
            self.ctrl = None
        for name, _ in self.dummies:
            remove_dummy(name)
        shutil.rmtree(self.work, ignore_errors=True)

    def start(self, ini, hailing=True):
        with open(os.path.join(MODULES, "engine.ini"), "w") as f:
            f.write(ini)
        import gi
        gi.require_version("CorvaneClient", "1.0")
        from gi.repository import CorvaneClient
        self.group_port = free_port()
        self.server_port = free_port()
        self.file_port = free_port()
        ctrl = CorvaneClient.Ctrl(group_address=GROUP, group_port=self.group_port,
                                  server_port=self.server_port, file_port=self.file_port,
                                  hailing_interval=100, using_hailing_server=hailing,
                                  file_directory=os.path.join(self.work, "files"))
        ctrl.connect("error-occured", lambda c, n, text: self.errors.append((n, text)))
        self.refusals = []
        ctrl.connect("connection-refused",
                     lambda c, address, reason, count: self.refusals.append((address, reason, count)))
        status = ctrl.start("network-test", "Network Test")
        if status == 0:
            self.ctrl = ctrl
        return status, ctrl.get_last_error_message()


class HailTest(EngineFixture):
    dummies = (("dum0", "10.77.0.1"), ("dum1", "10.78.0.1"))

    def test_the_system_way_announces_the_interface_not_a_loopback_address(self):
        # The host name resolves to a loopback address here; the group's route
        # leaves through dum0.
        ip("route", "add", "224.0.0.0/4", "dev", "dum0")
        status, text = self.start("")
        self.assertEqual(status, 0, text)
        receiver = HailReceiver(self.group_port, ["10.77.0.1"])
        try:
            heard = receiver.collect(WAIT, {("dum0", "10.77.0.1")})
            self.assertIn(("dum0", "10.77.0.1"), heard)
            self.assertFalse(any(address.startswith("127.") for _, address in heard), heard)
        finally:
            receiver.close()

    def test_all_hails_through_every_interface_with_its_own_address(self):
        status, text = self.start("[Network]\nHailInterfaces=all\n")
        self.assertEqual(status, 0, text)
        receiver = HailReceiver(self.group_port, ["10.77.0.1", "10.78.0.1"])
        try:
            wanted = {("dum0", "10.77.0.1"), ("dum1", "10.78.0.1")}
            heard = receiver.collect(WAIT, wanted)
            self.assertEqual(heard, wanted)
            # An interface that appears after Start is hailed on at the next
            # round.
            add_dummy("dum2", "10.79.0.1")
            receiver.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                                     socket.inet_aton(GROUP) + socket.inet_aton("10.79.0.1"))
            heard = receiver.collect(WAIT, {("dum2", "10.79.0.1")})
            self.assertIn(("dum2", "10.79.0.1"), heard)
        finally:
            receiver.close()
            remove_dummy("dum2")

    def test_a_list_hails_only_on_the_interfaces_named_that_exist(self):
        status, text = self.start("[Network]\nHailInterfaces=dum1, nosuch0\n")
        self.assertEqual(status, 0, text)
        receiver = HailReceiver(self.group_port, ["10.77.0.1", "10.78.0.1"])
        try:
            heard = receiver.collect(1.0)
            self.assertEqual(heard, {("dum1", "10.78.0.1")})
        finally:
            receiver.close()

    def test_a_list_of_which_nothing_exists_stops_the_engine_with_107(self):
        from gi.repository import GLib
        status, text = self.start("[Network]\nHailInterfaces=nosuch0, 10.99.0.1\n")
        self.assertEqual(status, 0, text)
        until = time.monotonic() + WAIT
        while not self.errors and time.monotonic() < until:
            GLib.MainContext.default().iteration(False)
            time.sleep(0.01)
        self.assertTrue(self.errors)
        self.assertEqual(self.errors[0][0], -107)
        self.assertIn("nosuch0", self.errors[0][1])


def connect_frame(application_id):
    """A CONNECT as a vendor application writes it."""
    body = ("0" * 36 + application_id.ljust(36) + "Network Peer".ljust(30) + "10.0.0.1".ljust(15))
    return ("CVNPBDP001CONNECT   " + body).encode("utf-16-le")


def talk(source, destination, port, frame):
    """Connects from `source`, writes `frame`, and returns what the engine
    answered before it closed or went quiet for a moment."""
    with socket.create_connection((destination, port), timeout=WAIT,
                                  source_address=(source, 0)) as s:
        try:
            s.sendall(frame)
        except OSError:
            return b""
        received = b""
        s.settimeout(1.0)
        while len(received) < 40:
            try:
                chunk = s.recv(4096)
            except socket.timeout:
                break
            except ConnectionResetError:
                break
            if not chunk:
                break
            received += chunk
        return received


class AccessTest(EngineFixture):
    dummies = (("dum0", "10.77.0.1"), ("dum1", "10.78.0.1"))

    def wait_for_refusals(self, count):
        from gi.repository import GLib
        until = time.monotonic() + WAIT
        while len(self.refusals) < count and time.monotonic() < until:
            GLib.MainContext.default().iteration(False)
            time.sleep(0.01)

    def test_a_peer_outside_the_allowed_networks_is_refused_on_both_ports(self):
        status, text = self.start("[Access]\nAllowedNetworks=10.77.0.0/24\n", hailing=False)
        self.assertEqual(status, 0, text)
        for port in (self.server_port, self.file_port):
            self.assertEqual(talk("10.78.0.1", "10.77.0.1", port, connect_frame("outsider")), b"")
            answer = talk("10.77.0.1", "10.77.0.1", port, connect_frame("insider"))
            self.assertTrue(answer.decode("utf-16-le").startswith("CVNPBDP001CONNECTACK"), answer)
        # The host hears of the first refusal from the address; the second,
        # within the minute, only counts.
        self.wait_for_refusals(1)
        self.assertEqual(self.refusals, [("10.78.0.1", "not in AllowedNetworks", 1)])
        self.assertEqual(self.ctrl.props.refused_connections, 1)

    def test_an_id_outside_the_allowed_ids_gets_no_connectack(self):
        status, text = self.start("[Access]\nAllowedApplicationIds=known-app, other-app\n",
                                  hailing=False)
        self.assertEqual(status, 0, text)
        self.assertEqual(talk("10.77.0.1", "10.77.0.1", self.server_port,
                              connect_frame("stranger")), b"")
        answer = talk("10.77.0.1", "10.77.0.1", self.server_port, connect_frame("known-app"))
        self.assertTrue(answer.decode("utf-16-le").startswith("CVNPBDP001CONNECTACK"), answer)
        self.wait_for_refusals(1)
        self.assertEqual(self.refusals,
                         [("10.77.0.1", "application id stranger not in AllowedApplicationIds", 1)])
        self.assertEqual(self.ctrl.props.refused_connections, 1)

    def test_a_storm_of_failed_handshakes_is_reported_a_few_times_then_counted(self):
        from gi.repository import GLib
        status, text = self.start("", hailing=False)
        self.assertEqual(status, 0, text)
        storm = 200
        for _ in range(storm):
            with socket.create_connection(("127.0.0.1", self.server_port), timeout=WAIT) as s:
                s.sendall(b"x" * 274)
        until = time.monotonic() + WAIT
        while time.monotonic() < until and not any("more attempted" in t for _, t in self.errors):
            GLib.MainContext.default().iteration(False)
            time.sleep(0.01)
        failures = [t for n, t in self.errors if n == -100]
        summaries = [t for t in failures if "more attempted connections from 127.0.0.1" in t]
        self.assertTrue(summaries, failures)
        # A few one by one, and one summary per second the storm lasted.
        self.assertLessEqual(len(failures), 3 * 5 + 5, failures)
        reported = len(failures) - len(summaries)
        held_back = sum(int(t.split()[0]) for t in summaries)
        self.assertLessEqual(reported + held_back, storm)

    def test_a_malformed_entry_fails_start_and_names_it(self):
        for ini, entry in (("[Access]\nAllowedNetworks=10.0.0.0/33\n", "10.0.0.0/33"),
                           ("[Access]\nAllowedNetworks=10.1.2.0/24, office\n", "office"),
                           ("[Network]\nListenAddresses=10.77.0.1, 10.77.0\n", "10.77.0")):
            status, text = self.start(ini, hailing=False)
            self.assertEqual(status, -107, text)
            self.assertIn(entry, text)

    def test_listen_addresses_leave_the_ports_closed_elsewhere(self):
        status, text = self.start("[Network]\nListenAddresses=10.77.0.1\n", hailing=False)
        self.assertEqual(status, 0, text)
        for port in (self.server_port, self.file_port):
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("10.78.0.1", port), timeout=WAIT).close()
            socket.create_connection(("10.77.0.1", port), timeout=WAIT).close()

    def test_a_listen_address_not_on_the_machine_fails_and_names_it(self):
        from gi.repository import GLib
        status, text = self.start("[Network]\nListenAddresses=10.99.0.1\n", hailing=False)
        until = time.monotonic() + WAIT
        while status == 0 and not self.errors and time.monotonic() < until:
            GLib.MainContext.default().iteration(False)
            time.sleep(0.01)
        failure = (status, text) if status != 0 else self.errors[0]
        self.assertEqual(failure[0], -107)
        self.assertIn("10.99.0.1", failure[1])


if __name__ == "__main__":
    unittest.main()
