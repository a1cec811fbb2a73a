#!/bin/bash
# What a Windows user installs: CPack's NSIS installer and zip of the cross build. The
# program carries its version and manifest, stripped DLLs and the licences. Under Wine the
# installer shows its version in its title, runs silently with the sign-in option, the
# installed program opens its window, a new install and the uninstaller close a running
# Tessel, and the uninstaller removes everything the installer made.
# Inputs: WIN_BUILD (the cross build), TITLE (the window's title), VERSION, E2E_ARTIFACTS.
: "${WIN_BUILD:?the Windows build folder}" "${TITLE:?the window title}" "${VERSION:?}"
# lib.sh asks for the program it starts; this test starts the installed one itself.
TESSEL=unused
E2E_TIMEOUT=${E2E_TIMEOUT:-30}
. "$(dirname "$0")/../e2e/lib.sh"
. "$(dirname "$0")/wine.sh"
trap 'status=$?; wine_stop; (exit $status); cleanup' EXIT

package="$WIN_BUILD/tessel-$VERSION-win64"
NOTICES="licences/THIRD-PARTY.txt licences/LGPL-3.txt licences/GPL-3.txt
    licences/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt licences/qtbase-copyright.txt"
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
        imageformats/qico.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
        LICENSE.txt $NOTICES; do
        grep -qx "tessel-$VERSION-win64/$f" <<<"$listing" || {
            log "  not in the zip: $f"
            ok=1
        }
    done
    return $ok
}
check "the zip holds the program with its DLLs and plugins, its licence and the notices" \
    zip_runnable

# The strings of a version resource as lines "name=value": each string joined with the next.
version_strings() {
    wrestool -x --raw -t 16 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -c '[:print:]' '\n' |
        grep -v '^.\?$' | awk 'NR > 1 { print prev "=" $0 } { prev = $0 }'
}
# Whether the lines on stdin hold each of the fixed lines "$@".
holds_lines() {
    local text line ok=0
    text=$(cat)
    for line in "$@"; do
        grep -qxF -- "$line" <<<"$text" || {
            log "  missing: $line"
            ok=1
        }
    done
    return $ok
}

unzipped="$WORK/zip/tessel-$VERSION-win64"
program_described() {
    mkdir -p "$WORK/zip" && (cd "$WORK/zip" && cmake -E tar xf "$package.zip") || return 1
    local manifest
    version_strings "$unzipped/tessel.exe" >"$WORK/version.txt"
    holds_lines ProductName=Tessel ProductVersion="$VERSION" FileVersion="$VERSION" \
        "CompanyName=Tessel developers" "LegalCopyright=Copyright (C) 2026 Tessel developers" \
        <"$WORK/version.txt" || return 1
    manifest=$(wrestool -x --raw -t 24 -n 1 "$unzipped/tessel.exe") || return 1
    # Windows 7, 8, 8.1 and 10/11; common controls 6; per-monitor DPI awareness.
    grep -o 'supportedOS Id="{[^}]*}"\|Common-Controls" version="6\|>PerMonitorV2[^<]*<\|>true/pm<' \
        <<<"$manifest" | sort | tr -d '"<>' | holds_lines \
        'supportedOS Id={1f676c76-80e1-4239-95bb-83d0f6d0da78}' \
        'supportedOS Id={35138b9a-5d96-4fbd-8e2d-a2440225f93a}' \
        'supportedOS Id={4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}' \
        'supportedOS Id={8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' \
        'Common-Controls version=6' 'PerMonitorV2, PerMonitor' 'true/pm'
}
check "tessel.exe carries version $VERSION, its vendor and copyright, and its manifest" \
    program_described

stripped() {
    local size f ok=0
    size=$(stat -c %s "$unzipped/libstdc++-6.dll")
    log "  libstdc++-6.dll: $size bytes; folder: $(du -sb "$unzipped" | cut -f1) bytes"
    [ "$size" -lt 5000000 ] || ok=1
    for f in tessel.exe libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        if x86_64-w64-mingw32-objdump -h "$unzipped/$f" | grep -q '\.debug_'; then
            log "  $f has debug sections"
            ok=1
        fi
    done
    return $ok
}
check "the packed program and runtime DLLs are stripped (libstdc++ under 5 MB)" stripped

# CPack keeps the script it gave makensis; the licence page shows the file it names.
licensed_installer() {
    local nsi page listing ok=0
    nsi="$WIN_BUILD/_CPack_Packages/win64/NSIS/project.nsi"
    page=$(sed -n 's/^!insertmacro MUI_PAGE_LICENSE "\(.*\)"$/\1/p' "$nsi")
    log "  licence page: $page"
    [ -f "$page" ] && grep -q '^MIT License$' "$page" &&
        grep -q '^Copyright (c) 2026 Tessel developers$' "$page" &&
        grep -q 'GNU Lesser General Public License version 3' "$page" &&
        grep -q 'libstdc++-6.dll, libgcc_s_seh-1.dll' "$page" || ok=1
    listing=$(7z l -slt "$package.exe" | sed -n 's/^Path = //p') || return 1
    for f in LICENSE.txt $NOTICES; do
        grep -qx "$f" <<<"$listing" || {
            log "  not in the installer: $f"
            ok=1
        }
    done
    7z e -so "$package.exe" LICENSE.txt 2>/dev/null | cmp -s - "$(dirname "$0")/../../LICENSE" || {
        log "  the installer's LICENSE.txt is not LICENSE"
        ok=1
    }
    version_strings "$package.exe" | holds_lines ProductName=Tessel ProductVersion="$VERSION" \
        "FileDescription=Tessel $VERSION Setup" "CompanyName=Tessel developers" || ok=1
    return $ok
}
check "the installer shows the licences, installs them, and carries version $VERSION" \
    licensed_installer

start_x
wine_prefix "$WIN_BUILD/wineprefix" || exit 1
wine_stop
folder="$WINEPREFIX/drive_c/Tessel"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessel"
# The user's Startup shortcut (Wine spells the folder StartUp).
startup_link() { find "$WINEPREFIX/drive_c/users" -ipath '*/Start Menu/Programs/Startup/Tessel.lnk' "$@"; }
rm -rf "$folder" "$menu"
startup_link -delete
# The single-instance files in %TEMP%, none of them left by an earlier run.
wake_files() { find "$WINEPREFIX/drive_c/users" \( -name 'tessel-*.wake' -o -name 'tessel-*.lock' \) "$@"; }
wake_files -delete
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessel'
vendor_key='HKLM\Software\Tessel developers'

titled() {
    start_bg setup "$WINE" "$package.exe"
    wait_window "Tessel $VERSION Setup" || return 1
    screenshot setup-welcome
    xdotool key --window "$WINDOW" Return
    sleep 1
    screenshot setup-licence
}
check "the installer's window is titled Tessel $VERSION Setup" titled
wine_stop

# The values under registry key $1 as lines "NAME TYPE DATA".
reg_values() { "$WINE" reg query "$1" 2>/dev/null | tr -d '\r' | awk 'NF >= 3 { $1 = $1; print }'; }
reg_key_exists() { "$WINE" reg query "$1" >/dev/null 2>&1; }

installed() {
    "$WINE" "$package.exe" /S /AUTOSTART '/D=C:\Tessel' >"$WORK/setup.log" 2>&1 || return 1
    log "  installed: $(cd "$folder" && find . -type f | sort | tr '\n' ' ')"
    log "  Start menu: $(ls "$menu" | tr '\n' ' ')"
    local f ok=0 values size
    for f in tessel.exe platforms/qwindows.dll Uninstall.exe LICENSE.txt $NOTICES; do
        [ -f "$folder/$f" ] || {
            log "  not installed: $f"
            ok=1
        }
    done
    strings "$menu/Tessel.lnk" 2>/dev/null | grep -qx 'C:\\Tessel\\tessel.exe' || {
        log "  no Start-menu entry for C:\Tessel\tessel.exe"
        ok=1
    }
    strings "$(startup_link)" 2>/dev/null | grep -qx 'C:\\Tessel\\tessel.exe' || {
        log "  no Startup shortcut for C:\Tessel\tessel.exe"
        ok=1
    }
    values=$(reg_values "$uninstall_key")
    holds_lines "NoModify REG_DWORD 0x1" "NoRepair REG_DWORD 0x1" \
        "DisplayVersion REG_SZ $VERSION" "Publisher REG_SZ Tessel developers" <<<"$values" || ok=1
    # In KiB, about the folder's size.
    size=$(sed -n 's/^EstimatedSize REG_DWORD \(0x[0-9a-fA-F]*\)$/\1/p' <<<"$values")
    log "  EstimatedSize: $((size)) KiB; the folder: $(du -sk "$folder" | cut -f1) KiB"
    [ -n "$size" ] && ((size * 1024 > $(du -sb "$folder" | cut -f1) * 9 / 10)) || ok=1
    return $ok
}
check "the installer, run silently with /AUTOSTART, installs the program, the licences, a Start-menu entry and a Startup shortcut, and registers its size" \
    installed

starts() {
    start_bg tessel "$WINE" 'C:\Tessel\tessel.exe'
    TESSEL_PID=$BG_PID
    wait_window "$TITLE" || return 1
    screenshot installed
    wm_close "$WINDOW" && wait_exit "$TESSEL_PID" && [ "$EXIT_STATUS" -eq 0 ]
}
check "the installed program opens its window and ends with status 0" starts

no_leftovers() { [ -z "$(wake_files | tee -a "$WORK/left.log")" ]; }
check "the program leaves no wake or lock file in %TEMP% when it ends" no_leftovers

# Starts the installed program and waits for its window.
start_installed() {
    start_bg tessel "$WINE" 'C:\Tessel\tessel.exe'
    TESSEL_PID=$BG_PID
    wait_window "$TITLE"
}
closed_by() {
    start_installed || return 1
    "$WINE" "$@" >>"$WORK/setup.log" 2>&1 || return 1
    wait_exit "$TESSEL_PID" && [ "$EXIT_STATUS" -eq 0 ]
}
reinstalled() {
    closed_by "$package.exe" /S '/D=C:\Tessel' && [ -f "$folder/tessel.exe" ] &&
        [ -n "$(startup_link)" ]
}
check "installing again while Tessel runs closes it (status 0) and keeps the Startup shortcut" \
    reinstalled

gone() { [ ! -e "$folder" ] && [ ! -e "$menu" ] && [ -z "$(startup_link)" ]; }
uninstalled() {
    start_installed || return 1
    # The uninstaller copies itself away and returns at once; Tessel ends and the files go
    # after.
    "$WINE" "$folder/Uninstall.exe" /S >"$WORK/uninstall.log" 2>&1 || return 1
    wait_exit "$TESSEL_PID" || return 1
    log "  Tessel ended with status $EXIT_STATUS"
    wait_until gone || {
        log "  left: $(find "$folder" "$menu" 2>/dev/null | tr '\n' ' ') $(startup_link)"
        return 1
    }
    local key ok=0
    for key in "$uninstall_key" "$vendor_key"; do
        ! reg_key_exists "$key" || {
            log "  left: $key"
            ok=1
        }
    done
    [ "$EXIT_STATUS" -eq 0 ] && return $ok
}
check "the uninstaller, run silently while Tessel runs, closes it (status 0) and removes the program, its shortcuts and its registry keys" \
    uninstalled

finish
