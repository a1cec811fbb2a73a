# Wine for the Windows checks, sourced by the scripts here. One prefix per build tree,
# made on first use (about 10 s) and reused; tests that use it hold ctest's RESOURCE_LOCK
# tessel_wineprefix.
# Inputs: WINE (default wine), WINESERVER (default: Debian's, outside PATH).

WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}

# The Windows path of a Unix path: Wine maps / to drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Exports what every Wine command here runs with and makes prefix $1 if it is not made yet.
wine_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all
    # Neither Mono nor Gecko is needed, and their installers would stop to ask; nor are
    # desktop menu entries for the shortcuts the installer makes.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    [ -e "$WINEPREFIX/.tessel-ready" ] && return 0
    echo "Making the Wine prefix $WINEPREFIX (once)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if ! DISPLAY= "$WINE" wineboot --init >"$WINEPREFIX.log" 2>&1; then
        cat "$WINEPREFIX.log"
        return 1
    fi
    # The registry reaches the disk when the server ends.
    "$WINESERVER" -w
    touch "$WINEPREFIX/.tessel-ready"
}

# Ends every Wine process of the prefix (they are all this test's) and waits for the server.
wine_stop() {
    "$WINESERVER" -k 2>/dev/null
    "$WINESERVER" -w 2>/dev/null
    return 0
}
