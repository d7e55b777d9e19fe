#!/bin/sh
# Checks the Debian packages in DIR: lintian finds no error, and, as root, an
# install with apt-get (which pulls in what is missing) gives a system where
# Python with no environment variable creates the control, starts it and
# receives an XML from corvane-peer; the packages are removed after, unless
# they were installed before. Not root: the packages' contents only.
set -eu
dir=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
runtime=$(ls "$dir"/corvane_*.deb)
gir=$(ls "$dir"/gir1.2-corvaneclient-1.0_*.deb)
tools=$(ls "$dir"/corvane-tools_*.deb)
dev=$(ls "$dir"/corvane-dev_*.deb)
all="$runtime $gir $tools $dev"

echo "package: lintian"
lintian --fail-on error --suppress-tags-from-file "$source/tests/install/lintian-overrides" \
  $all

# What a system looks for must be where it looks.
contents=$(for p in $all; do dpkg-deb -c "$p"; done | awk '{print $6}')
for path in ./usr/bin/corvane ./usr/bin/corvane-peer ./usr/share/man/man1/corvane.1.gz \
  ./usr/share/man/man1/corvane-peer.1.gz ./usr/bin/corvane-desktop \
  ./usr/share/applications/corvane-desktop.desktop \
  ./usr/share/icons/hicolor/48x48/apps/corvane-desktop.png; do
  echo "$contents" | grep -qx "$path" || { echo "package: $path missing" >&2; exit 1; }
done
echo "$contents" | grep -q '^\./usr/lib/[^/]*/girepository-1.0/CorvaneClient-1.0.typelib$'
echo "$contents" | grep -q '^\./usr/lib/[^/]*/corvane/Quellor.so$'

if [ "$(id -u)" -ne 0 ]; then
  echo "package: not root, so not installed (contents and lintian checked)"
  exit 0
fi
installed_before=$(dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -c "install ok installed" || true)
moddir=""
cleanup() {
  if [ "$installed_before" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq corvane gir1.2-corvaneclient-1.0 corvane-tools corvane-dev >/dev/null 2>&1 || true
    # What the engine made beside itself (temp/) as root.
    if [ -n "$moddir" ] && [ -d "$moddir" ]; then rm -rf "$moddir"; fi
  fi
}
trap cleanup EXIT
echo "package: apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $all >/dev/null
moddir=$(dirname "$(dpkg -L corvane | grep '/Quellor.so$')")
pkg-config --exists corvane-client corvane-client-ui
# The engine hails: inside a private network namespace, with no environment.
"$source/tools/netns-run" env -i PATH=/usr/bin:/bin /usr/bin/python3 \
  "$source/tests/install/package_script.py" --no-environment
corvane --version >/dev/null && corvane-peer --version >/dev/null
# The desktop host finds the installed control and GTK with no environment.
env -i PATH=/usr/bin:/bin corvane-desktop --version >/dev/null
echo "package: installed packages work"
