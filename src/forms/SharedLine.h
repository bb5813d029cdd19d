#pragma once

#include <cstdint>

namespace velloq {

class Element;
class TextElement;

// A text and the label at the right of its line (a name and its phone's type): the text takes
// the room it needs first; the label gets what is left before `right` (pixels from the item's
// right edge), shortened with "…", or goes when that is too little to read. The item is laid out
// again for it where it already has a size; `width` is the item's width.
void share_line(Element& item, TextElement& text, TextElement& label, int32_t width, int32_t right, int32_t gap);

}
