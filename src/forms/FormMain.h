#pragma once

#include <optional>
#include <string>

#include "forms/AvatarPhotos.h"
#include "messaging/ChatModel.h"
#include "messaging/PhoneBook.h"
#include "skin/BasicElements.h"
#include "skin/Form.h"
#include "skin/Menu.h"
#include "skin/Properties.h"
#include "skin/TextElement.h"
#include "skin/VList.h"

#include <memory>

namespace velloq {

class AlertRegistration;

class AboutPanel;
class Application;
class ButtonElement;
class FormChat;
class FormContacts;
class FormStack;
class FormSearch;
class SearchIndexer;
class FormPicture;
class FormPictures;
class FormTemplates;
struct SearchResult;
class ReloadForm;

// The main form: one item per chat, newest first, kept in step with the chat model; "btnNew"
// starts a new message and "btnMenu" opens the main menu. It stays at the bottom of the form
// stack for the whole run and owns the program's other forms.
class FormMain final : public Form, public ItemSource, public ChatListener, public ReloadListener, public MenuSource {
public:
    FormMain(Application&, FormStack&, Properties& skin, ChatModel&, AlertRegistration&, SearchIndexer* = nullptr);
    ~FormMain() override;

    // Builds the form from "FormMain", the menu and the forms it owns, and resets the list; the
    // skin error of a missing element goes to the caller.
    void skin_loaded();

    // Finds or creates the chat of the entry, marks it read and shows it.
    void open_chat(PhoneEntry const& entry);
    // The recipient chosen in the contacts form.
    void pick(PhoneEntry const& entry);
    void show_templates(int32_t mode);
    // Prepares the contacts form in the mode and shows it.
    void open_contacts(bool multi_recipient);
    // Refreshes the list item of the chat.
    void refresh_chat(Chat const&);
    // The empty list says why there are no chats when the messages cannot be read.
    void show_store_problem(std::optional<std::string> const& problem);
    // Takes the chat at the index out of the list (event 3).
    // Closes every form above the chat list, each the way its own back key would.
    void close_forms_above();
    // Search, when the skin has it: opens it with `typed` in its field; false without it.
    bool open_search(std::u16string const& typed);
    // Opens the chat of a search result at the message found.
    void show_found(SearchResult const&);

    VList& list() { return *m_list; }
    void advance(double seconds) override;
    ReloadForm* reload_form() { return m_reload.get(); }
    FormChat& chat_form() { return *m_chat; }
    FormContacts& contacts_form() { return *m_contacts; }
    FormTemplates& templates_form() { return *m_templates; }
    FormPicture& picture_form() { return *m_picture; }
    FormPictures& pictures_form() { return *m_pictures; }
    FormSearch* search_form() { return m_search.get(); }
    AboutPanel& about_panel() { return *m_about; }
    Menu& menu() { return m_menu; }
    AvatarPhotos& avatar_photos() { return m_photos; }

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;
    // Typing a letter searches for it (or, in a skin without search, starts a new message with
    // the picker filtered by it).
    bool text_input(std::u16string const& text) override;

protected:
    // Ctrl+N starts a new message, Ctrl+F a search; the Menu key (or Shift+F10) opens the main menu.
    bool on_form_key(KeyEvent const&) override;

public:
    // ChatListener.
    void on_document_refresh(ChatEvent const&) override;
    // ReloadListener.
    void on_skin_reloaded() override;
    // MenuSource: "MainMenu" and its commands.
    void menu_entries(std::u16string const& name, std::u16string& caption, std::vector<MenuEntry>& entries) override;

private:
    // The chats whose newest messages the list found gone from the store lose them; the list
    // builds their items again.
    void drop_vanished();
    void new_message();
    void open_menu();
    std::optional<std::string> m_shown_problem;
    int32_t index_of(Chat const&) const;
    MessageRecord& last_message(Chat&);
    void share_title_line(Element& item, TextElement& title, TextElement& type, TextElement& day);
    void fill_chat_item(Element& item, Chat& chat);
    void build_owned_forms();
    void build_search();
    void main_menu(std::vector<MenuEntry>& entries);
    void run_command(std::u16string const& name);

    Application& m_application;
    FormStack& m_stack;
    Properties& m_skin;
    ChatModel& m_model;
    AlertRegistration& m_alerts;
    SearchIndexer* m_indexer;
    ButtonElement* m_new { nullptr };
    ButtonElement* m_menu_button { nullptr };
    ButtonElement* m_search_button { nullptr };
    VList* m_list { nullptr };
    // Keys of chats whose newest message was found gone while the list built their items.
    std::vector<std::u16string> m_vanished;
    Menu m_menu;
    AvatarPhotos m_photos;
    std::unique_ptr<FormChat> m_chat;
    std::unique_ptr<FormContacts> m_contacts;
    std::unique_ptr<FormTemplates> m_templates;
    std::unique_ptr<FormPicture> m_picture;
    std::unique_ptr<FormPictures> m_pictures;
    std::unique_ptr<FormSearch> m_search;
    std::unique_ptr<AboutPanel> m_about;
    std::unique_ptr<ReloadForm> m_reload;
};

}
