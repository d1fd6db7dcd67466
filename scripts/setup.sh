#!/usr/bin/env bash
# Installs every Debian package the two builds, the tools and the tests need.
# Safe to run again: apt skips what is already there, and the i386 architecture
# is added only once.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
  dpkg --add-architecture i386
  apt-get update
fi

packages=(
  # native build and tests
  build-essential cmake ninja-build pkg-config git
  g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libturbojpeg0-dev libsystemd-dev libudev-dev
  # the browser phone's bridge: TLS and certificates, WebSocket and HTTP, QR codes
  libmbedtls-dev libwebsockets-dev libqrencode-dev
  # DNS-SD: client library loaded at run time, daemon and tools for the real test
  libavahi-compat-libdnssd-dev avahi-daemon avahi-utils dbus libnss-mdns
  # process tests: namespaces, pty pairs, tools
  util-linux iproute2 procps socat python3
  # cross build and Windows tests under Wine, nasm for libjpeg-turbo's SIMD
  nasm g++-mingw-w64-i686 mingw-w64-i686-dev wine wine32:i386 wine64 xvfb xauth
  # Wine's 32-bit loader on a machine whose kernel runs 64-bit code only:
  # qemu-i386 runs it there (scripts/win32-emulation.sh), and the preloader
  # reserves Wine's address ranges with plain MAP_FIXED, which qemu honours
  # (without it every 32-bit program fails to map the shared user data)
  qemu-user wine32-preloader:i386
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  # DirectShow under Wine: VMR-9 needs Mesa of the program's bitness (the
  # capture filter is tested in both); screenshots of the windows
  libgl1-mesa-dri:i386 libglx-mesa0:i386 libgl1:i386
  libgl1-mesa-dri libglx-mesa0 libgl1 x11-apps imagemagick
  # artwork script
  python3-pil fonts-dejavu-core
  # GStreamer source element
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-tools
  # the demo's picture: X video sinks for a window, ImageMagick's montage for the contact sheet
  gstreamer1.0-x
  # PipeWire camera
  libpipewire-0.3-dev pipewire pipewire-bin wireplumber gstreamer1.0-pipewire
  # the camera in a real browser: headless Chromium through the desktop portal,
  # whose stand-in Access backend runs on Debian's Python D-Bus bindings; and
  # the browser phone's tests: Chromium with a fake camera as the phone, node
  # for the page's protocol code on its own
  chromium xdg-desktop-portal python3-dbus python3-gi dbus-bin nodejs
  # packages: the installer, the Debian package and their tests
  nsis lintian dpkg-dev systemd
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# libjpeg-turbo for the Windows builds, from Debian's source package of the
# version the native build links: a deb-src entry beside each deb entry of the
# Debian archive in use, then the package's files into a fixed folder that the
# Windows builds read (OVALIX_JPEG_SOURCE_DIR). Nothing is downloaded at build
# time.
jpeg_dir=/var/cache/ovalix/libjpeg-turbo
src_list=/etc/apt/sources.list.d/ovalix-deb-src.sources
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  # deb822: the Debian stanzas again, as source entries.
  new_list=$(sed -n '/^Types:/,/^$/p' /etc/apt/sources.list.d/debian.sources |
             sed 's/^Types:.*/Types: deb-src/')
else
  # One-line format: the same lines as deb-src, in the deb822 form.
  new_list=$(grep -h '^deb \(\[[^]]*\] \)\?http[^ ]*debian' /etc/apt/sources.list 2>/dev/null |
             sed 's/^deb \(\[[^]]*\] \)\?/deb-src /' || true)
  src_list=/etc/apt/sources.list.d/ovalix-deb-src.list
fi
if [ ! -f "$src_list" ] || [ "$(cat "$src_list")" != "$new_list" ]; then
  printf '%s\n' "$new_list" > "$src_list"
  apt-get update
fi
if ! ls "$jpeg_dir"/libjpeg-turbo_*.orig.tar.gz >/dev/null 2>&1; then
  mkdir -p "$jpeg_dir"
  version=$(dpkg-query -W -f='${source:Version}' libturbojpeg0)
  (cd "$jpeg_dir" && apt-get source --download-only "libjpeg-turbo=$version")
fi

# The browser phone's bridge for the Windows builds: mbedTLS, libwebsockets
# and qrencode from Debian's source packages, the versions the native build
# links, each into its folder under /var/cache/ovalix (OVALIX_WEB_SOURCE_DIR).
# Only the upstream tarball is needed; a mirror that lacks a Debian patch
# file still serves it.
for pair in mbedtls:libmbedtls-dev libwebsockets:libwebsockets-dev qrencode:libqrencode-dev; do
  source=${pair%%:*}
  binary=${pair#*:}
  dir=/var/cache/ovalix/$source
  if ! ls "$dir/${source}_"*.orig.tar.* >/dev/null 2>&1; then
    mkdir -p "$dir"
    version=$(dpkg-query -W -f='${source:Version}' "$binary")
    (cd "$dir" && apt-get source --download-only "$source=$version" || true)
    ls "$dir/${source}_"*.orig.tar.* >/dev/null
  fi
done
