#include "forms/FormMain.h"

#include "messaging/AlertRegistration.h"

#include "forms/Avatar.h"
#include "forms/MessageDates.h"
#include "forms/SharedLine.h"
#include "platform/Folders.h"
#include "forms/AboutPanel.h"
#include "forms/FormChat.h"
#include "forms/FormSearch.h"
#include "forms/FormContacts.h"
#include "forms/FormPicture.h"
#include "forms/FormPictures.h"
#include "forms/MessageWords.h"
#include "forms/FormTemplates.h"
#include "forms/SkinBinding.h"
#include "skin/FontRep.h"
#include "lang/LanguageTable.h"
#include "shell/Platform.h"
#include "skin/LanguageMenu.h"
#include "messaging/Chat.h"
#include "messaging/DateFormat.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/Log.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/ReloadForm.h"
#include "skin/TextElement.h"

#include <algorithm>

namespace velloq {

namespace {

constexpr char16_t const* form_section = u"FormMain";
constexpr char16_t const* item_section = u"ChatItem";

// The mark of a read chat: how far the user's own last message got (sending, sent, delivered,
// not sent); none where the other party had the last word.
std::u16string own_message_mark(MessageRecord const& message)
{
    if (message.incoming())
        return {};
    switch (message.send_state()) {
    case platform::SendState::Sending:
        return u"…";
    case platform::SendState::NotSent:
    case platform::SendState::NotDelivered:
        return u"!";
    case platform::SendState::Delivered:
        return u"✓✓";
    case platform::SendState::Sent:
        break;
    }
    return u"✓";
}
constexpr char16_t const* reload_section = u"FormReload";

}

FormMain::FormMain(Application& application, FormStack& stack, Properties& skin, ChatModel& model, AlertRegistration& alerts, SearchIndexer* indexer)
    : m_application(application)
    , m_stack(stack)
    , m_skin(skin)
    , m_model(model)
    , m_alerts(alerts)
    , m_indexer(indexer)
    , m_menu(stack, *this)
    , m_photos(platform::device_folder() + "/avatars")
{
    skin_loaded();
    m_skin.add_reload_listener(this);
    m_model.add_listener(this);
}

FormMain::~FormMain()
{
    m_model.remove_listener(this);
    m_skin.remove_reload_listener(this);
    if (m_reload)
        m_stack.hide(*m_reload, false);
    if (m_about)
        m_stack.hide(*m_about, false);
    m_menu.close();
    m_stack.hide(*this, false);
}

void FormMain::skin_loaded()
{
    build_required(*this, m_skin, form_section);
    m_new = &bind_element<ButtonElement>(*this, form_section, u"btnNew");
    m_menu_button = &bind_element<ButtonElement>(*this, form_section, u"btnMenu");
    m_list = &bind_element<VList>(*this, form_section, u"list");
    m_list->set_empty_view(find_by_id(u"empty"));
    m_new->on_press = [this] { new_message(); };
    m_menu_button->on_press = [this] { open_menu(); };
    // Search is optional: a skin from before it has no button for it.
    m_search_button = dynamic_cast<ButtonElement*>(find_by_id(u"btnSearch"));
    if (m_search_button)
        m_search_button->on_press = [this] { open_search({}); };
    m_list->set_item_source(this);
    m_menu.load(m_skin, u"Menu", u"MenuElement");
    build_owned_forms();
    // The reload form is optional: a skin without it reloads without showing anything. It is
    // rebuilt in place, since the reload runs inside its own frame.
    if (!m_reload && m_skin.section(reload_section))
        m_reload = std::make_unique<ReloadForm>(m_stack, m_skin);
    if (m_reload)
        build_from_section(*m_reload, m_skin, reload_section);
    m_list->reset(static_cast<int32_t>(m_model.chats().size()));
}

// The forms are made at the first load; later loads rebuild them in place, so a form on the
// stack stays valid across a language change.
void FormMain::build_owned_forms()
{
    if (!m_chat) {
        m_chat = std::make_unique<FormChat>(m_application, m_stack, m_skin, m_model, *this);
        m_contacts = std::make_unique<FormContacts>(m_application, m_stack, m_skin, m_model, *this);
        m_templates = std::make_unique<FormTemplates>(m_application, m_stack, m_skin, m_model, *this);
        m_picture = std::make_unique<FormPicture>(m_application, m_stack, m_skin, m_model, *this);
        m_pictures = std::make_unique<FormPictures>(m_application, m_stack, m_skin, m_model, *this);
    } else {
        m_chat->skin_loaded();
        m_contacts->skin_loaded();
        m_templates->skin_loaded();
        m_picture->skin_loaded();
        m_pictures->skin_loaded();
    }
    build_search();
    if (m_about)
        m_stack.hide(*m_about, false);
    m_about = std::make_unique<AboutPanel>(m_stack, m_skin);
}

void FormMain::build_search()
{
    if (!m_skin.section(u"FormSearch")) {
        m_search.reset();
        return;
    }
    if (m_search)
        m_search->skin_loaded();
    else
        m_search = std::make_unique<FormSearch>(m_application, m_stack, m_skin, m_model, m_indexer, *this);
}

bool FormMain::open_search(std::u16string const& typed)
{
    if (!m_search)
        return false;
    m_search->show(typed);
    return true;
}

void FormMain::show_found(SearchResult const& found)
{
    Chat* chat = m_model.find_chat(found.chat_key);
    if (!chat) {
        log() << u"search: the chat of the message found is gone\n";
        return;
    }
    open_chat({ chat->name, chat->address, chat->phone_label, chat->key, chat->contact_id, 0 });
    // A draft is where the chat keeps it: in the reply, to go on writing.
    if (found.draft)
        m_chat->show_draft();
    else
        m_chat->show_message(found.id);
}

void FormMain::on_skin_reloaded()
{
    try {
        skin_loaded();
    } catch (...) {
        log() << u"FormMain::on_skin_reloaded: " << skin_error_text(std::current_exception()) << u"\n";
    }
}

int32_t FormMain::index_of(Chat const& chat) const
{
    auto const& chats = m_model.chats();
    auto found = std::find_if(chats.begin(), chats.end(), [&](auto const& held) { return held->key == chat.key; });
    return found == chats.end() ? -1 : static_cast<int32_t>(found - chats.begin());
}

void FormMain::show_store_problem(std::optional<std::string> const& problem)
{
    if (problem == m_shown_problem)
        return;
    m_shown_problem = problem;
    auto* empty = dynamic_cast<TextElement*>(find_by_id(u"empty"));
    if (!empty)
        return;
    empty->set_text(problem ? m_skin.language().text_of(u"StoreUnavailable") + u"\n" + to_utf16(*problem) : m_skin.language().text_of(u"NoChats"));
    set_needs_redraw();
}

void FormMain::refresh_chat(Chat const& chat)
{
    if (int32_t index = index_of(chat); index >= 0)
        m_list->refresh(index);
}

void FormMain::on_document_refresh(ChatEvent const& event)
{
    switch (event.kind) {
    case ChatEvent::Kind::Inserted:
        // Several chats come to the top at once (the copies of a message to several people): the
        // list scrolls only as far as each needs to be seen, so the first one stays at the top.
        m_list->insert(event.index);
        m_list->scroll_into_view(event.index);
        break;
    case ChatEvent::Kind::Renamed:
        log() << u"FormMain::on_document_refresh:" << event.index << u"\n";
        m_list->refresh(event.index);
        break;
    case ChatEvent::Kind::Removed:
        m_list->remove(event.index);
        break;
    case ChatEvent::Kind::MessageRemoved:
        if (event.chat)
            refresh_chat(*event.chat);
        break;
    default:
        break;
    }
}

std::unique_ptr<Element> FormMain::create_item(VList&, int32_t index)
{
    auto& chats = m_model.chats();
    if (index < 0 || index >= static_cast<int32_t>(chats.size()))
        return nullptr;
    Chat& chat = *chats[static_cast<size_t>(index)];
    // Messages deleted from the store behind the program's back leave the chat when its item is
    // next made, once the list is done building.
    if (!chat.messages.empty() && !m_model.validate_message(chat.messages.back())) {
        m_vanished.push_back(chat.key);
        return nullptr;
    }
    auto item = std::make_unique<Element>();
    build_required(*item, m_skin, item_section);
    fill_chat_item(*item, chat);
    return item;
}

void FormMain::advance(double seconds)
{
    Form::advance(seconds);
    drop_vanished();
}

void FormMain::drop_vanished()
{
    for (auto const& key : std::exchange(m_vanished, {})) {
        Chat* chat = m_model.find_chat(key);
        if (!chat || !m_model.drop_vanished_messages(*chat))
            continue;
        // A new conversation has no messages yet and stays; one whose messages all vanished goes.
        if (chat->messages.empty())
            m_model.remove_chat(*chat);
        else
            m_list->set_needs_redraw();
    }
}

void FormMain::fill_item(VList&, Element& item, int32_t index)
{
    auto& chats = m_model.chats();
    if (index >= 0 && index < static_cast<int32_t>(chats.size()))
        fill_chat_item(item, *chats[static_cast<size_t>(index)]);
}

// The line of name, phone label and date: the date takes what it needs at the right, and the
// name and label share the rest.
void FormMain::share_title_line(Element& item, TextElement& title, TextElement& type, TextElement& day)
{
    FontRep* day_font = day.font();
    if (!day_font)
        return;
    int32_t gap = 8 << m_skin.shift();
    int32_t width = m_list->size().x > 0 ? m_list->size().x : m_application.client_rect().width;
    share_line(item, title, type, width, day.border_max().x + day_font->measure(day.text()) + gap, gap);
}

// A delivery report is about the message before it: the preview is the last message.
MessageRecord& FormMain::last_message(Chat& chat)
{
    for (auto message = chat.messages.rbegin(); message != chat.messages.rend(); ++message) {
        if (m_model.read_message(*message, chat) && !message->is_report())
            return *message;
    }
    return chat.messages.back();
}

void FormMain::fill_chat_item(Element& item, Chat& chat)
{
    auto& title = bind_element<TextElement>(item, item_section, u"title");
    auto& type = bind_element<TextElement>(item, item_section, u"type");
    auto& body = bind_element<TextElement>(item, item_section, u"body");
    auto& day = bind_element<TextElement>(item, item_section, u"day");
    auto& unread = bind_element<TextElement>(item, item_section, u"unread");
    auto& unread_exists = bind_element(item, item_section, u"unread_exists");
    auto& no_unread = bind_element(item, item_section, u"no_unread");
    std::u16string mark;

    title.set_text(chat.title());
    // The phone's type is a word beside the title; the avatar shows who it is.
    type.set_text(chat.phone_label.empty() ? std::u16string() : m_skin.language().text_of(chat.phone_label));
    type.set_visible(!chat.phone_label.empty());
    // A group has no one's initials: it shows the person sign on its own colour.
    show_avatar(item, chat.is_group() ? std::u16string() : chat.name, chat.key, m_photos.avatar_of(m_model, chat.contact_id, photo_side(item)));
    if (!chat.messages.empty()) {
        MessageRecord& newest = last_message(chat);
        // Unsent text kept for the chat is shown as what it is, however old it is.
        if (auto draft = m_model.draft_of(chat))
            body.set_text(m_skin.language().text_of(u"Draft") + u": " + draft->text);
        else
            body.set_text(words_of(newest, m_skin.language()));
        day.set_text(MessageDates(m_skin.language()).in_list(newest.time, MessageTime::now()));
        // A delivery report is about the message before it, not a word of its own.
        auto last_word = std::find_if(chat.messages.rbegin(), chat.messages.rend(), [](MessageRecord const& message) { return message.report_kind == ReportKind::Message && message.folder != FolderKind::Drafts; });
        if (last_word != chat.messages.rend() && m_model.read_message(*last_word, chat))
            mark = own_message_mark(*last_word);
    } else {
        body.set_text({});
        day.set_text({});
    }
    share_title_line(item, title, type, day);
    unread.set_text(u"(" + to_u16_decimal(chat.unread) + u")");
    unread.set_visible(chat.unread > 0);
    unread_exists.set_visible(chat.unread > 0);
    if (auto* mark_text = dynamic_cast<TextElement*>(&no_unread); mark_text && !mark.empty())
        mark_text->set_text(mark);
    no_unread.set_visible(chat.unread == 0 && !mark.empty());
}

void FormMain::item_activated(VList&, int32_t index)
{
    auto& chats = m_model.chats();
    if (index < 0 || index >= static_cast<int32_t>(chats.size()))
        return;
    Chat const& chat = *chats[static_cast<size_t>(index)];
    open_chat({ chat.name, chat.address, chat.phone_label, chat.key, chat.contact_id, 0 });
}

void FormMain::open_chat(PhoneEntry const& entry)
{
    // A group is no one number to write to: it stays out of the recipients' list.
    if (!platform::is_group_key(entry.key) && !m_model.phone_book().find(entry.key))
        m_model.phone_book().add(entry);
    Chat* chat = m_model.find_chat(entry.key);
    if (chat) {
        bool take_name = chat->name.empty() && !entry.name.empty();
        if (chat->unread > 0 || take_name) {
            m_model.mark_chat_read(*chat);
            m_model.save_unread();
            if (take_name)
                chat->name = entry.name;
            m_model.save_cache();
            refresh_chat(*chat);
        }
    } else {
        chat = &m_model.add_chat(chat_for_entry(entry));
        m_list->scroll_to(0);
    }
    m_model.set_current_chat_key(chat->key);
    log() << u"FormMain::open_chat: " << chat->key << u"\n";
    m_chat->show_chat(chat->key);
}

void FormMain::pick(PhoneEntry const& entry)
{
    if (m_model.current_chat_key().empty()) {
        open_chat(entry);
        return;
    }
    std::u16string const& name = entry.name;
    std::u16string const& number = entry.number;
    bool apart = !name.empty() && !number.empty() && name.find(number) == std::u16string::npos && number.find(name) == std::u16string::npos;
    if (apart)
        m_model.set_pending_text(name + u" " + number);
    else
        m_model.set_pending_text(number.size() < name.size() ? name : number);
    m_chat->take_pending_text();
}

void FormMain::close_forms_above()
{
    for (Form* top = m_stack.top(); top && top != this; top = m_stack.top()) {
        if (top == m_contacts.get())
            m_contacts->leave(false);
        else if (top == m_chat.get())
            m_chat->close(false);
        if (m_stack.top() == top)
            m_stack.hide(*top, false);
    }
}

void FormMain::show_templates(int32_t mode)
{
    m_templates->show(mode);
}

void FormMain::open_contacts(bool multi_recipient)
{
    m_contacts->prepare(multi_recipient);
    m_contacts->show();
}

// A new message: no chat is current while its recipient is picked.
void FormMain::new_message()
{
    m_model.set_current_chat_key({});
    open_contacts(false);
}

void FormMain::open_menu()
{
    m_menu.open(u"MainMenu", {}, true);
}

bool FormMain::text_input(std::u16string const& text)
{
    if (text.empty() || text == u" ")
        return false;
    if (open_search(text))
        return true;
    new_message();
    m_contacts->text_input(text);
    return true;
}

bool FormMain::on_form_key(KeyEvent const& event)
{
    bool new_one = event.control && event.code == Key::A + ('N' - 'A');
    bool find = event.control && event.code == Key::A + ('F' - 'A') && m_search;
    if (!new_one && !find && event.code != Key::ContextMenu)
        return false;
    if (event.pressed && event.first && find)
        open_search({});
    else if (event.pressed && event.first && new_one)
        new_message();
    else if (event.pressed && event.first)
        open_menu();
    return true;
}

void FormMain::main_menu(std::vector<MenuEntry>& entries)
{
    // The row of four buttons answers to the menu's own name, so a tap beside its buttons keeps
    // the menu open.
    entries.push_back({ u"MainMenu", u" ", u"MenuElement4Buttons" });
    MenuEntry alerts { u"Alerts", {} };
    alerts.checked = m_alerts.on();
    entries.push_back(alerts);
    entries.push_back({ u"Templates", {} });
    if (LanguageTable::more_than_one_language())
        entries.push_back({ u"Language", {} });
    entries.push_back({ u"Cancel", {} });
}

void FormMain::run_command(std::u16string const& name)
{
    if (name == u"Alerts") {
        m_alerts.set_on(!m_alerts.on());
    } else if (name == u"Templates") {
        show_templates(0);
    } else if (name == u"Help") {
        m_application.set_asleep();
        execute_file(u"%app_path%/help/" + m_skin.language().text_of(u"Help_link"), {});
    } else if (name == u"Minimize") {
        m_application.minimize();
    } else if (name == u"Exit") {
        m_application.quit();
    } else if (name == u"About") {
        m_about->show();
    }
}

void FormMain::menu_entries(std::u16string const& name, std::u16string&, std::vector<MenuEntry>& entries)
{
    if (name == u"MainMenu")
        main_menu(entries);
    else
        run_command(name);
    // Every command is also the language menu's to take or to ignore.
    if (language_menu_command(m_skin, m_application.name(), name, entries, u"MenuElement") && m_reload) {
        m_stack.hide(*m_reload, false);
        m_stack.show(*m_reload, false, false);
    }
}

}
