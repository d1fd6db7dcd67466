#!/bin/sh
# make-deb.sh BUILD_DIR OUT_DIR VERSION
# Makes OUT_DIR/ovalix_VERSION_ARCH.deb from what BUILD_DIR installs under
# /usr and /etc (stripped; every file in /etc a conffile), this directory's
# maintainer scripts, copyright and README.Debian, and a changelog;
# dependencies come from the programs' shared libraries.
set -eu
umask 022
build=$1
out=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)
arch=$(dpkg --print-architecture)
maintainer="Ovalix maintainers <maintainers@ovalix.example>"
root=$out/deb-root
deb=$out/ovalix_${version}_${arch}.deb

rm -rf "$root" "$out/shlibs"
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null

find "$root/usr/share/man" -type f -exec gzip -9n {} +
doc=$root/usr/share/doc/ovalix
mkdir -p "$doc" "$root/DEBIAN"
cp "$here/copyright" "$doc/copyright"
cp "$here/README.Debian" "$doc/README.Debian"
# The changelog's date is the last commit's, so that the same tree gives the
# same package.
stamp=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)}
cat >"$doc/changelog" <<END
ovalix ($version) unstable; urgency=medium

  * Release $version.

 -- $maintainer  $(LC_ALL=C date -u -R -d "@$stamp")
END
gzip -9n "$doc/changelog"
for script in postinst prerm postrm; do
  cp "$here/$script" "$root/DEBIAN/$script"
  chmod 755 "$root/DEBIAN/$script"
done

# dpkg-shlibdeps wants a debian/control beside it.
mkdir -p "$out/shlibs/debian"
printf 'Source: ovalix\n\nPackage: ovalix\nArchitecture: any\n' >"$out/shlibs/debian/control"
elves=$(find "$root/usr" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' elf {} \; -print)
depends=$(cd "$out/shlibs" && dpkg-shlibdeps -O $elves 2>/dev/null | sed -n 's/^shlibs:Depends=//p')

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<END
Package: ovalix
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $size
Depends: $depends
Recommends: libavahi-compat-libdnssd1
Section: video
Priority: optional
Description: phone camera as a webcam: connection service and tools
 Ovalix turns a phone into a webcam. The OvalixSvc service finds the phone
 over a serial cable, through DNS-SD or by an incoming TCP connection on
 port 5055, negotiates a picture format and publishes every frame into a
 named shared-memory block that video applications read.
 .
 This package holds the service with its systemd unit, the phone page
 ovalix-web (a phone's web browser as the camera, paired by a QR code), the
 block monitor ovalix-monitor, and the camera sources that applications open.
END
# dpkg keeps an administrator's changes to these on upgrade, and the files on
# removal; a purge deletes them. It records their checksums itself.
(cd "$root" && find etc -type f | sed 's|^|/|' | LC_ALL=C sort) >"$root/DEBIAN/conffiles"
(cd "$root" && find . \( -path ./DEBIAN -o -path ./etc \) -prune -o -type f -print |
  sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/md5sums" "$root/DEBIAN/control" "$root/DEBIAN/conffiles"

dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
