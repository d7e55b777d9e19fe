"""corvane-desktop used as a person uses it, under a private X server (Xvfb):
start it, let a corvane-peer find it by its hail, see the peer in the list,
receive its XML and a file with a progress bar, send an XML chosen in the
file chooser and see the outcome per application, open the property page and
the about box from the menu, stop, and find the settings again in a second
run. Screenshots land in DIR (the second argument).

Runs inside the suite's private network namespace (hails stay there), on a
group port and server ports of its own. Exits 77 (skipped) when no X server
can be started.
Usage: desktop_test.py BIN_DIR SCREENSHOT_DIR
"""

import ctypes
import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
BIN = os.path.realpath(sys.argv[1])
SHOTS = os.path.realpath(sys.argv[2])
PEER = os.path.join(BIN, "corvane-peer")
# Ports of this test's own, so that no other engine of the suite is heard.
GROUP_PORT, SERVER_PORT, FILE_PORT = 46599, 46500, 46501
TIMEOUT = float(os.environ.get("CORVANE_DESKTOP_TIMEOUT", "20"))
FILE_BYTES = 48 * 1000 * 1000
XML = ('<?xml version="1.0"?><!DOCTYPE message SYSTEM "corvane-message.dtd">'
       '<message id="%s"><sender>%s</sender><body>%s</body></message>')


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIPPED)


def without_display():
    """With no display the program says so and exits 1, before any window."""
    environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    run = subprocess.run(["/usr/bin/python3", os.path.join(BIN, "corvane-desktop")],
                         env=environment, capture_output=True, text=True, timeout=30)
    return run.returncode == 1 and "cannot open a display" in run.stderr, run


def start_x_server():
    """A private Xvfb and its display name, or a skip."""
    if not shutil.which("Xvfb"):
        skip("Xvfb is not installed")
    reader, writer = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-nolisten", "tcp",
                               "-noreset", "-screen", "0", "1280x800x24"],
                              pass_fds=(writer,), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    os.close(writer)
    number = b""
    deadline = time.monotonic() + 10
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        import select
        ready, _, _ = select.select([reader], [], [], 0.2)
        if ready:
            chunk = os.read(reader, 16)
            if not chunk:
                break
            number += chunk
    os.close(reader)
    if not number.endswith(b"\n"):
        server.kill()
        server.wait()
        skip("Xvfb did not start")
    return server, ":" + number.decode().strip()


failures = []
said, run = without_display()
if not said:
    failures.append("without a display: exit %d, %r" % (run.returncode, run.stderr[-300:]))
work = tempfile.mkdtemp(prefix="corvane-desktop-test-")
x_server, display = start_x_server()
os.environ.update(DISPLAY=display, GDK_BACKEND="x11", GSK_RENDERER="cairo",
                  NO_AT_BRIDGE="1", GSETTINGS_BACKEND="memory", GTK_A11Y="none", XDG_CONFIG_HOME=work + "/config",
                  XDG_DATA_HOME=work + "/data", XDG_CACHE_HOME=work + "/cache",
                  DBUS_SESSION_BUS_ADDRESS="unix:path=" + work + "/no-bus")
os.makedirs(SHOTS, exist_ok=True)

# The program itself, loaded from the build tree as a module.
loader = importlib.machinery.SourceFileLoader("corvane_desktop",
                                              os.path.join(BIN, "corvane-desktop"))
spec = importlib.util.spec_from_loader("corvane_desktop", loader)
desktop = importlib.util.module_from_spec(spec)
loader.exec_module(desktop)

import gi  # noqa: E402

gi.require_version("Gtk", "4.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

if not Gtk.init_check():
    skip("GTK cannot open the display " + display)



def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what)
    return condition


def pump(seconds=0.0):
    """Runs the main loop for `seconds`, at least once through."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while context.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.01)


def await_(condition, what, timeout=TIMEOUT):
    """Runs the main loop until `condition()` holds; a failure after `timeout`."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        pump()
        if condition():
            return True
        time.sleep(0.02)
    return check(False, (what() if callable(what) else what) + " within %g s" % timeout)


class Rect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float),
                ("width", ctypes.c_float), ("height", ctypes.c_float)]


def c_functions():
    """GTK's drawing calls through ctypes: PyGObject cannot hand render nodes
    over (they are no GObjects)."""
    gtk = ctypes.CDLL("libgtk-4.so.1")
    gobject = ctypes.CDLL("libgobject-2.0.so.0")
    p = ctypes.c_void_p
    for name, result, arguments in (
            ("gtk_widget_paintable_new", p, [p]), ("gtk_snapshot_new", p, []),
            ("gdk_paintable_snapshot", None, [p, p, ctypes.c_double, ctypes.c_double]),
            ("gtk_snapshot_free_to_node", p, [p]), ("gtk_native_get_renderer", p, [p]),
            ("gsk_renderer_render_texture", p, [p, p, ctypes.POINTER(Rect)]),
            ("gdk_texture_save_to_png", ctypes.c_int, [p, ctypes.c_char_p]),
            ("gsk_render_node_unref", None, [p])):
        getattr(gtk, name).restype = result
        getattr(gtk, name).argtypes = arguments
    gobject.g_object_unref.argtypes = [p]
    capsule = ctypes.pythonapi.PyCapsule_GetPointer
    capsule.restype = p
    capsule.argtypes = [ctypes.py_object, ctypes.c_char_p]
    return gtk, gobject.g_object_unref, lambda o: capsule(o.__gpointer__, None)


def screenshot(widget, name):
    """The widget as it is drawn now, into SHOTS/name."""
    gtk, unref, address = c_functions()
    width, height = widget.get_width(), widget.get_height()
    paintable = gtk.gtk_widget_paintable_new(address(widget))
    snapshot = gtk.gtk_snapshot_new()
    gtk.gdk_paintable_snapshot(paintable, snapshot, width, height)
    node = gtk.gtk_snapshot_free_to_node(snapshot)
    unref(paintable)
    if not node:
        return check(False, "the window draws something for " + name)
    renderer = gtk.gtk_native_get_renderer(address(widget.get_native()))
    texture = gtk.gsk_renderer_render_texture(renderer, node, ctypes.byref(Rect(0, 0, width,
                                                                                height)))
    gtk.gsk_render_node_unref(node)
    path = os.path.join(SHOTS, name)
    saved = gtk.gdk_texture_save_to_png(texture, path.encode())
    unref(texture)
    print("screenshot: " + path)
    return check(saved, "the screenshot %s is saved" % name)


def texts(widget):
    """Every label's text inside `widget`, depth first."""
    found = []
    if isinstance(widget, Gtk.Label):
        found.append(widget.get_label())
    child = widget.get_first_child()
    while child is not None:
        found.extend(texts(child))
        child = child.get_next_sibling()
    return found


def rows(box):
    """The rows of a list box, first first."""
    result, index = [], 0
    while box.get_row_at_index(index) is not None:
        result.append(box.get_row_at_index(index))
        index += 1
    return result


def close_dialog_later(screenshot_name, seen):
    """Once a window other than the main one shows, takes its picture and
    closes it: what a person does with a modal dialog."""
    def look():
        for window in Gtk.Window.list_toplevels():
            if window is not app.window and window.get_visible() and window.get_mapped():
                if window.get_width() > 1:
                    pump(0.2)
                    screenshot(window, screenshot_name)
                    seen.append(window.get_title())
                    window.destroy()
                    return False
        return True
    GLib.timeout_add(100, look)


# A settings file as an earlier run left it: this test's ports, a short
# hailing interval and its own file directory.
config = os.path.join(work, "config", "corvane", "corvane-desktop.ini")
os.makedirs(os.path.dirname(config))
earlier = desktop.CorvaneClient.Ctrl()
for name, value in (("group-port", GROUP_PORT), ("server-port", SERVER_PORT),
                    ("file-port", FILE_PORT), ("hailing-interval", 500), ("health-check-interval", 1000),
                    ("file-directory", work + "/files")):
    earlier.set_property(name, value)
earlier.save_to_file(config)
del earlier
to_host = os.path.join(work, "to-host.xml")
with open(to_host, "w") as f:
    f.write(XML % ("v-1", "Test Vendor", "hello from the vendor application"))
to_peer = os.path.join(work, "to-peer.xml")
with open(to_peer, "w") as f:
    f.write(XML % ("c-1", "Desktop Test", "hello from the desktop"))
data = os.path.join(work, "measurements.bin")
with open(data, "wb") as f:
    f.write(os.urandom(1 << 20) * (FILE_BYTES >> 20))
    f.write(b"x" * (FILE_BYTES - f.tell()))

peer = None
peer_lines = []
try:
    started_at = time.monotonic()
    app = desktop.DesktopApplication()
    app.register(None)
    app.activate()
    window = app.window
    await_(lambda: window.get_mapped() and window.get_width() > 100, "the window shows")
    ctrl = window.ctrl
    check(ctrl.props.group_port == GROUP_PORT and ctrl.props.hailing_interval == 500,
          "the settings file's properties are loaded")
    check(window.id_entry.get_text() != "", "a fresh client id is offered")

    # Who this client is, then Start.
    window.id_entry.set_text("desktop-test-client")
    window.name_entry.set_text("Desktop Test")
    window.start_button.emit("clicked")
    await_(lambda: ctrl.props.started, "the engine starts")
    check(window.start_button.get_label() == "Stop", "Start becomes Stop")
    check(not window.id_entry.get_sensitive(), "the id cannot be edited while started")
    check("hailing on 228.11.11.11:%d" % GROUP_PORT in window.state_label.get_label(),
          "the window says where it hails: " + window.state_label.get_label())

    # The file's progress as the window shows it; a picture is taken midway.
    fractions, midway = [], []

    def on_progress(*_):
        for row in rows(window.file_list):
            fractions.append(row.progress.get_fraction())
            if 0 < fractions[-1] < 1 and not midway:
                midway.append(True)
                # Drawn at the next frame, not inside the signal.
                GLib.idle_add(lambda: screenshot(window, "desktop-file-progress.png") and False,
                              priority=GLib.PRIORITY_LOW)

    ctrl.connect_after("file-progress", on_progress)

    # A vendor application finds it by its hail, sends XML and a file, and
    # stays to receive the XML this client sends.
    peer = subprocess.Popen([PEER, "connect", "--hail", "--group-port", str(GROUP_PORT),
                             "--id", "test-vendor", "--name", "Test Vendor", "--json",
                             "send-xml", to_host, "send-file", data, "--seconds", "30"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    threading.Thread(target=lambda: peer_lines.extend(peer.stdout), daemon=True).start()
    await_(lambda: window.applications.get_n_items() == 1, "the peer appears in the list")
    pump(0.1)
    table = texts(window.table)
    check("Test Vendor" in table and "test-vendor" in table and "127.0.0.1" in table,
          "the list shows the peer's name, id and address: %r" % table)
    check("1 connected" in window.applications_heading.get_label(), "the count says 1")

    await_(lambda: len(rows(window.messages)) == 1, "the peer's XML shows in the log")
    message = rows(window.messages)[0]
    check("message v-1: Test Vendor hello from the vendor application" in message.summary,
          "the log's line sums the XML up: " + message.summary)
    message.expander.set_expanded(True)
    await_(lambda: any(row.path for row in rows(window.file_list)), "the file is received")
    file_row = rows(window.file_list)[0]
    check(file_row.path and os.path.getsize(file_row.path) == FILE_BYTES,
          "the file is stored whole")
    print("progress seen: %r" % fractions)
    check(any(0 < f < 1 for f in fractions) and file_row.progress.get_fraction() == 1.0,
          "the progress bar moves, then is full: %r" % fractions[:20])
    check(len(rows(window.file_list)) == 1, "one row for the file")
    check(file_row.open_button.get_visible(), "a received file can be opened")
    opened = []
    window.launch_uri = opened.append
    file_row.open_button.emit("clicked")
    check(opened == [GLib.filename_to_uri(os.path.dirname(file_row.path), None)],
          "Open Folder opens the file's folder: %r" % opened)
    vendor = window.applications.get_item(0)
    await_(lambda: vendor.props.messages_received == 1
           and vendor.props.bytes_received >= FILE_BYTES,
           lambda: "the peer's link health counts its XML and the file's bytes (messages %d, "
                   "bytes %d)" % (vendor.props.messages_received, vendor.props.bytes_received))

    # Send XML…: the chooser, the file chosen in it, the outcome per application.
    window.activate_action("win.send-xml", None)
    await_(lambda: window.chooser is not None, "Send XML opens a file chooser")
    chooser = window.chooser
    await_(lambda: chooser.get_mapped(), "the chooser shows")
    chooser.set_file(Gio.File.new_for_path(to_peer))
    await_(lambda: chooser.get_file() is not None, "the chooser takes the file")
    pump(0.3)
    screenshot(chooser, "desktop-send-chooser.png")
    chooser.emit("response", Gtk.ResponseType.ACCEPT)
    await_(lambda: len(rows(window.sent)) == 1, "the send shows its outcome")
    sent = rows(window.sent)[0]
    check(sent.outcomes == [("test-vendor", 0, sent.outcomes[0][2] if sent.outcomes else "")],
          "one outcome, delivered to the peer: %r" % sent.outcomes)
    check("delivered to 1 of 1 application" in sent.summary, "the line says so: " + sent.summary)
    check(any("Test Vendor (test-vendor): delivered" == t for t in texts(sent)),
          "the outcome names the application: %r" % texts(sent))
    await_(lambda: any('"c-1"' in line or "c-1" in line for line in peer_lines
                       if '"xml"' in line or "message" in line),
           "the peer receives the XML sent")
    await_(lambda: window.applications.get_item(0).props.round_trip >= 0,
           "the round trip is measured")
    pump(1.2)  # the health columns follow at most once a second
    window.set_focus(None)
    screenshot(window, "desktop.png")

    # The property page and the about box, from the menu.
    seen = []
    close_dialog_later("desktop-properties.png", seen)
    app.activate_action("properties", None)
    check(len(seen) == 1, "Properties… shows the property page")
    close_dialog_later("desktop-about.png", seen)
    app.activate_action("about", None)
    check(len(seen) == 2, "About shows the about box")

    # A file whose sender leaves halfway is shown as interrupted, not as
    # still arriving.
    window.on_file_progress("gone-vendor", "half.bin", 500, 1000)
    ctrl.emit("application-removed", "gone-vendor", "connection lost")
    half = rows(window.file_list)[0]
    check(half.name == "half.bin" and "interrupted: connection lost" in half.progress.get_text()
          and ("gone-vendor", "half.bin") not in window.files,
          "an interrupted file says so: " + half.progress.get_text())

    # Stop: the peer leaves the list.
    window.start_button.emit("clicked")
    await_(lambda: not ctrl.props.started, "the engine stops")
    await_(lambda: window.applications.get_n_items() == 0, "the list empties on Stop")
    check(window.start_button.get_label() == "Start", "Stop becomes Start")
    check(window.id_entry.get_sensitive(), "the id can be edited again")
    window.close()
    pump(0.2)

    # A second run finds the id, the name and the properties again.
    keys = GLib.KeyFile()
    keys.load_from_file(config, GLib.KeyFileFlags.NONE)
    check(keys.get_string("Desktop", "ApplicationId") == "desktop-test-client",
          "the id is saved")
    again = desktop.DesktopWindow(app, desktop.Settings(config))
    check(again.id_entry.get_text() == "desktop-test-client"
          and again.name_entry.get_text() == "Desktop Test"
          and again.ctrl.props.server_port == SERVER_PORT,
          "a second run starts from the saved settings")
    again.destroy()
    print("scenario took %.1f s" % (time.monotonic() - started_at))
finally:
    if peer is not None:
        if peer.poll() is None:
            peer.kill()
        peer.wait()
    x_server.kill()
    x_server.wait()
    shutil.rmtree(work, ignore_errors=True)

if failures:
    print("the peer said:\n" + "".join(peer_lines[-30:]))
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all checks passed")
