#pragma once

#include <optional>
#include <vector>

#include "forms/ChatAttachment.h"
#include "forms/MessageBubble.h"
#include "forms/PictureThumbnails.h"
#include "platform/PortalFileChooser.h"
#include "shell/ActiveScheduler.h"
#include "messaging/ChatDrafts.h"
#include "messaging/ChatModel.h"
#include "shell/Timer.h"
#include "skin/BasicElements.h"
#include "forms/OwnedForm.h"
#include "skin/Menu.h"
#include "skin/Properties.h"
#include "skin/TextEdit.h"
#include "skin/VList.h"

#include <map>
#include <memory>
#include <string>

namespace velloq {

class Application;
class ButtonElement;
class CompanionDialog;
class FormMain;
class FormStack;
class TextElement;

// One chat as a threaded dialogue: a message item per message, oldest at the top, with a day
// separator where the day changes; the reply being written with its SMS part counter; the "Chat"
// menu and, for a tapped message, the "SMS" menu with the message's links.
class FormChat final : public OwnedForm, public ItemSource, public MenuSource, public ChatListener {
public:
    FormChat(Application&, FormStack&, Properties& skin, ChatModel&, FormMain& owner);
    ~FormChat() override;

    // Builds the form from "FormChat"; a missing element is the caller's skin error.
    void skin_loaded();
    // Shows the chat of the key on top of the stack, with the pending text or the chat's draft.
    void show_chat(std::u16string const& key);
    // Puts the chat model's pending text into the edit (the contacts and templates forms).
    void take_pending_text();
    // The contacts form's ticked entries are the recipients from now on.
    void take_recipients();
    // The current chat, or null when it is gone.
    Chat* chat();
    TextEdit& edit() { return *m_edit; }
    VList& list() { return *m_list; }
    Menu& menu() { return m_menu; }
    CompanionDialog* companion() { return m_companion.get(); }
    int32_t selected() const { return m_selected; }

    void advance(double seconds) override;
    // Scrolls to a message of the chat on screen and marks it for a moment (a search found it).
    void show_message(EntryId const& id);
    // The reply, holding the chat's draft, takes the input with its caret at the end.
    void show_draft();

    // ItemSource.
    std::unique_ptr<Element> create_item(VList&, int32_t index) override;
    void fill_item(VList&, Element&, int32_t index) override;
    void item_activated(VList&, int32_t index) override;
    // Typing on a keyboard while the reply has no input starts the reply, as a tap on it would.
    bool text_input(std::u16string const& text) override;
    // MenuSource.
    void menu_entries(std::u16string const& name, std::u16string& caption, std::vector<MenuEntry>& entries) override;
    // Leaves the chat, however the form is left: a chat that never got a message leaves the list.
    void close(bool animate = true);
    // ChatListener.
    void on_document_refresh(ChatEvent const&) override;

protected:
    void go_back() override;
    // The Menu key (or Shift+F10) opens the selected message's menu, or the chat's.
    bool on_form_key(KeyEvent const&) override;

private:
    void show_send_state(Element& item, MessageRecord const& record);
    void show_picture(Element& item, MessageRecord const& record);
    void show_sender(Element& item, Chat const& chat, MessageRecord const& record);
    void refresh_pictures();
    bool open_picture_at(int32_t index, Point point);
    bool open_picture(int32_t index);
    bool open_file(int32_t index);
    MessageRecord* message_at(int32_t index);
    static std::string copy_stem(MessageRecord const& record);
    static MessagePart const* first_file(MessageRecord const& record);
    void show_as_report(Element& item, MessageRecord const& record);
    bool edit_key_without_input(KeyEvent const&);
    void fill_message(Element& item, Chat& chat, int32_t index);
    void fill_title();
    std::u16string reply_number();
    std::u16string other_recipients() const;
    void update_symbols();
    bool send_typed();
    void send();
    void send_mms(std::u16string const& text);
    std::vector<Correspondent> marked_recipients();
    void sent();
    void choose_picture();
    void take_chosen_picture();
    void open_menu();
    void scroll_to_newest();
    void show_contact();
    void leave_chat();
    void keep_draft();
    void remove_chat_from_list();
    void delete_selected();
    void send_again(MessageRecord& message);
    void delete_chat();
    MessageRecord* selected_message();
    void message_menu(std::vector<MenuEntry>& entries);
    void chat_menu(std::vector<MenuEntry>& entries);
    std::optional<bool> run_link_command(std::u16string const& name);
    bool run_command(std::u16string const& name);
    void reshow();
    void mark_read_if_looking(Chat&);
    // The mark of a message a search found ends.
    void end_found_mark();
    // The messages the list found gone from the store leave the chat.
    void drop_vanished();
    void hold_first_page(Chat&);
    void hold_older_near_top();
    void show_older(int32_t read);

    Menu m_menu;
    std::unique_ptr<CompanionDialog> m_companion;
    TextElement* m_title { nullptr };
    TextElement* m_type { nullptr };
    TextElement* m_symbols { nullptr };
    VList* m_list { nullptr };
    TextEdit* m_edit { nullptr };
    ButtonElement* m_close { nullptr };
    ButtonElement* m_title_button { nullptr };
    ButtonElement* m_copy { nullptr };
    ButtonElement* m_menu_button { nullptr };
    ButtonElement* m_send { nullptr };
    // The message a search led to stays marked until the timer ends.
    Timer m_found_timer { [this] { end_found_mark(); } };
    int32_t m_found { -1 };
    // The list's height and whether its newest message was in view, at the last frame.
    int32_t m_list_height { 0 };
    bool m_was_at_end { true };
    ButtonElement* m_scroll_button { nullptr };
    MessageBubble m_bubble;
    std::u16string m_key;
    int32_t m_selected { -1 };
    // Messages found gone from the store while the list built their items.
    std::vector<EntryId> m_vanished;
    // The chat's drafts whose text is in the edit: still in the store until the chat is left.
    ChatDrafts m_drafts { m_model };
    // The drafts' text as it was taken into the edit.
    // Declared last: its thread stops before what the form holds goes.
    ChatAttachment m_attachment;
    platform::PortalFileChooser m_chooser { [] { CActiveScheduler::wake_user_interface(); } };
    PictureThumbnails m_thumbnails { [] { CActiveScheduler::wake_user_interface(); } };
};

}
