#pragma once

#include <xcb/xcb.h>

namespace x11 {

// Answers a request for our clipboard that comes from the capture worker with a refusal.
// True when event was such a request.
bool refuseWorkerRequest(const xcb_generic_event_t *event);

// Answers a request for the formats of what a paste put on the clipboard (putOnClipboard)
// with those formats alone, in their order. True when event was such a request.
bool answerTargets(const xcb_generic_event_t *event);

// Follows the clipboard's owner from the window's own events.
void noteOwnerChange(const xcb_generic_event_t *event);

} // namespace x11
