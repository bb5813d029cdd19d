#include "forms/MessageBubble.h"

#include "skin/Properties.h"
#include "skin/FontRep.h"
#include "skin/TextElement.h"

#include <algorithm>

namespace velloq {

namespace {

TextElement* text_element(Element& item, char16_t const* id)
{
    return dynamic_cast<TextElement*>(item.find_by_id(id));
}

void paint_text(Element& item, char16_t const* id, Colour colour)
{
    if (auto* text = text_element(item, id))
        text->set_colour(colour);
}

}

void MessageBubble::load(Properties const& skin, std::u16string_view section_name)
{
    auto section = skin.section(section_name);
    if (!section)
        return;
    m_received.text = skin.get_colour(*section, u"color", m_received.text);
    m_received.link = skin.get_colour(*section, u"link_color", m_received.link);
    m_received.meta = skin.get_colour(*section, u"meta_color", m_received.meta);
    m_own.text = skin.get_colour(*section, u"own_color", m_received.text);
    m_own.link = skin.get_colour(*section, u"own_link_color", m_received.link);
    m_own.meta = skin.get_colour(*section, u"own_meta_color", m_received.meta);
    m_draft.text = skin.get_colour(*section, u"draft_color", m_received.text);
    m_draft.link = skin.get_colour(*section, u"draft_link_color", m_received.link);
    m_draft.meta = skin.get_colour(*section, u"draft_meta_color", m_received.meta);
    m_failed.text = skin.get_colour(*section, u"failed_color", m_own.text);
    m_failed.link = skin.get_colour(*section, u"failed_link_color", m_own.link);
    m_failed.meta = skin.get_colour(*section, u"failed_meta_color", m_own.meta);
    m_width_percent = std::clamp(skin.get_int(*section, u"bubble_width", 0), 0, 100);
}

void MessageBubble::style(Element& item, MessageRecord const& record)
{
    Colours const& colours = colours_of(record);
    paint_text(item, u"body", colours.text);
    paint_text(item, u"file", colours.link);
    paint_text(item, u"time", colours.meta);
    paint_text(item, u"status", colours.meta);
    item.set_layout_listener(m_width_percent > 0 ? this : nullptr);
}

MessageBubble::Colours const& MessageBubble::colours_of(MessageRecord const& record) const
{
    if (record.folder == FolderKind::Drafts)
        return m_draft;
    if (record.not_sent())
        return m_failed;
    return mine(record) ? m_own : m_received;
}

// An item filled again at the same width gets no width change: its bubble is fitted here.
void MessageBubble::refit(Element& item)
{
    if (m_width_percent <= 0 || item.size().x <= 0)
        return;
    on_width_changed(item, item.size().x);
    item.place_children(Axis::Horizontal);
}

// Wider than `limit` is as wide as it gets: no glyph is narrower than half a pixel, so what lies
// beyond that many characters of a line is never measured (a book-long line costs a screen's).
int32_t MessageBubble::natural_width(Element& item, int32_t limit)
{
    size_t longest = static_cast<size_t>(std::max(limit, 0)) * 2 + 8;
    int32_t widest = 0;
    if (Element* picture = item.find_by_id(u"picture"); picture && picture->is_visible())
        widest = picture->design_size().x;
    for (char16_t const* id : { u"sender", u"body", u"file", u"time", u"status" }) {
        TextElement* text = text_element(item, id);
        if (!text || !text->font() || !text->is_visible() || (text->parent() && !text->parent()->is_visible()))
            continue;
        std::u16string prepared = prepare_text(text->text(), true);
        int32_t indent = text->border_low(Axis::Horizontal);
        for (size_t start = 0; start <= prepared.size();) {
            size_t end = std::min(prepared.find(u'\n', start), prepared.size());
            widest = std::max(widest, indent + text->font()->measure(prepared.substr(start, std::min(end - start, longest))));
            start = end + 1;
        }
    }
    return widest;
}

int32_t MessageBubble::chrome_width(Element& item)
{
    Element* content = item.find_by_id(u"content");
    Element* incoming = item.find_by_id(u"incoming");
    if (!content || !incoming)
        return 0;
    return incoming->border_low(Axis::Horizontal) + incoming->border_high(Axis::Horizontal) + content->border_low(Axis::Horizontal)
        + content->border_high(Axis::Horizontal);
}

int32_t MessageBubble::content_width(Element& item, int32_t width) const
{
    int32_t percent = m_width_percent > 0 ? m_width_percent : 100;
    return std::max(0, width * percent / 100 - chrome_width(item));
}

// The bubble keeps its vertical borders; across, it is the text's width plus the content's
// borders and the pictures' margins, at most the skin's share of the width, at its side.
void MessageBubble::on_width_changed(Element& item, int32_t width)
{
    Element* bubble = item.find_by_id(u"bubble");
    Element* content = item.find_by_id(u"content");
    Element* incoming = item.find_by_id(u"incoming");
    if (!bubble || !content || !incoming)
        return;
    int32_t chrome = chrome_width(item);
    int32_t widest = width * m_width_percent / 100;
    int32_t size = std::clamp(natural_width(item, widest - chrome) + chrome, std::min(widest, chrome * 2), widest);
    int32_t rest = std::max(0, width - size);
    bool left = incoming->is_visible();
    bubble->set_borders({ left ? 0 : rest, bubble->border_low(Axis::Vertical) }, { left ? rest : 0, bubble->border_high(Axis::Vertical) });
}

}
