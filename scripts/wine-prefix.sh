# Sourced by the Wine runners: finds Wine's loader and server, and makes a fresh, throw-away
# prefix and work folder (removed, with the prefix's server stopped, when the runner exits).
# Sets: wine, wineserver, prefix, work; exports WINEPREFIX and quiet Wine settings; enters
# the work folder.
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'WINEPREFIX="$prefix" "$wineserver" -k 2>/dev/null || true; rm -rf "$prefix" "$work"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$work"
