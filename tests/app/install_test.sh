#!/usr/bin/env bash
# cmake --install into an empty prefix: every file where a desktop looks for it, valid, and the
# installed programs start from there.
set -euo pipefail
build=$1
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

programs=(kelmdesk norvexsim)
[ -x "$build/runner/kelm" ] && programs+=(kelm)
expected=(share/applications/com.vantrel.KelmDesk.desktop share/mime/packages/com.vantrel.KelmDesk.xml
  share/icons/hicolor/scalable/apps/com.vantrel.KelmDesk.svg
  share/icons/hicolor/scalable/apps/com.vantrel.KelmDesk-monitor.svg
  share/icons/hicolor/scalable/mimetypes/text-x-kelm.svg share/metainfo/com.vantrel.KelmDesk.metainfo.xml
  share/doc/kelmdesk/copyright share/doc/kelmdesk/changelog.gz)
for p in "${programs[@]}"; do expected+=("bin/$p" "share/man/man1/$p.1.gz"); done
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || { echo "not executable: bin/$p"; exit 1; }
  gzip -t "$prefix/share/man/man1/$p.1.gz"
done
gzip -t "$prefix/share/doc/kelmdesk/changelog.gz"
desktop-file-validate "$prefix/share/applications/com.vantrel.KelmDesk.desktop"

"$prefix/bin/norvexsim" --help | grep -q "usage: norvexsim"
if [ -x "$prefix/bin/kelm" ]; then "$prefix/bin/kelm" --help >/dev/null; fi

# The installed KelmDesk starts (it listens for open requests), and a second one hands over to it.
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=offscreen NORVEX_PORT_BASE=1
mkdir -m 700 "$XDG_RUNTIME_DIR"
"$prefix/bin/kelmdesk" -editonly &
pid=$!
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/kelmdesk.socket" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/kelmdesk.socket" ] || { echo "installed kelmdesk did not start"; exit 1; }
timeout 10 "$prefix/bin/kelmdesk" -open
echo "installed: ${programs[*]}"
