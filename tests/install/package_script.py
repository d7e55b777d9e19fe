#!/usr/bin/python3
"""Tries an installed control as a host script does: creates it from the
typelib, starts it with its default file directory, has corvane-peer (from
PATH) send it an XML and a file, and waits for both signals.

Usage: package_script.py [--no-environment] [--files-under DIR]
  --no-environment   fail when GI_TYPELIB_PATH or LD_LIBRARY_PATH is set
  --files-under DIR  fail unless the received file lands under DIR
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

import gi
gi.require_version("CorvaneClient", "1.0")
from gi.repository import CorvaneClient, GLib  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--no-environment", action="store_true")
parser.add_argument("--files-under")
options = parser.parse_args()
if options.no_environment:
    assert not any(k in os.environ for k in ("GI_TYPELIB_PATH", "LD_LIBRARY_PATH")), os.environ

work = tempfile.mkdtemp(prefix="corvane-package-")
xml_path = os.path.join(work, "order.xml")
with open(xml_path, "w", encoding="utf-8") as f:
    f.write('<?xml version="1.0"?><order id="7">from the package test</order>')
file_name = "report-%d.bin" % os.getpid()
with open(os.path.join(work, file_name), "wb") as f:
    f.write(os.urandom(100000))

# The default file directory: beside the module, or the user's own.
ctrl = CorvaneClient.Ctrl(server_port=45620, file_port=45621, group_port=45622)
received, files = [], []
loop = GLib.MainLoop()


def done():
    if received and files:
        loop.quit()


ctrl.connect("message-received", lambda c, xml: (received.append(xml), done()))
ctrl.connect("file-received", lambda c, path: (files.append(path), done()))
ctrl.connect("error-occured", lambda c, n, text: print("error %d: %s" % (n, text)))
if ctrl.start(ctrl.register(), "Package test") != 0:
    sys.exit("start failed: " + ctrl.get_last_error_message())

peer = subprocess.Popen(["corvane-peer", "connect", "--host", "127.0.0.1", "--port", "45620",
                         "send-xml", xml_path, "send-file", os.path.join(work, file_name),
                         "disconnect"],
                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
GLib.timeout_add_seconds(30, loop.quit)
loop.run()
output = peer.communicate(timeout=30)[0]
ctrl.stop()
shutil.rmtree(work, ignore_errors=True)
if not received or "from the package test" not in received[0] or peer.returncode != 0:
    sys.exit("no XML received (peer exit %s):\n%s" % (peer.returncode, output))
if not files or os.path.basename(files[0]) != file_name:
    sys.exit("no file received (peer exit %s):\n%s" % (peer.returncode, output))
if options.files_under and not files[0].startswith(options.files_under + "/"):
    sys.exit("the file landed in %s, not under %s" % (files[0], options.files_under))
os.remove(files[0])
print("the control received the XML and the file from corvane-peer (%s)" % files[0])
