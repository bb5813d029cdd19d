#include "messaging/ChatNaming.h"

#include "messaging/ChatModel.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "shell/Log.h"

#include <algorithm>

namespace velloq {

ChatNaming::ChatNaming(ChatModel& model, std::vector<ContactFolders::Root> contacts_folders)
    : m_model(model)
{
    for (auto& folder : contacts_folders) {
        if (!folder.path.empty())
            m_contacts_folders.push_back(std::move(folder));
    }
}

std::unique_ptr<ContactsSource> ChatNaming::open_contacts() const
{
    if (!m_contacts_folders.empty())
        platform::make_directory_chain(m_contacts_folders.back().path);
    return std::make_unique<ContactsSource>(m_contacts_folders);
}

void ChatNaming::assign_contacts()
{
    m_contacts = open_contacts();
    for (auto const& contact : m_contacts->read_all())
        m_phone_book.add_contact(contact);
    // A chat named by a contact in an earlier run whose contact is gone now takes its own name
    // again; one whose contact goes while the program runs keeps the name it had.
    m_naming_at_start = true;
    name_chats();
    m_naming_at_start = false;
}

void ChatNaming::name_chats(std::set<std::u16string> const* changed_keys)
{
    auto& chats = m_model.chats();
    for (size_t index = 0; index < chats.size(); ++index) {
        Chat& chat = *chats[index];
        if (chat.key.empty())
            continue;
        if (chat.is_group()) {
            name_group(chat, index);
            continue;
        }
        PhoneEntry* entry = m_phone_book.find(chat.key);
        if (!entry) {
            forget_contact_name(chat, index);
            m_phone_book.add({ chat.name, chat.address, {}, chat.key, chat.contact_id, 0 });
            continue;
        }
        // A chat newly of a contact is shown again even under the same name: it may have a photo.
        bool touched = (changed_keys && changed_keys->contains(chat.key)) || chat.contact_id != entry->contact_id;
        chat.contact_id = entry->contact_id;
        if (chat.name == entry->name && chat.phone_label == entry->label && !touched)
            continue;
        m_names_changed |= chat.name != entry->name || chat.named_by_contact != (entry->contact_id >= 0);
        chat.named_by_contact = entry->contact_id >= 0;
        chat.name = entry->name;
        chat.phone_label = entry->label;
        m_model.send_event({ ChatEvent::Kind::Renamed, static_cast<int32_t>(index), &chat });
    }
}

// A group is called by its members' names, those of contacts first in their order, bare
// numbers after them.
void ChatNaming::name_group(Chat& chat, size_t index)
{
    std::vector<std::pair<bool, std::u16string>> members;
    for (auto const& member : platform::group_members(chat.address)) {
        std::u16string name = m_phone_book.name_of(member);
        members.emplace_back(name == member, std::move(name));
    }
    std::sort(members.begin(), members.end());
    std::u16string name;
    for (auto const& member : members)
        name += (name.empty() ? u"" : u", ") + member.second;
    if (name == chat.name)
        return;
    chat.name = std::move(name);
    chat.named_by_contact = false;
    m_names_changed = true;
    m_model.send_event({ ChatEvent::Kind::Renamed, static_cast<int32_t>(index), &chat });
}

// A chat whose contact went since the last start takes the name its messages give.
void ChatNaming::forget_contact_name(Chat& chat, size_t index)
{
    if (!chat.named_by_contact || !m_naming_at_start)
        return;
    auto said = std::find_if(chat.messages.rbegin(), chat.messages.rend(), [](MessageRecord const& message) { return !message.peer().address.empty(); });
    chat.name = said == chat.messages.rend() ? std::u16string() : said->peer().name;
    chat.named_by_contact = false;
    chat.contact_id = -1;
    chat.phone_label.clear();
    m_names_changed = true;
    m_model.send_event({ ChatEvent::Kind::Renamed, static_cast<int32_t>(index), &chat });
}

void ChatNaming::poll_contacts()
{
    if (m_contacts)
        m_contacts->poll(*this);
    rename_noted_numbers();
}

std::vector<int> ChatNaming::contact_descriptors() const
{
    return m_contacts ? m_contacts->descriptors() : std::vector<int> {};
}

void ChatNaming::on_contact_added(int32_t oid, Contact const&)
{
    log() << u"on_contact_added for id:" << oid << u"\n";
    note_numbers_of(oid);
}

void ChatNaming::on_contact_changed(int32_t oid)
{
    log() << u"on_contact_changed for id:" << oid << u"\n";
    note_numbers_of(oid);
}

void ChatNaming::on_contact_removed(int32_t oid)
{
    log() << u"on_contact_removed for id:" << oid << u"\n";
    note_numbers_of(oid);
}

// The numbers the contact had and has now are named again once the folder's changes are read.
void ChatNaming::note_numbers_of(int32_t oid)
{
    auto had = m_phone_book.keys_of(oid);
    m_renamed_keys.insert(had.begin(), had.end());
    m_phone_book.remove_contact(oid);
    if (auto contact = m_contacts ? m_contacts->contact(oid) : std::nullopt) {
        PhoneBook own;
        own.add_contact(*contact);
        auto has = own.keys_of(oid);
        m_renamed_keys.insert(has.begin(), has.end());
    }
}

// The changed numbers are named from every contact, in the order the program's start reads them
// (the last file's card wins): a number in two address books keeps the same name whichever
// changed last, and when one card goes the other names it again. Once per batch of changes, so
// that a whole address book arriving costs one pass over the contacts.
void ChatNaming::rename_noted_numbers()
{
    if (m_renamed_keys.empty())
        return;
    m_phone_book.remove_contact_keys(m_renamed_keys);
    if (m_contacts) {
        for (auto const& known : m_contacts->contacts())
            m_phone_book.add_contact_keys(known, m_renamed_keys);
    }
    // Chats whose contact changed are shown again though the name stayed: its photo may not have.
    auto changed = std::move(m_renamed_keys);
    m_renamed_keys.clear();
    name_chats(&changed);
}

bool ChatNaming::find_contact_by_phone(std::u16string const& number, Contact& contact)
{
    // Message mode never reads the phone book, yet the alert names the sender: the contacts are
    // read before they are searched.
    if (!m_contacts) {
        m_contacts = open_contacts();
        m_contacts->read_all();
    }
    auto found = m_contacts->find_by_phone(number);
    if (!found) {
        log() << u"find_contact_by_phone: bad result\n";
        return false;
    }
    contact = *found;
    return true;
}

std::string ChatNaming::contact_photo_digest(int32_t oid) const
{
    Contact const* contact = m_contacts ? m_contacts->find(oid) : nullptr;
    return contact ? contact->photo_digest : std::string();
}

std::string ChatNaming::contact_photo(int32_t oid) const
{
    return m_contacts ? m_contacts->photo_of(oid) : std::string();
}

std::u16string ChatNaming::contact_file(int32_t oid) const
{
    auto file = m_contacts ? m_contacts->file_of(oid) : std::nullopt;
    return file ? to_utf16(*file) : std::u16string();
}

}
