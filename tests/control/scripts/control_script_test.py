"""The control driven from Python as a host script drives it: through the
CorvaneClient typelib, with a scripted vendor application on loopback.

Usage: control_script_test.py engine | no-engine

Each scenario works on a private copy of the control module (and, for
"engine", of the engine library and its DTDs), loaded before the typelib asks
for it, so files and temporary directories never mix with other tests.
"""

import ctypes
import gc
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BIN_DIR = os.environ["CORVANE_BIN_DIR"]
PEER = os.environ["CORVANE_SCRIPTED_PEER"]
SCENARIO = sys.argv.pop(1) if len(sys.argv) > 1 else "engine"

MODULE_DIR = tempfile.mkdtemp(prefix="corvane-script-")
shutil.copy(os.path.join(BIN_DIR, "CorvaneClient.so"), MODULE_DIR)
if SCENARIO == "engine":
    shutil.copy(os.path.join(BIN_DIR, "Quellor.so"), MODULE_DIR)
    shutil.copytree(os.path.join(BIN_DIR, "dtd"), os.path.join(MODULE_DIR, "dtd"))
# The typelib names the module "CorvaneClient.so"; the copy loaded here is the
# one the loader then finds.
ctypes.CDLL(os.path.join(MODULE_DIR, "CorvaneClient.so"), mode=ctypes.RTLD_GLOBAL)

import gi  # noqa: E402

gi.require_version("CorvaneClient", "1.0")
from gi.repository import CorvaneClient, GLib  # noqa: E402

VALID_XML = ('<?xml version="1.0"?><!DOCTYPE message SYSTEM "corvane-message.dtd">'
             '<message id="m1"><sender>client</sender><body>hello</body></message>')
MAIN_THREAD = threading.get_ident()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def iterate_until(condition, seconds=10):
    """Runs the main context until condition() holds; False at the limit."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        context.iteration(False) or time.sleep(0.005)
    return True


class Peer:
    """The scripted vendor application, one command and one answer a line."""

    def __init__(self):
        self.process = subprocess.Popen([PEER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)

    def __call__(self, command):
        self.process.stdin.write(command + "\n")
        return self.process.stdout.readline().rstrip("\n")

    def close(self):
        self("quit")
        self.process.wait(timeout=10)
        self.process.stdin.close()
        self.process.stdout.close()


class Events:
    """What the control's signals delivered, and on which thread."""

    def __init__(self, ctrl):
        self.errors, self.messages, self.files, self.threads = [], [], [], set()
        ctrl.connect("error-occured", self.on_error)
        ctrl.connect("message-received", self.on_message)
        ctrl.connect("file-received", self.on_file)

    def on_error(self, ctrl, number, text):
        self.threads.add(threading.get_ident())
        self.errors.append((number, text))

    def on_message(self, ctrl, xml):
        self.threads.add(threading.get_ident())
        self.messages.append(xml)

    def on_file(self, ctrl, path):
        self.threads.add(threading.get_ident())
        self.files.append(path)


DEFAULTS = {
    "group-address": "228.11.11.11", "group-port": 45599, "server-port": 45500,
    "hailing-interval": 15000, "using-hailing-server": True, "ack-timeout": 30000,
    "health-check-interval": 60000, "file-port": 45501,
}


@unittest.skipUnless(SCENARIO == "engine", "needs the engine library")
class ControlWithEngine(unittest.TestCase):
    def setUp(self):
        self.ctrl = CorvaneClient.Ctrl()
        self.files = os.path.join(MODULE_DIR, "received")
        self.server_port, self.file_port, self.group_port = free_port(), free_port(), free_port()

    def tearDown(self):
        self.ctrl.stop()
        del self.ctrl
        gc.collect()

    def configure(self):
        ctrl = self.ctrl
        ctrl.props.group_address = "239.255.42.99"
        ctrl.props.group_port = self.group_port
        ctrl.props.server_port = self.server_port
        ctrl.props.file_port = self.file_port
        ctrl.props.hailing_interval = 100
        ctrl.props.ack_timeout = 2000
        ctrl.props.file_directory = self.files

    def test_defaults_and_persistence(self):
        ctrl = self.ctrl
        # The module's version pair heads the saved set.
        major, minor = CorvaneClient.get_version()
        self.assertEqual((major, minor), (2, 0))
        for name, value in DEFAULTS.items():
            self.assertEqual(ctrl.get_property(name), value, name)
        self.assertEqual(ctrl.props.file_directory, os.path.join(MODULE_DIR, "files"))
        self.assertFalse(ctrl.props.started)
        self.assertFalse(ctrl.props.hailing)
        self.assertFalse(ctrl.get_modified())
        spec = ctrl.find_property("ack-timeout")
        self.assertEqual(spec.blurb, "The number of milleseconds to wait for an acknowledgement package")

        self.configure()
        self.assertTrue(ctrl.get_modified())
        data, _ = ctrl.save_to_data()
        self.assertFalse(ctrl.get_modified())
        self.assertIn("Version=%d\n" % (major << 16 | minor), data)
        keys = [line.split("=")[0] for line in data.splitlines()[1:] if line]
        self.assertEqual(keys, ["Version", "GroupAddress", "GroupPort", "ServerPort",
                                "HailingInterval", "AckTimeout", "UsingHailingServer",
                                "HealthCheckInterval", "FilePort", "FileDirectory"])
        self.assertIn("Version=131072", data)  # 2.0: major in the high word

        other = CorvaneClient.Ctrl()
        other.load_from_data(data, -1)
        self.assertEqual(other.props.server_port, self.server_port)
        self.assertEqual(other.props.file_directory, self.files)

        path = os.path.join(MODULE_DIR, "host.ini")
        with open(path, "w") as f:
            f.write("[Host]\nkept=yes\n")
        ctrl.props.health_check_interval = 1234
        ctrl.save_to_file(path)
        other.load_from_file(path)
        self.assertEqual(other.props.health_check_interval, 1234)
        with open(path) as f:
            self.assertIn("kept=yes", f.read())

        with self.assertRaises(GLib.Error):
            other.load_from_data("[CorvaneClient]\nGroupPort=abc\n", -1)
        self.assertEqual(other.props.group_port, self.group_port)

    def test_events_arrive_on_the_main_thread(self):
        ctrl = self.ctrl
        self.configure()
        events = Events(ctrl)
        self.assertEqual(ctrl.start("client-1", "Script Client"), 0, ctrl.get_last_error_message())
        self.assertEqual(ctrl.get_last_error_message(), "")
        self.assertTrue(ctrl.props.started)
        self.assertTrue(iterate_until(lambda: ctrl.props.hailing))

        # Stored properties ignore writes while started.
        ctrl.props.group_port = 1
        self.assertEqual(ctrl.props.group_port, self.group_port)

        peer = Peer()
        try:
            self.assertEqual(peer(f"connect {self.server_port} vendor-1 Vendor One"), "connected")
            self.assertTrue(iterate_until(lambda: len(ctrl.get_applications()) == 1))
            app = ctrl.get_applications()[0]
            self.assertEqual((app.props.id, app.props.name, app.props.address, app.props.version),
                             ("vendor-1", "Vendor One", "127.0.0.1", 1))
            self.assertEqual(app.get_name(), "Vendor One")

            self.assertEqual(peer("xml <from-vendor>grüß</from-vendor>"), "acked")
            self.assertTrue(iterate_until(lambda: events.messages))
            self.assertEqual(events.messages, ["<from-vendor>grüß</from-vendor>"])

            self.assertEqual(ctrl.send_data(VALID_XML), 0, ctrl.get_last_error_message())
            self.assertEqual(peer("expect-xml"), "xml " + VALID_XML)
            self.assertEqual(ctrl.send_data(None), -200)
            self.assertTrue(ctrl.get_last_error_message().startswith("XML is not valid"))

            self.assertEqual(peer(f"file {self.file_port} report.txt file content"), "binack 1")
            self.assertTrue(iterate_until(lambda: events.files))
            self.assertEqual(events.files, [os.path.join(self.files, "report.txt")])
            with open(events.files[0]) as f:
                self.assertEqual(f.read(), "file content")

            self.assertEqual(peer(f"junk {self.server_port}"), "junk-sent")
            self.assertTrue(iterate_until(lambda: events.errors))
            self.assertEqual(events.errors[0][0], -100)
            self.assertIn("An attempted connection failed", events.errors[0][1])
        finally:
            peer.close()

        self.assertEqual(events.threads, {MAIN_THREAD})
        client_id = ctrl.register()
        self.assertEqual(len(client_id), 36)
        self.assertEqual(ctrl.unregister(None), 0)
        self.assertEqual(ctrl.stop(), 0)
        self.assertFalse(ctrl.props.started)
        ctrl.props.group_port = 1
        self.assertEqual(ctrl.props.group_port, 1)

    def test_applications_model_progress_and_outcomes(self):
        """What a script shows of its applications: a live model, the
        observer's signals on every control, file progress and the outcome
        of a send for each application."""
        ctrl = self.ctrl
        self.configure()
        other = CorvaneClient.Ctrl()  # a second control of the same engine
        seen = {"ctrl": [], "other": []}
        for name, control in (("ctrl", ctrl), ("other", other)):
            control.connect("application-added",
                            lambda c, app, n=name: seen[n].append(("added", app.props.id)))
            control.connect("application-removed",
                            lambda c, i, reason, n=name: seen[n].append(("removed", i, reason)))
        progress = []
        ctrl.connect("file-progress", lambda c, i, name, got, size:
                     progress.append((i, name, got, size, threading.get_ident())))
        model = ctrl.props.applications
        self.assertEqual(model.get_n_items(), 0)

        def model_ids():
            return [model.get_item(i).props.id for i in range(model.get_n_items())]

        def engine_ids():
            return [a.props.id for a in ctrl.get_applications()]

        self.assertEqual(ctrl.start("client-3", "Script Client"), 0, ctrl.get_last_error_message())
        peer = Peer()
        try:
            self.assertEqual(peer(f"connect {self.server_port} vendor-3 Vendor Three"), "connected")
            self.assertTrue(iterate_until(lambda: ("added", "vendor-3") in seen["other"]))
            self.assertTrue(iterate_until(lambda: model_ids() == engine_ids() == ["vendor-3"]))
            self.assertEqual(seen["ctrl"], [("added", "vendor-3")])
            self.assertEqual(list(other.props.applications)[0].props.name, "Vendor Three")

            self.assertEqual(peer(f"file {self.file_port} progress.txt some content"), "binack 1")
            self.assertTrue(iterate_until(lambda: progress and progress[-1][2] == 12))
            self.assertEqual(progress[-1][:4], ("file-sender", "progress.txt", 12, 12))
            self.assertEqual({p[4] for p in progress}, {MAIN_THREAD})

            outcomes, status = ctrl.send_data_each("<unclosed")
            if status != -999:  # an engine that sends to each application
                self.assertEqual(status, -200)
                self.assertEqual({o.props.status for o in outcomes} | {-200}, {-200})
                self.assertTrue(ctrl.get_last_error_message().startswith("XML is not valid"))
                outcomes, status = ctrl.send_data_each(VALID_XML)
                self.assertEqual(status, 0, ctrl.get_last_error_message())
                self.assertEqual([(o.props.application_id, o.props.status, o.props.message)
                                  for o in outcomes], [("vendor-3", 0, "")])
                self.assertEqual(peer("expect-xml"), "xml " + VALID_XML)

                # The same without blocking this thread: the outcomes come to
                # the callback, on this thread, once the main context runs.
                finished = []

                def on_sent(source, result):
                    finished.append((ctrl.send_data_each_finish(result),
                                     threading.get_ident()))

                ctrl.send_data_each_async(VALID_XML, None, on_sent)
                self.assertEqual(finished, [])
                self.assertTrue(iterate_until(lambda: finished))
                (outcomes, status), thread = finished[0]
                self.assertEqual((status, thread), (0, MAIN_THREAD))
                self.assertEqual([(o.props.application_id, o.props.status) for o in outcomes],
                                 [("vendor-3", 0)])
                self.assertEqual(peer("expect-xml"), "xml " + VALID_XML)
                ctrl.send_data_each_async("<unclosed", None, on_sent)
                self.assertTrue(iterate_until(lambda: len(finished) == 2))
                self.assertEqual(finished[1][0][1], -200)
                self.assertTrue(ctrl.get_last_error_message().startswith("XML is not valid"))

            # One control goes; the other still hears the application leave.
            del other, control
            gc.collect()
            self.assertEqual(peer("close"), "closed")
            self.assertTrue(iterate_until(lambda: len(seen["ctrl"]) == 2))
            self.assertEqual(seen["ctrl"][1], ("removed", "vendor-3", "disconnected"))
            self.assertTrue(iterate_until(lambda: model_ids() == engine_ids() == []))
            self.assertEqual(len(seen["other"]), 1)
        finally:
            peer.close()

    def test_dropped_with_notifications_in_flight(self):
        ctrl = self.ctrl
        self.configure()
        events = Events(ctrl)
        self.assertEqual(ctrl.start("client-2", "Script Client"), 0, ctrl.get_last_error_message())
        peer = Peer()
        try:
            self.assertEqual(peer(f"connect {self.server_port} vendor-2 Vendor Two"), "connected")
            for i in range(20):
                self.assertEqual(peer(f"xml <n>{i}</n>"), "acked")
        finally:
            peer.close()
        # Nothing was delivered yet: the main context has not run.
        self.assertEqual(events.messages, [])
        self.assertEqual(ctrl.stop(), 0)
        del self.ctrl, ctrl
        gc.collect()
        self.ctrl = CorvaneClient.Ctrl()
        GLib.MainContext.default().iteration(False)
        while GLib.MainContext.default().iteration(False):
            pass
        self.assertEqual(events.messages, [])


@unittest.skipUnless(SCENARIO == "no-engine", "runs without the engine library")
class ControlWithoutEngine(unittest.TestCase):
    def test_every_engine_method_fails_with_the_load_error(self):
        ctrl = CorvaneClient.Ctrl()
        expected = ("Quellor could not be loaded.  File is "
                    + os.path.join(MODULE_DIR, "Quellor.so") + ".  Error message is (2) ")
        self.assertEqual(ctrl.start("id", "name"), -999)
        self.assertTrue(ctrl.get_last_error_message().startswith(expected),
                        ctrl.get_last_error_message())
        for call in (ctrl.stop, lambda: ctrl.unregister("x"), lambda: ctrl.send_data("<a/>")):
            self.assertEqual(call(), -999)
        self.assertEqual(ctrl.register(), "")
        self.assertTrue(ctrl.get_last_error_message().startswith(expected))
        self.assertEqual(ctrl.get_applications(), [])
        self.assertFalse(ctrl.props.started)
        self.assertFalse(ctrl.props.hailing)
        ctrl.props.server_port = 4242
        self.assertEqual(ctrl.props.server_port, 4242)
        # No display named: the dialogs fail at once, loading nothing.
        saved = {name: os.environ.pop(name, None) for name in ("DISPLAY", "WAYLAND_DISPLAY")}
        try:
            with self.assertRaises(GLib.Error) as raised:
                ctrl.about_box()
            self.assertTrue(raised.exception.matches(CorvaneClient.error_quark(),
                                                     CorvaneClient.Error.NO_DISPLAY))
            # A display named, but no user-interface module beside this copy
            # of the control module: the error names the file.
            os.environ["DISPLAY"] = ":31999"
            with self.assertRaises(GLib.Error) as raised:
                ctrl.show_property_page()
            self.assertTrue(raised.exception.matches(CorvaneClient.error_quark(),
                                                     CorvaneClient.Error.MODULE))
            self.assertIn(os.path.join(MODULE_DIR, "CorvaneClientUi.so"),
                          raised.exception.message)
        finally:
            for name, value in saved.items():
                os.environ.pop(name, None)
                if value is not None:
                    os.environ[name] = value


if __name__ == "__main__":
    try:
        unittest.main(verbosity=2)
    finally:
        shutil.rmtree(MODULE_DIR, ignore_errors=True)
