# Sourced: a quiet, private Wine with a persistent server, so that each test
# starts in tens of milliseconds instead of waiting for Wine's background
# processes. Call stop_wine when done.
export WINEPREFIX=${WINEPREFIX:-/tmp/glyphound-wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
export WINE WINESERVER
# The server needs the prefix folder, and it must be started persistent
# before anything else starts one; one already running for the prefix (exit
# status 2) serves as well.
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p || [ $? -eq 2 ]
"$WINE" wineboot -i >/dev/null 2>&1
stop_wine() { "$WINESERVER" -k 2>/dev/null || true; }
