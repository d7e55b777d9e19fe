#!/bin/sh
# Installs the build into a private prefix, then builds a host project against
# it with find_package(Corvane) and with pkg-config, and runs what it built.
set -eu
build="$1"
source="$2"
work=$(mktemp -d /tmp/corvane-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
module=$(dirname "$(find "$work/prefix" -name Quellor.so)")
test -f "$module/CorvaneClient.so" && test -f "$module/CorvaneClientUi.so" && test -d "$module/dtd"
test -f "$module/logger.ini.sample" && test -f "$module/engine.ini.sample"
# The typelib lies in the library directory's girepository-1.0, and it and
# the GIR name the installed module by its path.
test -f "$module/../girepository-1.0/CorvaneClient-1.0.typelib"
grep -q "shared-library=\"$module/CorvaneClient.so\"" "$work/prefix/share/gir-1.0/CorvaneClient-1.0.gir"
test -f "$work/prefix/share/man/man1/corvane.1.gz" && test -f "$work/prefix/share/man/man1/corvane-peer.1.gz"
test -x "$work/prefix/bin/corvane-peer" && test -x "$work/prefix/bin/corvane"

cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"
"$work/consumer/engine_host" "$module"
"$work/consumer/proxy_host" "$module"
"$work/consumer/ui_consumer" >/dev/null

# A version the package cannot satisfy is refused.
mkdir "$work/too-new"
printf 'cmake_minimum_required(VERSION 3.18)\nproject(TooNew NONE)\nfind_package(Corvane 3.0 REQUIRED)\n' \
  > "$work/too-new/CMakeLists.txt"
if cmake -S "$work/too-new" -B "$work/too-new/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null 2>&1; then
  echo "find_package(Corvane 3.0) accepted version 2" >&2
  exit 1
fi

# Python finds the control from the installed typelib alone: no library path.
GI_TYPELIB_PATH=$(dirname "$(find "$work/prefix" -name CorvaneClient-1.0.typelib)") \
  env -u LD_LIBRARY_PATH /usr/bin/python3 -c '
import gi
gi.require_version("CorvaneClient", "1.0")
from gi.repository import CorvaneClient
assert CorvaneClient.Ctrl().props.server_port == 45500'

PKG_CONFIG_PATH=$(dirname "$(find "$work/prefix" -name corvane-client.pc)")
export PKG_CONFIG_PATH
cc -o "$work/pc-consumer" "$source/tests/install/consumer/consumer.c" \
  $(pkg-config --cflags --libs corvane-client)
"$work/pc-consumer"
cc -o "$work/pc-ui-consumer" "$source/tests/install/consumer/ui_consumer.c" \
  $(pkg-config --cflags --libs corvane-client-ui)
"$work/pc-ui-consumer" >/dev/null
"$work/prefix/bin/corvane" --help >/dev/null

# A system installation owned by root, used by another user: Start works with
# the default file directory, which is then the user's own, and files arrive
# through a temporary directory under the user's cache. Needs root to become
# that user.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  chmod -R a+rX "$work"
  home="$work/home"
  mkdir "$home" && chown 65534:65534 "$home"
  "$source/tools/netns-run" setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i HOME="$home" PATH="$work/prefix/bin:/usr/bin:/bin" \
    GI_TYPELIB_PATH="$(dirname "$(find "$work/prefix" -name CorvaneClient-1.0.typelib)")" \
    /usr/bin/python3 "$source/tests/install/package_script.py" \
    --files-under "$home/.local/share/corvane/files"
  test -d "$home/.cache/corvane/temp"
  test ! -e "$module/temp" && test ! -e "$module/files"
fi
echo "installed tree works"
