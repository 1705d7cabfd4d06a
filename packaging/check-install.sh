#!/usr/bin/env bash
# Checks an installed tree (a `cmake --install` prefix, or the usr/ folder of the unpacked
# package): the exact file list, the desktop entry, the AppStream metadata and the icons.
# Usage: packaging/check-install.sh PREFIX
set -euo pipefail
prefix="$1"
id=org.example.tovarin
fail() { echo "check-install: $*" >&2; exit 1; }

expected=$(cat <<LIST
bin/tovarin
bin/tovarin-transcribe
libexec/tovarin/speech-service
share/applications/$id.desktop
share/doc/tovarin/changelog.gz
share/doc/tovarin/copyright
share/icons/hicolor/128x128/apps/$id.png
share/icons/hicolor/16x16/apps/$id.png
share/icons/hicolor/22x22/apps/$id.png
share/icons/hicolor/24x24/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/32x32/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/512x512/apps/$id.png
share/icons/hicolor/64x64/apps/$id.png
share/man/man1/tovarin-transcribe.1.gz
share/man/man1/tovarin.1.gz
share/metainfo/$id.metainfo.xml
LIST
)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$(echo "$expected" | LC_ALL=C sort)" ] \
    || fail "file list differs:"$'\n'"$(diff <(echo "$expected" | LC_ALL=C sort) <(echo "$actual") || true)"

for program in bin/tovarin bin/tovarin-transcribe libexec/tovarin/speech-service; do
    [ -x "$prefix/$program" ] || fail "$program is not executable"
done

desktop="$prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate refused $desktop"
grep -qx 'Exec=tovarin %F' "$desktop" || fail "the desktop entry does not open files with %F"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"
grep -q '^Name=' "$desktop" && grep -q '^Name\[zh_CN\]=' "$desktop" \
    || fail "the desktop entry lacks the English or the Chinese name"
grep -q '^MimeType=.*audio/mpeg;.*video/mp4;' "$desktop" \
    || fail "the desktop entry lacks audio and video types"

metainfo="$prefix/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >/dev/null || {
    appstreamcli validate --no-net "$metainfo" >&2
    fail "appstreamcli refused $metainfo"
}
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
    || fail "the metadata does not name the desktop entry"
grep -q '<screenshot type="default">' "$metainfo" || fail "the metadata has no screenshot"

for icon in "$prefix"/share/icons/hicolor/*/apps/$id.png; do
    size=$(basename "$(dirname "$(dirname "$icon")")")
    [ "$(identify -format '%wx%h' "$icon")" = "$size" ] || fail "$icon is not $size"
done
echo "check-install: $prefix is complete"
