#!/usr/bin/env bash
# The Debian package stage: builds the package with CPack from the native build
# (build/default), checks its contents and dependencies, validates its desktop file and
# metainfo, installs it with dpkg, runs the installed programs on the demo bench, and removes
# it again. The machine is left as it was, also when a step fails: the package is purged on
# every way out. Needs root (dpkg -i); run after the native build.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Debian package"
start=$(date +%s)
build=build/default
pkg=qxupdater

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

tmp=$(mktemp -d)
installed_by_us=0
cleanup() {
  status=$?
  if [ "$installed_by_us" = 1 ] && dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q installed; then
    "${sudo_cmd[@]}" dpkg --purge "$pkg" >/dev/null || status=1
  fi
  rm -rf "$tmp"
  echo "Debian package stage: $(( $(date +%s) - start )) s"
  exit "$status"
}
trap cleanup EXIT

fail() {
  echo "ci-deb: $*" >&2
  exit 1
}

# Build (the native build made the programs already; this only fills in what is missing).
cmake --build --preset default --target qxupdater qxpack qxupdater_man_pages >/dev/null
rm -rf "$build/deb"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/deb/${pkg}_*.deb)
echo "package: $deb ($(stat -c %s "$deb") bytes)"

# Contents.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' > "$tmp/contents"
expected=(
  /usr/bin/qxupdater /usr/bin/qxupdater-launch /usr/bin/qxpack
  /usr/libexec/qxupdater/qxupdater-root
  /usr/share/applications/com.quorvex.qxupdater.desktop
  /usr/share/metainfo/com.quorvex.qxupdater.metainfo.xml
  /usr/share/polkit-1/actions/com.quorvex.qxupdater.policy
  /usr/share/icons/hicolor/scalable/apps/qxupdater.svg
  /usr/share/man/man1/qxupdater.1.gz /usr/share/man/man1/qxpack.1.gz
  /etc/qxupdater/QXUpdater.ini
)
for size in 16 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/qxupdater.png")
done
if [ -x "$build/qxupdater-cli" ]; then
  expected+=(/usr/bin/qxupdater-cli)
fi
for f in "${expected[@]}"; do
  grep -qx "$f" "$tmp/contents" || fail "the package lacks $f"
done
unexpected=$(grep -v '/$' "$tmp/contents" | grep -vxF -f <(printf '%s\n' "${expected[@]}") || true)
[ -z "$unexpected" ] || echo "note: the package also holds: $unexpected"
echo "contents: ${#expected[@]} files as expected"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libudev1' || fail "no dependency on libudev1"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/qxupdater/QXUpdater.ini ||
  fail "the configuration file is no conffile"

# The packaged desktop files validate, the policy is well-formed XML.
dpkg-deb -x "$deb" "$tmp/root"
desktop-file-validate "$tmp/root/usr/share/applications/com.quorvex.qxupdater.desktop"
appstreamcli validate --no-net "$tmp/root/usr/share/metainfo/com.quorvex.qxupdater.metainfo.xml" >/dev/null
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' \
  "$tmp/root/usr/share/polkit-1/actions/com.quorvex.qxupdater.policy"

# Install. A package left by an interrupted run of this stage goes first.
if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q installed; then
  echo "removing a $pkg package left installed before"
  "${sudo_cmd[@]}" dpkg --purge "$pkg" >/dev/null
fi
installed_by_us=1
if ! "${sudo_cmd[@]}" dpkg -i "$deb" >/dev/null; then
  echo "dpkg -i needs dependencies: apt-get install -f"
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -f -y -qq >/dev/null
fi
dpkg-query -W -f='${Status}\n' "$pkg" | grep -q 'install ok installed' || fail "not installed"
[ -x /usr/bin/qxupdater ] && [ -f /etc/qxupdater/QXUpdater.ini ] || fail "installed files missing"

# Run the installed programs on the demo bench, with a runtime folder of their own (single
# instance lock).
mkdir -m 700 "$tmp/run"
if [ -x /usr/bin/qxupdater-cli ]; then
  XDG_RUNTIME_DIR="$tmp/run" QXUPDATER_DEVICES=sim /usr/bin/qxupdater-cli list --json > "$tmp/list.json"
  python3 -m json.tool "$tmp/list.json" >/dev/null || fail "qxupdater-cli list --json printed no JSON"
  echo "qxupdater-cli list --json: $(wc -c < "$tmp/list.json") bytes of JSON"
fi
# The desktop program has no way to end by itself: it must still be running after its
# first scan, which the bench trace shows (waited for at most 20 s), and is then stopped.
XDG_RUNTIME_DIR="$tmp/run" QXUPDATER_DEVICES=sim QXUPDATER_TRACE="$tmp/trace.jsonl" \
  QT_QPA_PLATFORM=xcb xvfb-run -a sh -c '
    /usr/bin/qxupdater & pid=$!
    i=0
    while [ $i -lt 200 ] && ! grep -q "\"path\"" "$1" 2>/dev/null; do sleep 0.1; i=$((i + 1)); done
    if kill -0 $pid 2>/dev/null; then
      sleep 1; kill $pid; wait $pid; echo running > "$0"
    else
      wait $pid; echo "ended with $?" > "$0"
    fi' "$tmp/gui-status" "$tmp/trace.jsonl" 2> "$tmp/gui-stderr" || true
gui_status=$(cat "$tmp/gui-status" 2>/dev/null || echo "no status")
if [ "$gui_status" != running ]; then
  cat "$tmp/gui-stderr" >&2
  fail "the installed qxupdater did not keep running: $gui_status"
fi
calls=$(grep -c '"path"' "$tmp/trace.jsonl" 2>/dev/null || true)
[ "${calls:-0}" -gt 0 ] || fail "the installed qxupdater sent no command to the demo bench"
echo "installed qxupdater: ran until stopped, $calls control calls to the demo bench"
[ ! -e /usr/bin/QXUpdater.ini ] || fail "the installed program wrote its configuration into /usr/bin"

# Remove.
"${sudo_cmd[@]}" dpkg --purge "$pkg" >/dev/null
installed_by_us=0
[ ! -e /usr/bin/qxupdater ] && [ ! -e /etc/qxupdater ] || fail "files left after purge"
echo "removed: no files left"
