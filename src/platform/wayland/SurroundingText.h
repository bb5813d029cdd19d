#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace velloq::platform::wayland {

// What an input method asks between two `done` events: delete around the caret, insert committed
// text, show text being composed. Applied in that order, as the protocol says.
struct InputMethodChange {
    std::optional<std::pair<uint32_t, uint32_t>> delete_bytes; // before and after the caret, UTF-8 bytes
    std::optional<std::string> commit;
    std::string preedit;
};

// The field's text as the input method was told it: UTF-8 and the caret's byte offset, cut to
// what the protocol carries around the caret.
struct SurroundingText {
    std::string text;
    int32_t caret { 0 };
    // Where the UTF-16 text sent began; the caret's UTF-16 offset in it.
    size_t caret_units { 0 };

    static SurroundingText of(std::u16string const& text, size_t caret);
    // The UTF-16 units an input method's delete of bytes before and after the caret takes.
    std::pair<int32_t, int32_t> units_around(uint32_t before_bytes, uint32_t after_bytes) const;
};

}
