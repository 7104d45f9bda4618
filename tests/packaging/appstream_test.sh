#!/usr/bin/env bash
# The AppStream metainfo: valid without network access (infos fail too, pedantic hints do not), its
# latest release the project's version, and installed where software centres look, beside the
# desktop entry it names as its launchable.
set -euo pipefail
build=$1 metainfo=$2 version=$3
command -v appstreamcli >/dev/null || { echo "appstreamcli is not installed: skipped"; exit 77; }
appstreamcli validate --no-net --strict --explain "$metainfo"

release=$(grep -o -m1 '<release [^>]*version="[^"]*"' "$metainfo" | sed 's/.*version="//; s/"$//')
[ "$release" = "$version" ] || { echo "latest release in $metainfo is '$release', the project's version $version"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/usr" >/dev/null
installed=$work/usr/share/metainfo/com.vantrel.KelmDesk.metainfo.xml
[ -s "$installed" ] || { echo "not installed: share/metainfo/com.vantrel.KelmDesk.metainfo.xml"; exit 1; }
appstreamcli validate-tree --no-net --strict --explain "$work"
