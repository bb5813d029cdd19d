#include "forms/FormAlert.h"

#include "forms/MessageWords.h"
#include "forms/SkinBinding.h"
#include "messaging/ChatModel.h"
#include "messaging/Contact.h"
#include "messaging/PhoneBook.h"
#include "messaging/TextAnalysis.h"
#include "shell/Log.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

namespace velloq {

FormAlert::FormAlert(FormStack& stack, Properties& skin, ChatModel& model, AlertButtonListener& listener)
    : m_stack(stack)
    , m_skin(skin)
    , m_model(model)
    , m_listener(listener)
{
    skin_loaded();
    m_skin.add_reload_listener(this);
}

FormAlert::~FormAlert()
{
    m_skin.remove_reload_listener(this);
    m_stack.hide(*this, false);
}

void FormAlert::skin_loaded()
{
    build_required(*this, m_skin, section_name);
    m_title = &bind_element<TextElement>(*this, section_name, u"title");
    m_message = &bind_element<TextElement>(*this, section_name, u"message");
    m_view = &bind_element<ButtonElement>(*this, section_name, u"btnView");
    m_cancel = &bind_element<ButtonElement>(*this, section_name, u"btnCancel");
    m_view->on_press = [this] { choose(AlertChoice::View); };
    m_cancel->on_press = [this] { choose(AlertChoice::Cancel); };
}

void FormAlert::on_skin_reloaded()
{
    std::u16string title = m_title->text();
    std::u16string message = m_message->text();
    try {
        skin_loaded();
        m_title->set_text(title);
        m_message->set_text(message);
    } catch (...) {
        log() << u"FormAlert::on_skin_reloaded: " << skin_error_text(std::current_exception()) << u"\n";
    }
}

// The contact's name when its mobile, business or home phone is the number (by the last seven
// digits); other phones of the contact do not name the sender.
std::u16string FormAlert::contact_name(std::u16string const& number)
{
    Contact contact;
    if (!m_model.find_contact_by_phone(number, contact))
        return {};
    std::u16string wanted = last_seven_digits(number);
    for (ContactProperty property : { ContactProperty::Mobile, ContactProperty::BusinessTel, ContactProperty::HomeTel }) {
        auto phone = contact.property(property);
        if (phone && last_seven_digits(*phone) == wanted) {
            std::u16string name = contact.display_name();
            log() << u"find_contact_by_phone:" << log_safe(number) << u" to " << log_safe(name) << u"\n";
            return name;
        }
    }
    return {};
}

void FormAlert::form_alert(MessageRecord const& message)
{
    std::u16string sender = contact_name(message.sender.address);
    if (sender.empty())
        sender = message.sender.name.empty() ? message.sender.address : message.sender.name;
    m_title->set_text(sender);
    m_message->set_text(words_of(message, m_skin.language()));
    PhoneEntry entry = PhoneEntry::from_typed(message.peer().address);
    m_view_action = u"open:" + (entry.number.empty() ? entry.name : entry.number);
    log() << u"form_alert message:" << message.text << u"\n";
}

bool FormAlert::on_form_key(KeyEvent const& event)
{
    if (event.code != Key::Enter && event.code != Key::Backspace)
        return false;
    if (event.pressed && event.first)
        choose(event.code == Key::Enter ? AlertChoice::View : AlertChoice::Cancel);
    return true;
}

void FormAlert::choose(AlertChoice choice)
{
    m_listener.on_alert_button(choice);
    m_stack.hide(*this, true);
}

}
