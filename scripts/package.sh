#!/usr/bin/env bash
# Builds the Debian package (CPack) into build/ and checks it: the installed tree it carries
# (file list, desktop entry, AppStream metadata, icons), its declared dependencies (resolvable
# by apt on this Debian), and lintian (no error). Prints the package's path last.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"

rm -f "$build"/tovarin_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tovarin_*.deb)

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
"$root/packaging/check-install.sh" "$unpacked/usr"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in ffmpeg pocketsphinx-en-us phonon4qt5-backend-gstreamer libqt5multimedia5-plugins \
    libpocketsphinx3 libqt5widgets5; do
    case ", $depends," in
    *", $needed"[\ ,]*) ;;
    *) echo "package.sh: Depends lacks $needed: $depends" >&2; exit 1 ;;
    esac
done
# Every dependency must be known to apt here (simulated: nothing is installed).
apt-get install --simulate -qq "$deb" >/dev/null

lintian --fail-on error "$deb"
echo "$deb"
