#pragma once

#include "messaging/MessageRecord.h"
#include "skin/BasicElements.h"
#include "skin/Form.h"
#include "skin/Properties.h"

#include <string>

namespace velloq {

class ButtonElement;
class ChatModel;
class FormStack;
class TextElement;

// Told which button of the alert was pressed.
enum class AlertChoice { View, Cancel };
class AlertButtonListener {
public:
    virtual ~AlertButtonListener() = default;
    virtual void on_alert_button(AlertChoice) = 0;
};

// The full-screen new-message alert: who wrote and what, with "View" and "Cancel".
class FormAlert final : public Form, public ReloadListener {
public:
    static constexpr char16_t const* section_name = u"FormAlert";

    FormAlert(FormStack&, Properties& skin, ChatModel&, AlertButtonListener&);
    ~FormAlert() override;

    // Fills the form from a new message: the sender (named from the contacts when one of the
    // contact's main phones has the sender's number) and the text.
    void form_alert(MessageRecord const& message);
    // "open:" and the sender's number.
    std::u16string const& view_action() const { return m_view_action; }
    TextElement& title() { return *m_title; }
    TextElement& message() { return *m_message; }

    // ReloadListener.
    void on_skin_reloaded() override;

protected:
    // Enter views the message, Escape (which arrives as Backspace) cancels.
    bool on_form_key(KeyEvent const&) override;

private:
    void skin_loaded();
    void choose(AlertChoice);
    std::u16string contact_name(std::u16string const& number);

    FormStack& m_stack;
    Properties& m_skin;
    ChatModel& m_model;
    AlertButtonListener& m_listener;
    TextElement* m_title { nullptr };
    TextElement* m_message { nullptr };
    ButtonElement* m_view { nullptr };
    ButtonElement* m_cancel { nullptr };
    std::u16string m_view_action;
};

}
