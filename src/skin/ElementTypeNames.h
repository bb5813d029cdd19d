#pragma once

#include <span>
#include <string_view>

namespace velloq {

// The "type" names of the skin engine's own elements: what a child section may be built as.
// The skin compiler refuses any other; the engine registers an element for each.
std::span<char16_t const* const> engine_element_types();
bool is_engine_element_type(std::u16string_view name);

}
