#include "forms/FormChat.h"

#include "forms/Avatar.h"
#include "forms/CompanionDialog.h"
#include "forms/FormPictures.h"
#include "forms/FormMain.h"
#include "forms/FormPicture.h"
#include "forms/MessageDates.h"
#include "forms/SkinBinding.h"
#include "messaging/Chat.h"
#include "messaging/PictureFiles.h"
#include "messaging/TextAnalysis.h"
#include "platform/Clipboard.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Application.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "shell/Platform.h"
#include "skin/ButtonElement.h"
#include "skin/FormStack.h"
#include "skin/TextElement.h"

#include <algorithm>

namespace velloq {

namespace {


constexpr char16_t const* form_section = u"FormChat";
constexpr char16_t const* item_section = u"SMSItem";
constexpr std::u16string_view call_prefix = u"Call ";
constexpr std::u16string_view mail_prefix = u"Mail ";
constexpr std::u16string_view visit_prefix = u"Visit ";
constexpr double found_marked_seconds = 2.0;
// A chat opens with this many of its newest messages, more than a tall screen shows; scrolling to
// within `load_ahead` of the oldest held reads `next_page` more from the store.
constexpr size_t first_page = 40;
constexpr size_t next_page = 100;
constexpr int32_t load_ahead = 10;

bool same_day(MessageTime const& a, MessageTime const& b)
{
    LocalTime first = a.local();
    LocalTime second = b.local();
    return first.year == second.year && first.month == second.month && first.day == second.day;
}

// The links of a text drawn in the link colour: each found item at its next place in the text.
std::vector<ColourRun> link_runs(std::u16string const& text, std::vector<std::u16string> const& items, Colour colour)
{
    std::vector<ColourRun> runs;
    size_t from = 0;
    for (auto const& item : items) {
        size_t at = text.find(item, from);
        if (at == std::u16string::npos)
            at = text.find(item);
        if (at == std::u16string::npos)
            continue;
        runs.push_back({ at, item.size(), colour });
        from = at + item.size();
    }
    std::sort(runs.begin(), runs.end(), [](ColourRun const& a, ColourRun const& b) { return a.start < b.start; });
    return runs;
}

}

FormChat::FormChat(Application& application, FormStack& stack, Properties& skin, ChatModel& model, FormMain& owner)
    : OwnedForm(application, stack, skin, model, owner)
    , m_menu(stack, *this)
{
    skin_loaded();
    m_model.add_listener(this);
}

FormChat::~FormChat()
{
    // The program ends with text typed and not sent: it stays as the chat's draft.
    keep_draft();
    m_model.remove_listener(this);
    if (m_companion)
        m_stack.hide(*m_companion, false);
    m_menu.close();
    m_stack.hide(*this, false);
}

void FormChat::skin_loaded()
{
    build_required(*this, m_skin, form_section);
    m_title = &bind_element<TextElement>(*this, form_section, u"title");
    m_type = &bind_element<TextElement>(*this, form_section, u"type");
    m_symbols = &bind_element<TextElement>(*this, form_section, u"symbols");
    m_list = &bind_element<VList>(*this, form_section, u"list");
    m_edit = &bind_element<TextEdit>(*this, form_section, u"edit");
    m_close = &bind_element<ButtonElement>(*this, form_section, u"btnClose");
    m_title_button = &bind_element<ButtonElement>(*this, form_section, u"btnTitle");
    m_copy = &bind_element<ButtonElement>(*this, form_section, u"btnCopy");
    m_menu_button = &bind_element<ButtonElement>(*this, form_section, u"btnMenu");
    m_send = &bind_element<ButtonElement>(*this, form_section, u"btnSend");
    Element& track = bind_element(*this, form_section, u"scroll");
    Element& indicator = bind_element(*this, form_section, u"scroll_indicator");
    m_scroll_button = &bind_element<ButtonElement>(*this, form_section, u"scroll_button");
    m_close->on_press = [this] { close(); };
    m_title_button->on_press = [this] { show_contact(); };
    m_copy->on_press = [this] { m_owner.open_contacts(true); };
    m_menu_button->on_press = [this] { open_menu(); };
    m_send->on_press = [this] { send(); };
    m_scroll_button->on_press = [this] { scroll_to_newest(); };
    m_attachment.bind(*this, form_section, m_skin.language(), [this] { choose_picture(); }, [this] { update_symbols(); });
    m_list->set_item_source(this);
    m_list->set_scroll_bar(&track, &indicator);
    m_edit->on_change = [this] { update_symbols(); };
    m_edit->on_enter = [this] { return send_typed(); };
    m_bubble.load(m_skin, item_section);
    m_menu.load(m_skin, u"Menu", u"MenuElement");
    if (m_companion)
        m_stack.hide(*m_companion, false);
    m_companion = std::make_unique<CompanionDialog>(m_application, m_stack, m_skin);
    Chat* current = chat();
    if (current)
        hold_first_page(*current);
    m_list->reset(current ? static_cast<int32_t>(current->messages.size()) : 0);
    fill_title();
    update_symbols();
}

Chat* FormChat::chat()
{
    return m_key.empty() ? nullptr : m_model.find_chat(m_key);
}

void FormChat::show_chat(std::u16string const& key)
{
    // The chat on screen shown again keeps what is being typed.
    bool again = !m_key.empty() && m_key == key;
    if (!m_key.empty() && !again) {
        keep_draft();
        m_attachment.drop();
    }
    m_attachment.look_for_service();
    std::u16string typed = again ? m_edit->text() : std::u16string();
    m_key = key;
    m_selected = -1;
    m_vanished.clear();
    // Laid out first, so the list knows its height when it scrolls to the newest message.
    Rect client = m_application.client_rect();
    set_horizontal(0, client.width);
    set_vertical(0, client.height);
    Chat* current = chat();
    if (current)
        hold_first_page(*current);
    // A draft goes from the store into the edit; it goes back when the chat is left.
    std::u16string draft = current ? m_drafts.take(*current) : std::u16string();
    if (draft.empty())
        draft = typed;
    int32_t count = current ? static_cast<int32_t>(current->messages.size()) : 0;
    m_list->reset(count);
    if (count > 0)
        m_list->scroll_to(count - 1);
    m_list_height = m_list->size().y;
    m_was_at_end = true;
    fill_title();
    m_edit->set_text(draft);
    take_pending_text();
    update_symbols();
    m_stack.hide(*this, false);
    m_stack.show(*this, false, true);
    // With a keyboard at hand the reply takes the input at once, its caret after the text, so a
    // draft, a forwarded text or a template can be sent, selected or edited straight away.
    if (!m_application.touch_first() && m_edit->is_effectively_visible()) {
        m_edit->begin_input();
        m_edit->edit_caret_to_end();
    }
}

void FormChat::hold_first_page(Chat& chat)
{
    if (chat.messages.size() < first_page)
        m_model.load_older(chat, first_page - chat.messages.size());
}

// Older messages come from the store as the list nears the oldest it holds; those built stay where
// they are on screen.
void FormChat::hold_older_near_top()
{
    Chat* current = chat();
    int32_t first = m_list->first_built();
    if (!current || current->holds_oldest || first < 0 || first >= load_ahead)
        return;
    show_older(static_cast<int32_t>(m_model.load_older(*current, next_page)));
}

// Messages read from the store came in front of those the chat held: every index moves by as many.
void FormChat::show_older(int32_t read)
{
    for (int32_t added = 0; added < read; ++added)
        m_list->insert(0);
    if (m_selected >= 0)
        m_selected += read;
    if (m_found >= 0)
        m_found += read;
}

void FormChat::take_pending_text()
{
    if (m_model.pending_text().empty())
        return;
    // What the user was writing stays: the new text follows it on a line of its own.
    std::u16string typed = m_edit->text();
    m_edit->set_text(typed.empty() ? m_model.pending_text() : typed + u"\n" + m_model.pending_text());
    m_edit->edit_caret_to_end();
    m_model.set_pending_text({});
    update_symbols();
}

void FormChat::take_recipients()
{
    int32_t marked = static_cast<int32_t>(std::count_if(m_model.phone_book().entries().begin(), m_model.phone_book().entries().end(),
        [](PhoneEntry const& entry) { return entry.mark == 1; }));
    log() << u"FormChat::take_recipients " << marked << u"\n";
    fill_title();
}

// Everyone the next message goes to besides the chat's own number, by name or number.
std::u16string FormChat::other_recipients() const
{
    std::u16string names;
    for (PhoneEntry const& entry : m_model.phone_book().entries()) {
        if (entry.mark != 1 || entry.key == m_key)
            continue;
        if (!names.empty())
            names += u", ";
        names += entry.name.empty() ? entry.number : entry.name;
    }
    return names;
}

// A chat gathers every number with its key; a reply goes to the one the newest incoming message
// came from, or, without one, to the chat's own number (empty: the phone book's).
std::u16string FormChat::reply_number()
{
    Chat* current = chat();
    if (!current)
        return {};
    for (auto message = current->messages.rbegin(); message != current->messages.rend(); ++message) {
        if (message->folder != FolderKind::Incoming || !m_model.read_message(*message, *current) || message->report_kind != ReportKind::Message)
            continue;
        if (!message->sender.address.empty())
            return message->sender.address;
    }
    return {};
}

void FormChat::fill_title()
{
    Chat* current = chat();
    m_title->set_text(current ? current->title() : std::u16string());
    // While others are ticked the line under the title says who the message goes to; otherwise
    // it shows the number replies go to when that is not the chat's own, or else the phone's
    // label, kept as the phone book names it and shown in the user's language.
    std::u16string others = other_recipients();
    std::u16string label = current && !current->phone_label.empty() ? m_skin.language().text_of(current->phone_label) : std::u16string();
    // A group's members are its title; the number of its last writer is nothing to reply to.
    std::u16string reply = current && current->is_group() ? std::u16string() : reply_number();
    PhoneEntry const* own = m_model.phone_book().find(m_key);
    if (!reply.empty() && own && all_digits(reply) != all_digits(own->number) && all_digits(reply) != all_digits(current->title()))
        label = reply;
    std::u16string line = others.empty() ? label : m_skin.language().text_of(u"Recipients") + u": " + others;
    m_type->set_text(line);
    m_type->set_visible(!line.empty());
}

void FormChat::update_symbols()
{
    // An MMS is not counted in text messages.
    Chat* current = chat();
    if (m_attachment.part() || (current && current->is_group())) {
        m_symbols->set_text({});
        return;
    }
    SmsParts parts = count_sms_parts(m_edit->text());
    m_symbols->set_text(to_u16_decimal(parts.parts) + u" " + m_skin.language().text_of(u"SMS") + u" (" + to_u16_decimal(parts.left) + u")");
}

std::unique_ptr<Element> FormChat::create_item(VList&, int32_t index)
{
    Chat* current = chat();
    if (!current || index < 0 || index >= static_cast<int32_t>(current->messages.size()))
        return nullptr;
    // A message deleted from the store while the chat is open leaves the chat, once the list
    // is done building.
    MessageRecord& message = current->messages[static_cast<size_t>(index)];
    if (!m_model.validate_message(message)) {
        m_vanished.push_back(message.id);
        return nullptr;
    }
    auto item = std::make_unique<Element>();
    build_required(*item, m_skin, item_section);
    fill_message(*item, *current, index);
    return item;
}

void FormChat::fill_item(VList&, Element& item, int32_t index)
{
    Chat* current = chat();
    if (current && index >= 0 && index < static_cast<int32_t>(current->messages.size()))
        fill_message(item, *current, index);
}

void FormChat::fill_message(Element& item, Chat& chat, int32_t index)
{
    MessageRecord& record = chat.messages[static_cast<size_t>(index)];
    m_model.read_message(record, chat);
    if (record.found_items.empty())
        find_items(record);
    auto& body = bind_element<TextElement>(item, item_section, u"body");
    body.set_text(record.text);
    body.set_runs(link_runs(record.text, record.found_items, m_bubble.link_colour(record)));
    MessageDates dates(m_skin.language());
    bind_element<TextElement>(item, item_section, u"day").set_text(dates.day_heading(record.time, MessageTime::now()));
    bind_element<TextElement>(item, item_section, u"time").set_text(dates.clock(record.time));
    // The neighbour may hold only its id (a start from the cache): it is read before its day is
    // compared; after a neighbour that cannot be read (it is leaving the chat) the day is shown.
    bool first_of_day = index == 0;
    if (index > 0) {
        MessageRecord& previous = chat.messages[static_cast<size_t>(index) - 1];
        first_of_day = !m_model.read_message(previous, chat) || !same_day(previous.time, record.time);
    }
    bind_element(item, item_section, u"day_node").set_visible(first_of_day);
    bind_element(item, item_section, u"incoming").set_visible(record.folder == FolderKind::Incoming);
    show_sender(item, chat, record);
    // A message that did not go out looks like no sent one; skins without that look keep the folder's.
    Element* failed = item.find_by_id(u"failed");
    bool shows_failed = failed && record.not_sent();
    if (failed)
        failed->set_visible(shows_failed);
    bind_element(item, item_section, u"sent").set_visible(record.folder == FolderKind::Sent && !shows_failed);
    bind_element(item, item_section, u"drafts").set_visible(record.folder == FolderKind::Drafts);
    bind_element(item, item_section, u"outbox").set_visible(record.folder == FolderKind::Outbox && !shows_failed);
    show_send_state(item, record);
    show_picture(item, record);
    m_bubble.style(item, record);
    m_bubble.refit(item);
    show_as_report(item, record);
}

// In a group each message from another says who wrote it, beside that person's avatar colour.
void FormChat::show_sender(Element& item, Chat const& chat, MessageRecord const& record)
{
    Element* row = item.find_by_id(u"sender_row");
    auto* sender = dynamic_cast<TextElement*>(item.find_by_id(u"sender"));
    if (!row || !sender)
        return;
    bool shown = chat.is_group() && record.folder == FolderKind::Incoming && !record.is_report();
    row->set_visible(shown);
    if (!shown)
        return;
    std::u16string name = m_model.phone_book().name_of(record.sender.address);
    if (name == record.sender.address && !record.sender.name.empty())
        name = record.sender.name;
    sender->set_text(name);
    show_avatar(*row, name, platform::chat_key(record.sender.address, record.sender.name));
}

// A picture shows as a thumbnail as wide as the widest bubble, at most a bit taller than wide;
// until it is made, a box of a photo's proportions holds its place. A picture that cannot be
// shown, or a file, is said in words where the message has none.
void FormChat::show_picture(Element& item, MessageRecord const& record)
{
    auto* picture = dynamic_cast<ImageElement*>(item.find_by_id(u"picture"));
    MessagePart const* part = record.picture();
    PictureThumbnails::Lookup found { PictureThumbnails::State::Failed, nullptr };
    if (picture && part) {
        int32_t width = m_bubble.content_width(item, m_list->size().x);
        int32_t height = std::min(width * 4 / 3, m_list->size().y * 3 / 5);
        if (width > 0 && height > 0)
            found = m_thumbnails.find(*part, width, height);
        Point size = found.thumbnail ? Point { found.thumbnail->width(), found.thumbnail->height() } : Point { width, width * 3 / 4 };
        // A measure stays cached until told: the item measures again when the thumbnail's size
        // differs from its placeholder's.
        if (picture->design_size() != size) {
            picture->set_design_size(size);
            picture->invalidate_layout();
        }
        picture->set_picture(found.thumbnail ? PictureRef { found.thumbnail, { 0, 0 }, { 0, 0 }, size, size } : PictureRef {});
    }
    bool shows_picture = picture && part && found.state != PictureThumbnails::State::Failed;
    if (picture)
        picture->set_visible(shows_picture);
    MessagePart const* file = first_file(record);
    auto* chip = dynamic_cast<TextElement*>(item.find_by_id(u"file"));
    if (chip) {
        chip->set_visible(file != nullptr);
        if (file)
            chip->set_text(u"\U0001F4CE " + m_skin.language().text_of(u"Attachment") + u" · " + upper_case(to_utf16(extension_of(*file))));
    }
    auto& body = bind_element<TextElement>(item, item_section, u"body");
    // A picture or a file alone needs no empty line under it.
    bool shows_part = shows_picture || (file && chip);
    body.set_visible(!record.text.empty() || !shows_part);
    if (record.text.empty() && !record.parts.empty() && !shows_part) {
        body.set_text(m_skin.language().text_of(part ? u"Picture" : u"Attachment"));
        body.set_runs({});
    }
}

// The first part that is no picture: it shows as a chip that opens with the desktop's handler.
MessagePart const* FormChat::first_file(MessageRecord const& record)
{
    for (auto const& part : record.parts)
        if (!part.is_picture())
            return &part;
    return nullptr;
}

// A tap on a message's picture shows it on a screen of its own.
bool FormChat::open_picture_at(int32_t index, Point point)
{
    Element* item = m_list->item(index);
    auto shown_at = [&](char16_t const* id) {
        Element* element = item ? item->find_by_id(id) : nullptr;
        return element && element->is_visible() && contains(element->rect(), point);
    };
    if (shown_at(u"picture"))
        return open_picture(index);
    if (shown_at(u"file"))
        return open_file(index);
    return false;
}

// The message at `index`, read in full; null outside the chat.
MessageRecord* FormChat::message_at(int32_t index)
{
    Chat* current = chat();
    if (!current || index < 0 || index >= static_cast<int32_t>(current->messages.size()))
        return nullptr;
    MessageRecord& record = current->messages[static_cast<size_t>(index)];
    m_model.read_message(record, *current);
    return &record;
}

// Copies of a message's parts are named after its time.
std::string FormChat::copy_stem(MessageRecord const& record)
{
    return "MMS-" + platform::local_file_stamp(record.time.unix_milliseconds() / 1000);
}

bool FormChat::open_file(int32_t index)
{
    MessageRecord* record = message_at(index);
    MessagePart const* file = record ? first_file(*record) : nullptr;
    if (!file)
        return false;
    std::string why;
    if (!open_message_part(*file, copy_stem(*record), why))
        log() << u"file: " << to_utf16(file->file) << u" is not opened: " << to_utf16(why) << u"\n";
    return true;
}

bool FormChat::open_picture(int32_t index)
{
    MessageRecord* record = message_at(index);
    MessagePart const* part = record ? record->picture() : nullptr;
    if (!part)
        return false;
    m_owner.picture_form().show(*part, chat()->title(), copy_stem(*record));
    return true;
}

// Thumbnails made since the last frame take their places in the items built.
void FormChat::refresh_pictures()
{
    Chat* current = chat();
    if (!current || !m_thumbnails.take_news())
        return;
    bool refreshed = false;
    int32_t first = m_list->first_built();
    for (int32_t index = first; first >= 0 && index < first + m_list->built_count(); ++index) {
        if (index < static_cast<int32_t>(current->messages.size()) && current->messages[static_cast<size_t>(index)].picture()) {
            m_list->refresh(index);
            refreshed = true;
        }
    }
    // A thumbnail taller or shorter than its placeholder moves what follows it: a chat seen at
    // its newest message stays there.
    if (refreshed && m_was_at_end)
        scroll_to_newest();
}

// A delivery report is a small line under the message it tells of, not a bubble of the other
// party's. Skins without that line show it as a message.
void FormChat::show_as_report(Element& item, MessageRecord const& record)
{
    auto* line = item.find_by_id(u"report");
    auto* text = dynamic_cast<TextElement*>(item.find_by_id(u"report_text"));
    if (!line || !text)
        return;
    bool report = record.is_report();
    line->set_visible(report);
    bind_element(item, item_section, u"bubble").set_visible(!report);
    if (report) {
        auto state = record.report_kind == ReportKind::Delivered ? platform::SendState::Delivered : platform::SendState::NotDelivered;
        text->set_text(m_skin.language().text_of(send_state_key(state)) + u" " + MessageDates(m_skin.language()).clock(record.time));
    }
}

void FormChat::show_send_state(Element& item, MessageRecord const& record)
{
    // Skins made before messages had states have no place for it.
    auto* status = dynamic_cast<TextElement*>(item.find_by_id(u"status"));
    if (!status)
        return;
    bool outgoing = !record.incoming() && (record.folder == FolderKind::Sent || record.folder == FolderKind::Outbox);
    bool draft = record.folder == FolderKind::Drafts;
    status->set_visible(outgoing || draft);
    if (outgoing)
        status->set_text(m_skin.language().text_of(send_state_key(record.send_state())));
    else if (draft)
        status->set_text(m_skin.language().text_of(u"Draft"));
}

void FormChat::item_activated(VList&, int32_t index)
{
    if (open_picture_at(index, m_list->press_point()))
        return;
    m_selected = index;
    m_list->set_selected(index);
    m_menu.open(u"SMS", {}, true);
}

MessageRecord* FormChat::selected_message()
{
    return message_at(m_selected);
}

// A key that edits text, pressed while the reply holds text but not the input (a phone with a
// keyboard attached), gives it the input and acts there, as the first typed letter does.
bool FormChat::edit_key_without_input(KeyEvent const& event)
{
    if (m_edit->has_input() || !m_edit->is_effectively_visible() || m_edit->text().empty() || !event.pressed)
        return false;
    // Backspace is not among them: without the input it is the phone's back key.
    bool edits = event.code == Key::Enter || event.code == Key::Del || event.code == Key::Left || event.code == Key::Right
        || (event.control && event.code == Key::A);
    if (!edits)
        return false;
    m_edit->begin_input();
    return m_edit->key(event);
}

bool FormChat::on_form_key(KeyEvent const& event)
{
    if (edit_key_without_input(event))
        return true;
    if (event.code != Key::ContextMenu)
        return OwnedForm::on_form_key(event);
    if (event.pressed && event.first) {
        if (m_list->selected() >= 0)
            item_activated(*m_list, m_list->selected());
        else
            open_menu();
    }
    return true;
}

bool FormChat::text_input(std::u16string const& text)
{
    if (!m_edit->has_input() && m_edit->is_effectively_visible())
        m_edit->begin_input();
    return Form::text_input(text);
}

// Enter sends what was typed, as the Send button does; Shift+Enter makes a new line. With nothing
// typed it acts on the message the arrows selected, as it does while the reply has no input.
bool FormChat::send_typed()
{
    if (!m_edit->text().empty())
        send();
    else if (m_list->selected() >= 0)
        item_activated(*m_list, m_list->selected());
    return true;
}

void FormChat::open_menu()
{
    m_menu.open(u"Chat", {}, true);
}

void FormChat::scroll_to_newest()
{
    if (m_list->count() > 0)
        m_list->scroll_to(m_list->count() - 1);
}

void FormChat::send()
{
    std::u16string text = m_edit->text();
    Chat* current = chat();
    if (m_attachment.part() || (current && current->is_group())) {
        send_mms(text);
        return;
    }
    if (text.empty())
        return;
    std::vector<Correspondent> recipients = marked_recipients();
    log() << u"send sms recipients:" << static_cast<int64_t>(recipients.size()) << u" body:" << log_safe(text) << u"\n";
    if (m_model.sms().send(recipients, text)) {
        execute_file(u"%windows%/tmail.exe", u"-RunInBKG");
        sent();
    }
    log() << u"after send\n";
}

// The recipients picked for the message: the chat's own entry goes to the number the person last
// wrote from.
std::vector<Correspondent> FormChat::marked_recipients()
{
    std::vector<Correspondent> recipients;
    for (PhoneEntry const& entry : m_model.phone_book().entries()) {
        if (entry.mark != 1)
            continue;
        // A name that is only the number again is no name.
        bool name_in_number = !entry.name.empty() && entry.number.find(entry.name) != std::u16string::npos;
        recipients.push_back({ name_in_number ? std::u16string() : entry.name, entry.number.empty() ? entry.name : entry.number });
    }
    std::u16string reply = reply_number();
    for (auto& recipient : recipients)
        if (!reply.empty() && chat_key(recipient.address, recipient.name) == m_key)
            recipient.address = reply;
    return recipients;
}

// A picture, or any message of a group, goes as one MMS to everyone: in a group to all its
// members, else to those picked.
void FormChat::send_mms(std::u16string const& text)
{
    if (text.empty() && !m_attachment.part())
        return;
    if (!m_attachment.mms_available()) {
        m_attachment.say(m_skin.language().text_of(u"MmsUnavailable"));
        return;
    }
    Chat* current = chat();
    std::vector<Correspondent> recipients;
    if (current && current->is_group()) {
        for (auto const& member : platform::group_members(current->address))
            recipients.push_back({ {}, member });
    } else {
        recipients = marked_recipients();
    }
    std::vector<MessagePart> parts;
    if (m_attachment.part())
        parts.push_back(*m_attachment.part());
    log() << u"send mms recipients:" << static_cast<int64_t>(recipients.size()) << u" parts:" << static_cast<int64_t>(parts.size()) << u"\n";
    if (!recipients.empty() && m_model.sms().send_mms(recipients, text, parts)) {
        m_attachment.sent();
        sent();
    }
}

// What was sent leaves the edit; the chat shows it.
void FormChat::sent()
{
    m_edit->set_text({});
    update_symbols();
    reshow();
}

// The desktop's own file chooser where its portal runs, else the skin's picker of the Pictures folder.
void FormChat::choose_picture()
{
    if (platform::PortalFileChooser::available() && m_chooser.choose_picture(to_utf8(m_skin.language().text_of(u"Pictures"))))
        return;
    m_owner.pictures_form().show([this](std::string const& path) { m_attachment.attach(path); });
}

void FormChat::take_chosen_picture()
{
    auto answer = m_chooser.take_answer();
    if (!answer)
        return;
    if (!answer->path.empty())
        m_attachment.attach(answer->path);
    else
        log() << u"picture: none chosen: " << to_utf16(answer->why) << u"\n";
}

void FormChat::show_draft()
{
    if (!m_edit->is_effectively_visible())
        return;
    m_edit->begin_input();
    m_edit->edit_caret_to_end();
}

// The button that jumps to the newest message shows only while the newest message is out of view.
void FormChat::show_message(EntryId const& id)
{
    Chat* current = chat();
    if (!current)
        return;
    // A message older than those the chat holds is read from the store with those after it.
    size_t held = current->messages.size();
    if (!m_model.load_through(*current, id))
        return;
    show_older(static_cast<int32_t>(current->messages.size() - held));
    auto& messages = current->messages;
    auto found = std::find_if(messages.begin(), messages.end(), [&](MessageRecord const& record) { return record.id == id; });
    if (found == messages.end())
        return;
    m_found = static_cast<int32_t>(found - messages.begin());
    m_list->scroll_to(m_found);
    m_list->set_selected(m_found);
    m_found_timer.start(found_marked_seconds);
}

void FormChat::end_found_mark()
{
    // Unless the keyboard has taken the selection since.
    if (m_list->selected() == m_found && !focused())
        m_list->set_selected(-1);
    m_found = -1;
}

void FormChat::advance(double seconds)
{
    take_chosen_picture();
    Form::advance(seconds);
    drop_vanished();
    refresh_pictures();
    hold_older_near_top();
    int32_t count = m_list->count();
    Element* newest = count > 0 ? m_list->item(count - 1) : nullptr;
    bool at_end = count == 0 || (newest && newest->position().y + newest->size().y <= m_list->position().y + m_list->size().y + 1);
    // A list made shorter (a reply grown by a line, a keyboard come up, a smaller window) keeps
    // the newest message in view when it was.
    if (m_list->size().y < m_list_height && m_was_at_end && !at_end && count > 0) {
        scroll_to_newest();
        at_end = true;
    }
    m_list_height = m_list->size().y;
    m_was_at_end = at_end;
    if (m_scroll_button->is_visible() == at_end)
        m_scroll_button->set_visible(!at_end);
}

void FormChat::drop_vanished()
{
    Chat* current = chat();
    for (EntryId const& id : std::exchange(m_vanished, {})) {
        if (!current)
            return;
        auto& messages = current->messages;
        auto found = std::find_if(messages.begin(), messages.end(), [&](MessageRecord const& message) { return message.id == id; });
        if (found != messages.end())
            m_model.drop_message(*current, static_cast<int32_t>(found - messages.begin()));
    }
}

void FormChat::go_back()
{
    close();
}

void FormChat::reshow()
{
    if (m_stack.top() != this) {
        m_stack.hide(*this, false);
        m_stack.show(*this, false, false);
    }
}

void FormChat::show_contact()
{
    Chat* current = chat();
    std::u16string companion;
    if (find_installed_program_file(u"Ketra Pomelix", u"Pomelix.exe", companion)) {
        log() << u"Pomelix path:" << companion << u"\n";
        m_application.set_asleep();
        // The address is one argument, whatever it holds: a sender ID is never read as options.
        run_program(companion, { u"open:" + (current ? current->address : std::u16string()) });
        return;
    }
    if (!current || current->contact_id < 0) {
        m_companion->show();
        return;
    }
    m_application.set_asleep();
    std::u16string file = m_model.contact_file(current->contact_id);
    if (!file.empty())
        execute_file(file, {});
}

// What was typed and not sent goes to the store as the chat's draft (and an empty edit takes an
// old draft away); the edit is then empty, so the text is kept once.
void FormChat::keep_draft()
{
    Chat* current = chat();
    if (!current)
        return;
    m_drafts.keep(*current, m_edit->text());
    m_edit->set_text({});
}

void FormChat::leave_chat()
{
    keep_draft();
    m_edit->end_input();
    m_model.set_current_chat_key({});
}

// Every way out of the chat goes through here: the text typed stays as a draft, a chat that
// never got a message (nor a draft) leaves the list, and the chat stops being the current one.
void FormChat::close(bool animate)
{
    leave_chat();
    Chat* current = chat();
    if (current && current->messages.empty())
        remove_chat_from_list();
    m_key.clear();
    m_stack.hide(*this, animate);
}

void FormChat::remove_chat_from_list()
{
    if (Chat* current = chat())
        m_model.remove_chat(*current);
}

void FormChat::chat_menu(std::vector<MenuEntry>& entries)
{
    auto const& book = m_model.phone_book().entries();
    bool has_recipients = std::count_if(book.begin(), book.end(), [](PhoneEntry const& entry) { return entry.mark == 1; }) > 1;
    Chat* current = chat();
    bool has_contact = current && current->contact_id >= 0;
    auto text = [&](char16_t const* key) { return m_skin.language().text_of(key); };
    entries.push_back({ u"Recipients", text(has_recipients ? u"ModifyRecipients" : u"AddRecipients") });
    entries.push_back({ u"ShowContact", text(has_contact ? u"ViewContact" : u"AddContact") });
    for (char16_t const* name : { u"SendContact", u"Templates", u"DeleteChat", u"Minimize", u"Cancel" })
        entries.push_back({ name, {} });
}

// The selected message's links, numbers first, then mail addresses, then web addresses.
void FormChat::message_menu(std::vector<MenuEntry>& entries)
{
    MessageRecord* message = selected_message();
    if (!message)
        return;
    if (message->found_items.empty())
        find_items(*message);
    std::vector<MenuEntry> numbers, mails, webs;
    auto entry = [&](std::u16string_view prefix, char16_t const* key, std::u16string const& link) {
        return MenuEntry { std::u16string(prefix) + link, m_skin.language().text_of(key) + u" " + link };
    };
    for (auto const& item : message->found_items) {
        if (!is_link(item))
            numbers.push_back(entry(call_prefix, u"Call", item));
        else if (item.find(u'@') != std::u16string::npos)
            mails.push_back(entry(mail_prefix, u"Mail", item));
        else if (is_web_address(item))
            webs.push_back(entry(visit_prefix, u"Visit", item));
    }
    // A message that did not go out offers to send it again first, where the finger lands.
    bool failed = message->not_sent();
    if (failed)
        entries.push_back({ u"Resend", {} });
    if (message->picture())
        entries.push_back({ u"ViewPicture", {} });
    for (auto* group : { &numbers, &mails, &webs })
        entries.insert(entries.end(), group->begin(), group->end());
    for (char16_t const* name : { u"CopyText", u"DeleteSMS", u"Forward", u"Resend", u"Cancel" })
        if (!failed || std::u16string_view(name) != u"Resend")
            entries.push_back({ name, {} });
}

void FormChat::menu_entries(std::u16string const& name, std::u16string&, std::vector<MenuEntry>& entries)
{
    if (name == u"Chat") {
        chat_menu(entries);
    } else if (name == u"SMS") {
        message_menu(entries);
    } else if (name == u"DeleteChat") {
        entries.push_back({ u"ReallyDeleteChat", {}, u"MenuElementRed" });
        entries.push_back({ u"Cancel", {} });
    } else if (name == u"DeleteSMS") {
        // A message deleted is gone from the store: it is asked for once more, as a chat is.
        entries.push_back({ u"ReallyDeleteSMS", {}, u"MenuElementRed" });
        entries.push_back({ u"Cancel", {} });
    } else if (auto opened = run_link_command(name)) {
        // Nothing on this system could open it: the user is told instead of left waiting.
        if (!*opened) {
            entries.push_back({ u"NothingOpens", m_skin.language().text_of(u"NothingOpens"), u"MenuElementDisabled" });
            entries.push_back({ u"Cancel", {} });
        }
    } else {
        run_command(name);
    }
}

// Whether the link could be handed on; nullopt when the name is no link command.
std::optional<bool> FormChat::run_link_command(std::u16string const& name)
{
    bool opened;
    if (name.starts_with(visit_prefix))
        opened = execute_file(u"%windows%/iexplore.exe", name.substr(visit_prefix.size()));
    else if (name.starts_with(mail_prefix))
        opened = execute_file(u"%windows%/tmail.exe", u"mailto:" + name.substr(mail_prefix.size()));
    else if (name.starts_with(call_prefix))
        opened = make_call(name.substr(call_prefix.size()));
    else
        return std::nullopt;
    if (opened)
        m_application.set_asleep();
    return opened;
}

bool FormChat::run_command(std::u16string const& name)
{
    if (name == u"Recipients") {
        m_owner.open_contacts(true);
    } else if (name == u"ShowContact") {
        show_contact();
    } else if (name == u"SendContact") {
        m_owner.open_contacts(false);
    } else if (name == u"Templates") {
        m_owner.show_templates(1);
    } else if (name == u"ReallyDeleteChat") {
        delete_chat();
    } else if (name == u"Minimize") {
        m_application.minimize();
    } else if (name == u"ReallyDeleteSMS") {
        delete_selected();
    } else if (name == u"ViewPicture") {
        open_picture(m_selected);
    } else if (name == u"CopyText") {
        if (MessageRecord* message = selected_message())
            platform::set_clipboard_text(message->text);
    } else if (name == u"Forward") {
        if (MessageRecord* message = selected_message()) {
            m_model.set_pending_text(message->text);
            close();
            m_owner.open_contacts(false);
        }
    } else if (name == u"Resend") {
        if (MessageRecord* message = selected_message())
            send_again(*message);
    } else {
        return false;
    }
    return true;
}

// A message still in the outbox goes again as it is, so exactly one copy ever goes out; a sent
// one is copied into the reply, to be sent as a new message.
void FormChat::send_again(MessageRecord& message)
{
    if (message.folder == FolderKind::Outbox) {
        if (m_model.sms().retry(message))
            execute_file(u"%windows%/tmail.exe", u"-RunInBKG");
        if (m_selected >= 0)
            m_list->refresh(m_selected);
        return;
    }
    m_edit->set_text(message.text);
    m_edit->edit_caret_to_end();
    update_symbols();
    reshow();
}

void FormChat::delete_selected()
{
    Chat* current = chat();
    MessageRecord* message = selected_message();
    if (!current || !message)
        return;
    int32_t index = m_selected;
    m_selected = -1;
    m_model.delete_chat_message(*current, index);
}

void FormChat::delete_chat()
{
    if (Chat* current = chat()) {
        for (auto const& message : current->messages)
            m_model.delete_message(message);
        m_drafts.delete_taken();
        m_edit->set_text({});
        remove_chat_from_list();
        m_model.save_unread();
        m_model.save_cache();
    }
    close();
}

// A message that arrives in the chat on screen is read as it arrives.
void FormChat::mark_read_if_looking(Chat& current)
{
    if (current.unread == 0 || m_stack.top() != this || !m_application.is_in_front())
        return;
    m_model.mark_chat_read(current);
    m_model.save_unread();
    m_owner.refresh_chat(current);
}

void FormChat::on_document_refresh(ChatEvent const& event)
{
    if (!event.chat || event.chat->key != m_key)
        return;
    switch (event.kind) {
    case ChatEvent::Kind::MessageAppended:
        m_list->insert(event.index);
        m_list->scroll_to(event.index);
        mark_read_if_looking(*event.chat);
        break;
    case ChatEvent::Kind::MessageRemoved:
        m_list->remove(event.index);
        if (m_selected == event.index)
            m_selected = -1;
        break;
    case ChatEvent::Kind::MessageChanged:
        m_list->refresh(event.index);
        break;
    case ChatEvent::Kind::Renamed:
        fill_title();
        break;
    default:
        break;
    }
}

}
