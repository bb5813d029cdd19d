#include "forms/SharedLine.h"

#include "skin/FontRep.h"
#include "skin/TextElement.h"

#include <algorithm>

namespace velloq {

void share_line(Element& item, TextElement& text, TextElement& label, int32_t width, int32_t right, int32_t gap)
{
    FontRep* text_font = text.font();
    FontRep* label_font = label.font();
    if (!text_font || !label_font)
        return;
    int32_t room = width - text.border_min().x - right;
    int32_t wanted = label.text().empty() ? 0 : label_font->measure(label.text());
    int32_t label_room = std::min(wanted, room - text_font->measure(text.text()) - gap);
    // A shortened label keeps two letters at least, or it says nothing.
    if (label_room < wanted && label_room < label_font->measure(label.text().substr(0, 2) + u"…"))
        label_room = 0;
    label.set_visible(label_room > 0);
    label.set_borders({ 0, label.border_min().y }, { right, label.border_max().y });
    label.set_design_size({ std::max(label_room, 0), label.design_size().y });
    text.set_borders(text.border_min(), { right + (label_room > 0 ? label_room + gap : 0), text.border_max().y });
    item.invalidate_layout();
    if (item.size().x > 0) {
        item.set_horizontal(item.position().x, item.size().x);
        item.set_vertical(item.position().y, item.size().y);
    }
}

}
