#pragma once

namespace velloq {

// True on a phone without a touch screen, whose system bars have fixed heights by screen width.
// Linux phones and desktops are touch or pointer devices; VELLOQ_PLATFORM=smartphone makes one
// behave as a keypad phone. Asked and logged once per process.
bool is_smartphone();

}
