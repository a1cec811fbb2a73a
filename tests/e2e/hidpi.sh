#!/bin/bash
# At 200% (192 DPI, given by Xft.dpi as a desktop sets it): the window at twice its size in
# screen pixels, its ten rows all shown, each delete icon drawn one image pixel to one
# screen pixel, a 64-pixel window icon, and an image's preview 128 pixels high on the
# scale of the rest, made at the screen's own resolution.
. "$(dirname "$0")/lib.sh"

start_x 192
check "the window titled \"$TESSEL_TITLE\" appears" start_tessel
[ -n "${TESSEL_WIN:-}" ] || exit 1

window_size_is() {
    log "  window size: $(window_size "$TESSEL_WIN")"
    [ "$(window_size "$TESSEL_WIN")" = "$1" ]
}
check "the window is 1100x840 screen pixels (550x420 at 96 DPI)" window_size_is 1100x840

window_icons() { xprop -id "$TESSEL_WIN" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)'; }
check "the window icon comes at 64 pixels too" eval 'window_icons | grep -qx "Icon (64 x 64)"'

for i in $(seq 10); do
    copy_text "row $i" || fail "copying text $i"
done
window_shot() {
    screenshot "$1"
    window_origin "$TESSEL_WIN"
    convert "$LAST_SHOT" -crop "1100x840+$WIN_X+$WIN_Y" +repage "$WORK/window.png"
}
window_shot ten-rows

# The 32-pixel icon holds this much red; drawn smaller or larger it would not.
ICON_RED=$(red_marks "$(dirname "$0")/../../resources/delete.ico" | head -n1)
ten_rows_shown() {
    local marks
    marks=$(red_marks "$WORK/window.png" | paste -sd ' ')
    log "  red marks in the window: $marks (the icon: $ICON_RED)"
    [ "$marks" = "$(printf "$ICON_RED %.0s" $(seq 10) | sed 's/ $//')" ]
}
check "all ten rows show, each with its whole, unscaled delete icon" ten_rows_shown

# Columns of one screen pixel, magenta and blue by turns: a preview made at 128 pixels and
# stretched to the screen would have lost every other column and show one colour.
convert -size 2x1 xc:'#ff00ff' -fill '#0000ff' -draw 'point 1,0' -write mpr:stripe +delete \
    -size 256x256 tile:mpr:stripe "$WORK/stripes.png"
preview_sharp() {
    local box magenta
    box=$(convert "$WORK/window.png" -fill black +opaque '#ff00ff' -trim -format '%wx%h%O' info:)
    magenta=$(convert "$WORK/window.png" -crop "$box" +repage -fill black +opaque '#ff00ff' \
        -fill white -opaque '#ff00ff' -format '%[fx:mean]' info:)
    log "  preview on screen: $box, magenta share $magenta"
    # 128 pixels high at the window's scale (less what the cell keeps of its edge), each
    # column of the picture its own.
    [[ "$box" =~ ^255x25[0-6]\+ ]] && awk -v m="$magenta" 'BEGIN { exit !(m > 0.45 && m < 0.55) }'
}
check "an image copied with xclip is captured" copy_file image/png "$WORK/stripes.png"
wait_window_still "$TESSEL_WIN"
window_shot preview
check "its preview is 128 pixels high at the window's scale, and as fine as the screen" \
    preview_sharp
# With the table's icons made room for the preview, the delete icon of the preview's row is
# drawn at 32 pixels of the window's scale: its 64-pixel picture, not the 32-pixel one doubled.
ICON64_RED=$(red_marks "$(dirname "$0")/../../resources/delete-hidpi.ico[1]" | head -n1)
icon_sharp() {
    local mark
    mark=$(red_marks "$WORK/window.png" | head -n1)
    log "  the first row's red mark: $mark (the 64-pixel picture: $ICON64_RED)"
    [ "$mark" = "$ICON64_RED" ]
}
check "then the delete icon beside it is drawn from its 64-pixel picture" icon_sharp

finish
