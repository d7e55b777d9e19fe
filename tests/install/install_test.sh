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
test -f "$module/CorvaneClient.so" && test -f "$module/CorvaneClient-1.0.typelib" && test -d "$module/dtd"
test -x "$work/prefix/bin/corvane-peer" && test -x "$work/prefix/bin/corvane"

cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"
"$work/consumer/engine_host" "$module"
"$work/consumer/proxy_host" "$module"

PKG_CONFIG_PATH=$(dirname "$(find "$work/prefix" -name corvane-client.pc)")
export PKG_CONFIG_PATH
cc -o "$work/pc-consumer" "$source/tests/install/consumer/consumer.c" \
  $(pkg-config --cflags --libs corvane-client)
"$work/pc-consumer"
"$work/prefix/bin/corvane" --help >/dev/null
echo "installed tree works"
