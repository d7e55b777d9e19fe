#!/usr/bin/python3
"""Run with no environment variables against the installed packages: creates
the control from the system's typelib, starts it, has /usr/bin/corvane-peer
send it an XML and waits for the message-received signal.

Usage: package_script.py [WORK_DIR]
"""
import os
import shutil
import subprocess
import sys
import tempfile

import gi
gi.require_version("CorvaneClient", "1.0")
from gi.repository import CorvaneClient, GLib  # noqa: E402

assert not any(k in os.environ for k in ("GI_TYPELIB_PATH", "LD_LIBRARY_PATH")), os.environ

work = tempfile.mkdtemp(prefix="corvane-package-")
xml_path = os.path.join(work, "order.xml")
with open(xml_path, "w", encoding="utf-8") as f:
    f.write('<?xml version="1.0"?><order id="7">from the package test</order>')

ctrl = CorvaneClient.Ctrl(server_port=45620, file_port=45621, group_port=45622,
                          file_directory=os.path.join(work, "files"))
received = []
loop = GLib.MainLoop()
ctrl.connect("message-received", lambda c, xml: (received.append(xml), loop.quit()))
if ctrl.start(ctrl.register(), "Package test") != 0:
    sys.exit("start failed: " + ctrl.get_last_error_message())

peer = subprocess.Popen(["corvane-peer", "connect", "--host", "127.0.0.1", "--port", "45620",
                         "send-xml", xml_path, "disconnect"],
                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
GLib.timeout_add_seconds(30, loop.quit)
loop.run()
output = peer.communicate(timeout=30)[0]
ctrl.stop()
shutil.rmtree(work, ignore_errors=True)
if not received or "from the package test" not in received[0] or peer.returncode != 0:
    sys.exit("no XML received (peer exit %s):\n%s" % (peer.returncode, output))
print("the installed control received the XML from corvane-peer")
