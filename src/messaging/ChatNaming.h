#pragma once

#include "messaging/ContactsSource.h"
#include "messaging/PhoneBook.h"

#include <memory>
#include <set>
#include <utility>
#include <string>

namespace velloq {

class ChatModel;
struct Chat;

// Names the chats after the phone's contacts: reads the contacts folder into the phone book,
// gives each chat the name and phone label of its number's contact (the lists hear of each
// renamed chat), and follows the folder's changes.
class ChatNaming final : public ContactListener {
public:
    // The contacts folders in order (a later folder's contacts win); the last is the device's own,
    // made when missing. A folder with an empty path is left out.
    ChatNaming(ChatModel& model, std::vector<ContactFolders::Root> contacts_folders);

    PhoneBook& phone_book() { return m_phone_book; }
    // Reads every contact and names the chats (the program's start).
    void assign_contacts();
    // Chats with a key in `changed_keys` are told of as renamed even when their name stayed.
    void name_chats(std::set<std::u16string> const* changed_keys = nullptr);
    // Handles the contacts folder's changes since the last call (the main loop's poll).
    void poll_contacts();
    // Whether a chat took another name since the last call: the cache keeps the names.
    bool take_names_changed() { return std::exchange(m_names_changed, false); }
    // Readable when the contacts folders have changes for `poll_contacts` (none before the
    // contacts were first read).
    std::vector<int> contact_descriptors() const;
    bool find_contact_by_phone(std::u16string const& number, Contact& contact);
    // The contact's photo: its digest (empty: none), and its data read from its file.
    std::string contact_photo_digest(int32_t oid) const;
    std::string contact_photo(int32_t oid) const;
    // The file of a contact, for the phone's contact application; empty when unknown.
    std::u16string contact_file(int32_t oid) const;

    void on_contact_added(int32_t oid, Contact const&) override;
    void on_contact_changed(int32_t oid) override;
    void on_contact_removed(int32_t oid) override;

private:
    std::unique_ptr<ContactsSource> open_contacts() const;
    void note_numbers_of(int32_t oid);
    void forget_contact_name(Chat&, size_t index);
    void name_group(Chat&, size_t index);
    void rename_noted_numbers();

    ChatModel& m_model;
    std::vector<ContactFolders::Root> m_contacts_folders;
    PhoneBook m_phone_book;
    std::unique_ptr<ContactsSource> m_contacts;
    // Keys of numbers whose contacts changed since the last renaming.
    std::set<std::u16string> m_renamed_keys;
    bool m_names_changed { false };
    bool m_naming_at_start { false };
};

}
