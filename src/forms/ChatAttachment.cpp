#include "forms/ChatAttachment.h"

#include "forms/OutgoingPicture.h"
#include "forms/SkinBinding.h"
#include "lang/LanguageTable.h"
#include "platform/FileSystem.h"
#include "platform/SdBus.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "skin/ButtonElement.h"
#include "skin/TextElement.h"

#include <ctime>

namespace velloq {

void ChatAttachment::bind(Element& form, std::u16string_view section, LanguageTable const& language, std::function<void()> choose,
    std::function<void()> changed)
{
    m_language = &language;
    m_changed = std::move(changed);
    m_button = &bind_element<ButtonElement>(form, section, u"btnAttach");
    m_bar = &bind_element(form, section, u"attachment_bar");
    m_text = &bind_element<TextElement>(form, section, u"attachment");
    m_field = &bind_element(form, section, u"field_back");
    m_edit = &bind_element(form, section, u"edit");
    m_field_left = m_field->border_min().x;
    m_edit_left = m_edit->border_min().x;
    m_button->on_press = std::move(choose);
    bind_element<ButtonElement>(form, section, u"btnDetach").on_press = [this] { drop(); };
    show_button();
    if (m_part)
        say(u"\U0001F4CE " + to_utf16(m_part->file.substr(m_part->file.rfind('/') + 1)));
    else
        hide_bar();
}

void ChatAttachment::look_for_service()
{
    m_mms_available = platform::session_name_has_owner("org.ofono.mms");
    show_button();
}

// The field and the edit make room for the button while it shows.
void ChatAttachment::show_button()
{
    if (!m_button)
        return;
    m_button->set_visible(m_mms_available);
    int32_t room = m_mms_available ? m_button->design_size().x + m_button->border_min().x : 0;
    m_field->set_borders({ m_field_left + room, m_field->border_min().y }, m_field->border_max());
    m_edit->set_borders({ m_edit_left + room, m_edit->border_min().y }, m_edit->border_max());
    m_field->parent()->invalidate_layout();
}

void ChatAttachment::attach(std::string const& path)
{
    drop();
    std::string why;
    std::string stem = "MMS-" + platform::local_file_stamp(std::time(nullptr));
    auto part = prepare_outgoing_picture(path, to_utf8(expand_path(u"/Outgoing")), stem, why);
    if (!part) {
        log() << u"picture: " << to_utf16(path) << u" is not attached: " << to_utf16(why) << u"\n";
        say(m_language->text_of(u"PictureNotAttached") + u" " + to_utf16(why));
        return;
    }
    m_part = std::move(part);
    say(u"\U0001F4CE " + to_utf16(path.substr(path.rfind('/') + 1)));
    if (m_changed)
        m_changed();
}

void ChatAttachment::sent()
{
    m_part.reset();
    hide_bar();
}

void ChatAttachment::drop()
{
    if (!m_part) {
        hide_bar();
        return;
    }
    platform::remove_file(m_part->file);
    m_part.reset();
    hide_bar();
    if (m_changed)
        m_changed();
}

void ChatAttachment::say(std::u16string const& text)
{
    if (!m_bar)
        return;
    m_text->set_text(text);
    m_bar->set_visible(true);
    m_bar->parent()->invalidate_layout();
}

void ChatAttachment::hide_bar()
{
    if (!m_bar || !m_bar->is_visible())
        return;
    m_bar->set_visible(false);
    m_bar->parent()->invalidate_layout();
}

}
