#!/bin/bash
# Capture: a text and an image copied by other programs fill the first two rows; the
# image row shows a 128-pixel preview; the clipboard emptied by its owner's exit takes no
# row.
. "$(dirname "$0")/lib.sh"

start_x
start_tessel || exit 1
start_focusapp || exit 1

# A solid colour found nowhere else on screen, so that the preview can be measured.
convert -size 32x16 xc:'#ff00ff' "$WORK/magenta.png"

check "a text copied with xclip is captured" copy_text "first text"
check "a PNG copied with xclip is captured" copy_file image/png "$WORK/magenta.png"
screenshot text-and-image

preview_is_128_high() {
    # The 32x16 image scaled to 128 high is 256x128; the table's 128x128 icon size shows it
    # as 128x64, in a row 128 high. The bounding box of the colour is the preview.
    local box
    box=$(convert "$LAST_SHOT" -fill black +opaque '#ff00ff' -trim -format '%wx%h' info:)
    log "  preview on screen: $box"
    [ "$box" = "128x64" ]
}
check "the image row shows its preview" preview_is_128_high

row_heights() {
    # Down a line through the delete column, inside the table: the cells are white and the
    # rows are separated by one-pixel grid lines, so the white runs are the rows' heights
    # less one.
    window_origin "$TESSEL_WIN"
    convert "$LAST_SHOT" -crop "1x420+$((WIN_X + 500))+$WIN_Y" +repage txt:- |
        awk 'NR > 1 { white = ($3 == "#FFFFFF") }
             white { run++ }
             !white && run { printf "%d ", run + 1; run = 0 }'
}
rows_128_and_text() {
    local heights
    read -ra heights <<<"$(row_heights)"
    log "  row heights: ${heights[*]}"
    # Row 1 the text, row 2 the image, then the empty rows, as high as the text row.
    [ "${#heights[@]}" -ge 3 ] && [ "${heights[1]}" -eq 128 ] && [ "${heights[0]}" -lt 128 ] &&
        [ "${heights[2]}" -eq "${heights[0]}" ]
}
check "the image row is 128 high, the text row keeps its height" rows_128_and_text

owner_gone() { ! clipboard_targets >/dev/null; }
exit_owner() { kill_owner && owner_gone; }
check "the image's owner exits and the clipboard is empty" exit_owner

# Tessel handles its events in order: once F1's paste arrives, the exit has been seen.
clear_focus
first_still_there() { hold_key F1 && wait_focus_text "first text"; }
check "after the exit F1 still pastes the first text" first_still_there

check "a text copied after the exit is captured" copy_text "after exit"
screenshot after-owner-exit

# Rows are slots: F3 pastes row 3. Had the exit taken a row, "after exit" would be in row
# 4. Each paste is awaited before the next key, and F1 after an empty row shows that the
# empty row pasted nothing.
clear_focus
row4_empty() {
    hold_key F4
    hold_key F1
    wait_focus_text "first text"
}
check "the exit took no row: row 4 pastes nothing" row4_empty
row3_next_copy() {
    clear_focus
    hold_key F3
    wait_focus_text "after exit"
}
check "the copy after the exit is in row 3" row3_next_copy

finish
