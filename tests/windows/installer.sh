#!/bin/bash
# What a Windows user installs: CPack's NSIS installer and zip of the cross build. Under Wine
# the installer runs silently, the installed program opens its window, and the uninstaller
# removes it and its Start-menu entry.
# Inputs: WIN_BUILD (the cross build), TITLE (the window's title), VERSION, E2E_ARTIFACTS.
: "${WIN_BUILD:?the Windows build folder}" "${TITLE:?the window title}" "${VERSION:?}"
# lib.sh asks for the program it starts; this test starts the installed one itself.
TESSEL=unused
E2E_TIMEOUT=${E2E_TIMEOUT:-30}
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/wine.sh"
trap 'status=$?; wine_stop; (exit $status); cleanup' EXIT

package="$WIN_BUILD/tessel-$VERSION-win64"
packages_built() {
    rm -f "$package.exe" "$package.zip"
    (cd "$WIN_BUILD" && cpack) >"$WORK/cpack.log" 2>&1 || {
        cat "$WORK/cpack.log"
        return 1
    }
    ls -l "$package.exe" "$package.zip" | while read -r line; do log "  $line"; done
    [ -f "$package.exe" ] && [ -f "$package.zip" ]
}
check "cpack builds $(basename "$package").exe and .zip" packages_built

zip_runnable() {
    local listing f ok=0
    listing=$(cmake -E tar tf "$package.zip") || return 1
    for f in tessel.exe Qt5Core.dll Qt5Gui.dll Qt5Widgets.dll platforms/qwindows.dll \
        imageformats/qico.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        grep -qx "tessel-$VERSION-win64/$f" <<<"$listing" || {
            log "  not in the zip: $f"
            ok=1
        }
    done
    return $ok
}
check "the zip holds the program with its DLLs and plugins" zip_runnable

start_x
wine_prefix "$WIN_BUILD/wineprefix" || exit 1
wine_stop
folder="$WINEPREFIX/drive_c/Tessel"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessel"
rm -rf "$folder" "$menu"

installed() {
    "$WINE" "$package.exe" /S '/D=C:\Tessel' >"$WORK/setup.log" 2>&1 || return 1
    log "  installed: $(cd "$folder" && find . -type f | sort | tr '\n' ' ')"
    log "  Start menu: $(ls "$menu" | tr '\n' ' ')"
    [ -f "$folder/tessel.exe" ] && [ -f "$folder/platforms/qwindows.dll" ] &&
        [ -f "$folder/Uninstall.exe" ] &&
        strings "$menu/Tessel.lnk" 2>/dev/null | grep -qx 'C:\\Tessel\\tessel.exe'
}
check "the installer, run silently, installs the program and a Start-menu entry for it" installed

starts() {
    start_bg tessel "$WINE" 'C:\Tessel\tessel.exe'
    TESSEL_PID=$BG_PID
    wait_window "$TITLE" || return 1
    screenshot installed
    wm_close "$WINDOW" && wait_exit "$TESSEL_PID" && [ "$EXIT_STATUS" -eq 0 ]
}
check "the installed program opens its window and ends with status 0" starts

gone() { [ ! -e "$folder" ] && [ ! -e "$menu" ]; }
uninstalled() {
    # The uninstaller copies itself away and returns at once; the files go after.
    "$WINE" "$folder/Uninstall.exe" /S >"$WORK/uninstall.log" 2>&1 || return 1
    wait_until gone || {
        log "  left: $(find "$folder" "$menu" 2>/dev/null | tr '\n' ' ')"
        return 1
    }
}
check "the uninstaller, run silently, removes the program and its Start-menu entry" uninstalled

finish
