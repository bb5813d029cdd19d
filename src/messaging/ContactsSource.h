#pragma once

#include "messaging/Contact.h"
#include "messaging/ContactFolders.h"
#include "messaging/VCard.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq {

// Told of contacts created, changed and deleted while the program runs.
class ContactListener {
public:
    virtual ~ContactListener() = default;
    virtual void on_contact_added(int32_t oid, Contact const&) = 0;
    virtual void on_contact_changed(int32_t oid) = 0;
    virtual void on_contact_removed(int32_t oid) = 0;
};

// The phone's contacts: every vCard of every ".vcf" file in the contacts folders (the device
// folder's contacts/, and the desktop's own vCard folder where there is one). Each contact keeps
// its oid for the life of the process (by file and place in the file). Changes of the folders
// reach the listener when `poll` runs on the main loop.
class ContactsSource {
public:
    // The folders in order: a later folder's files come after an earlier one's.
    explicit ContactsSource(std::vector<ContactFolders::Root>);
    ~ContactsSource();

    // Reads every file; the contacts in folder order (files by name, cards in file order).
    std::vector<Contact> read_all();
    std::optional<Contact> contact(int32_t oid) const;
    // The contact as read, without a copy (a list's item asks for its photo on every fill).
    Contact const* find(int32_t oid) const;
    // The contacts read so far, in folder order (files by name, cards in file order).
    std::vector<Contact> contacts() const;
    // The file that holds the contact (for the phone's contact application), or nullopt.
    std::optional<std::string> file_of(int32_t oid) const;
    // Readable when the folders have changes for `poll`.
    std::vector<int> descriptors() const { return m_folders.descriptors(); }
    // Handles the folder changes seen since the last call, with their log lines.
    void poll(ContactListener&);
    // The contact's photo data ("base64:…" or a "file:///…" URI), read again from its file (the
    // contacts keep only its digest); empty when it has none.
    std::string photo_of(int32_t oid) const;
    // The contact one of whose phones has the same last seven digits as the number.
    std::optional<Contact> find_by_phone(std::u16string const& number) const;

private:
    using File = ContactFolders::File;
    void read_file(File const&, ContactListener* listener);
    void remove_file(File const&, ContactListener& listener);
    std::vector<Contact> parse_file(File const&, PhotoData) const;
    int32_t oid_for(File const&, size_t index);

    ContactFolders m_folders;
    std::map<std::pair<File, size_t>, int32_t> m_oids;
    std::map<int32_t, Contact> m_contacts;
    std::map<File, size_t> m_cards_per_file;
    int32_t m_next_oid { 1 };
};

}
