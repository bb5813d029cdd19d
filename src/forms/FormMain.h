#pragma once

#include "messaging/ChatModel.h"
#include "messaging/PhoneBook.h"
#include "skin/BasicElements.h"
#include "skin/Form.h"
#include "skin/Properties.h"
#include "skin/VList.h"

#include <memory>

namespace velloq {

class Application;
class ButtonElement;
class FormStack;
class ReloadForm;

// The main form: one item per chat, newest first, kept in step with the chat model; "btnNew"
// starts a new message and "btnMenu" opens the main menu. It stays at the bottom of the form
// stack for the whole run and owns the program's other forms.
class FormMain final : public Form, public ItemSource, public PressListener, public ChatListener, public ReloadListener {
public:
    FormMain(Application&, FormStack&, Properties& skin, ChatModel&);
    ~FormMain() override;

    // Builds the form from "FormMain" and resets the list; the skin error of a missing element
    // goes to the caller.
    void skin_loaded();

    // Finds or creates the chat of the entry, marks it read and shows it.
    void open_chat(PhoneEntry const& entry);
    // The recipient chosen in the contacts form.
    void pick(PhoneEntry const& entry);
    void show_templates(int32_t mode);

    VList& list() { return *m_list; }
    ReloadForm* reload_form() { return m_reload.get(); }

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;
    // PressListener.
    void on_pressed(Element&) override;
    // ChatListener.
    void on_document_refresh(ChatEvent const&) override;
    // ReloadListener.
    void on_skin_reloaded() override;

private:
    int32_t index_of(Chat const&) const;
    void refresh_chat(Chat const&);
    bool drop_vanished_messages(Chat&);
    void remove_chat(int32_t index);
    void fill_chat_item(Element& item, Chat& chat);

    Application& m_application;
    FormStack& m_stack;
    Properties& m_skin;
    ChatModel& m_model;
    ButtonElement* m_new { nullptr };
    ButtonElement* m_menu { nullptr };
    VList* m_list { nullptr };
    std::unique_ptr<ReloadForm> m_reload;
};

}
