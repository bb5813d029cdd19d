#pragma once

#include "messaging/MessageRecord.h"
#include "shell/Colour.h"
#include "skin/Element.h"

#include <optional>

namespace velloq {

class Properties;
class TextElement;

// How a message item's bubble looks: received messages at the left, the user's own at the right
// in their own colours, each bubble as wide as its text up to a share of the chat's width. A skin
// without "bubble_width" keeps full-width bubbles.
class MessageBubble final : public LayoutListener {
public:
    void load(Properties const& skin, std::u16string_view section_name);
    // The item's colours for the message; the side follows at the next layout.
    void style(Element& item, MessageRecord const& record);
    void refit(Element& item);
    Colour link_colour(MessageRecord const& record) const { return colours_of(record).link; }
    // The room inside the widest bubble of an item `width` pixels wide, where a picture goes.
    int32_t content_width(Element& item, int32_t width) const;

    void on_width_changed(Element& item, int32_t width) override;
    void on_height_changed(Element&, int32_t) override {}

private:
    struct Colours {
        Colour text;
        Colour link;
        Colour meta;
    };
    static bool mine(MessageRecord const& record) { return record.folder != FolderKind::Incoming; }
    Colours const& colours_of(MessageRecord const& record) const;
    // The widest of the bubble's lines (the body's own lines, the time and the status) and its picture.
    static int32_t natural_width(Element& item, int32_t limit);
    // What the bubble adds around its content across: the pictures' margins and the content's borders.
    static int32_t chrome_width(Element& item);

    Colours m_received { { 0x0F, 0x17, 0x2A, 255 }, { 0x25, 0x63, 0xEB, 255 }, { 0x47, 0x55, 0x69, 255 } };
    Colours m_own = m_received;
    // Colours of a draft, which is not yet sent: the received ones unless the skin says.
    Colours m_draft = m_received;
    // Colours of a message that did not go out: the own ones unless the skin says.
    Colours m_failed = m_received;
    // The largest share of the chat's width a bubble takes, in percent; 0 keeps full width.
    int32_t m_width_percent { 0 };
};

}
