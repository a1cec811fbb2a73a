#!/bin/bash
# What a user installs: the layout `cmake --install` makes, and the Debian package, unpacked
# into a scratch root and started on a private display.
. "$(dirname "$0")/../e2e/lib.sh"

: "${BUILD_DIR:?the build folder}"

icons_are_16_colours() {
    local f out ok=0
    for f in tessel delete; do
        out=$(file "$(dirname "$0")/../../resources/$f.ico")
        log "  $out"
        [[ "$out" == *"32x32, 16 colors, 4 bits/pixel"* ]] || ok=1
    done
    return $ok
}
check "both icons are 32x32 with a 16-colour palette" icons_are_16_colours

installed_layout() {
    cmake --install "$BUILD_DIR" --prefix "$WORK/prefix" >"$WORK/install.log" 2>&1 || return 1
    local f ok=0
    for f in bin/tessel share/applications/tessel.desktop share/icons/hicolor/32x32/apps/tessel.png; do
        [ -e "$WORK/prefix/$f" ] || {
            log "  missing: $f"
            ok=1
        }
    done
    desktop-file-validate "$WORK/prefix/share/applications/tessel.desktop" || ok=1
    return $ok
}
check "cmake --install puts the program, its .desktop file and its icon in place" installed_layout

build_package() {
    (cd "$BUILD_DIR" && cpack -G DEB -B "$WORK/pkg") >"$WORK/cpack.log" 2>&1 || {
        cat "$WORK/cpack.log"
        return 1
    }
    DEB=$(ls "$WORK"/pkg/*.deb 2>/dev/null | head -n1)
    [ -n "$DEB" ] || return 1
    log "  package: $(basename "$DEB")"
    local version depends
    version=$(dpkg-deb -f "$DEB" Version)
    depends=$(dpkg-deb -f "$DEB" Depends)
    log "  Version: $version"
    log "  Depends: $depends"
    [ "$version" = "$TESSEL_VERSION" ] && [[ "$depends" == *libqt5widgets5* ]] &&
        [[ "$depends" == *libqt5x11extras5* ]] && [[ "$depends" == *libxtst6* ]]
}
check "cpack builds a Debian package, version $TESSEL_VERSION, depending on the libraries it links" \
    build_package

unpacked() {
    dpkg-deb -x "$DEB" "$WORK/root" && [ -x "$WORK/root/usr/bin/tessel" ] &&
        [ -e "$WORK/root/usr/share/applications/tessel.desktop" ]
}
check "the package unpacks into a clean root with the program and its .desktop file" unpacked

# Debian's machine-readable format: its header, one Files paragraph, and the licence text
# (indented, blank lines as " .") that LICENSE holds.
copyright_file() {
    local f="$WORK/root/usr/share/doc/tessel/copyright" text
    [ -f "$f" ] || return 1
    head -n1 "$f" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
        grep -qx 'Files: \*' "$f" && grep -qx 'Copyright: 2026 Tessel developers' "$f" &&
        grep -qx 'License: Expat' "$f" || return 1
    text=$(sed -n '/^License: Expat$/,$p' "$f" | tail -n +2 | sed -e 's/^ \.$//' -e 's/^ //')
    diff <(echo "$text") <(sed -n '/^Permission is hereby/,$p' "$(dirname "$0")/../../LICENSE")
}
check "the package holds /usr/share/doc/tessel/copyright: the MIT (Expat) licence, as DEP-5 lays it out" \
    copyright_file

start_x
# The single instance's files for this display, in the temp folder; none left by an older run.
instance_files() {
    find "${TMPDIR:-/tmp}" -maxdepth 1 \( -name "tessel-*_${DISPLAY#:}.lock" -o \
        -name "tessel-*_${DISPLAY#:}.wake" \) "$@"
}
instance_files -delete
TESSEL="$WORK/root/usr/bin/tessel"
check "the installed program starts and shows its window" start_tessel
installed_exits() {
    wm_close "$TESSEL_WIN" && wait_exit "$TESSEL_PID" && [ "$EXIT_STATUS" -eq 0 ]
}
check "the installed program ends with status 0 when its window is closed" installed_exits

no_leftovers() { [ -z "$(instance_files | tee -a "$WORK/left.log")" ]; }
check "the program leaves no lock or wake file behind when it ends" no_leftovers

finish
