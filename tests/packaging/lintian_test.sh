#!/usr/bin/env bash
# Builds the Debian package with cpack into a private folder, under a strict umask, and checks it
# with lintian: no error and no warning. Also what lintian cannot know: the dependencies that
# dpkg-shlibdeps computes and the SVG plug-in named by hand, the changelog's version, the metainfo.
set -euo pipefail
build=$1
command -v lintian >/dev/null || { echo "lintian is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(umask 077 && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work") >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
debs=("$work"/kelmdesk_*.deb)
[ -f "${debs[0]}" ] || { cat "$work/cpack.log"; echo "cpack made no kelmdesk_*.deb"; exit 1; }
deb=${debs[0]}

# Info tags are shown, not failed on; docs/packaging.md says which remain and why.
lintian --fail-on error,warning --display-info --tag-display-limit 0 "$deb"

depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6svg6 libqt6widgets6 libc6; do
  [[ ", $depends," == *", $d"[\ ,]* ]] || { echo "Depends lacks $d: $depends"; exit 1; }
done
dpkg-deb -x "$deb" "$work/root"
version=$(dpkg-deb -f "$deb" Version)
changed=$(zcat "$work/root/usr/share/doc/kelmdesk/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changed" = "$version" ] || { echo "the changelog's latest entry is $changed, the package $version"; exit 1; }
[ -s "$work/root/usr/share/metainfo/com.vantrel.KelmDesk.metainfo.xml" ] ||
  { echo "not packaged: usr/share/metainfo/com.vantrel.KelmDesk.metainfo.xml"; exit 1; }
echo "$(basename "$deb"): lintian clean; Depends: $depends"
