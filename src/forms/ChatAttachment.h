#pragma once

#include "messaging/MessagePart.h"

#include <functional>
#include <optional>
#include <string>

namespace velloq {

class ButtonElement;
class Element;
class LanguageTable;
class TextElement;

// The picture attached to the message being written: the attach button (shown only while the
// phone's MMS service runs), the bar above the composer that names the picture or says why it
// could not be attached, and the picture made ready to send in the device's "Outgoing" folder.
class ChatAttachment {
public:
    // `choose` opens a picker, which hands the chosen file's path to `attach`; `changed` runs when
    // a picture was attached or dropped.
    void bind(Element& form, std::u16string_view section, LanguageTable const& language, std::function<void()> choose, std::function<void()> changed);
    // Looks again whether the MMS service runs (a chat is shown), and shows the button by that.
    void look_for_service();
    bool mms_available() const { return m_mms_available; }

    void attach(std::string const& path);
    std::optional<MessagePart> const& part() const { return m_part; }
    // Sent: the picture now belongs to its message. Dropped by the user: its copy goes too.
    void sent();
    void drop();
    // Says something in the bar (why a message could not go).
    void say(std::u16string const& text);

private:
    void show_button();
    void hide_bar();

    LanguageTable const* m_language { nullptr };
    ButtonElement* m_button { nullptr };
    Element* m_bar { nullptr };
    TextElement* m_text { nullptr };
    Element* m_field { nullptr };
    Element* m_edit { nullptr };
    // The field's and edit's left borders without the button.
    int32_t m_field_left { 0 };
    int32_t m_edit_left { 0 };
    bool m_mms_available { false };
    std::optional<MessagePart> m_part;
    std::function<void()> m_changed;
};

}
