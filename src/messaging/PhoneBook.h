#pragma once

#include "messaging/Contact.h"

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace velloq {

// One line of the phone book: a contact's phone, or a number known only from a chat.
struct PhoneEntry {
    std::u16string name;
    std::u16string number;
    std::u16string label; // "mobile", "business", "home"; empty for entries from chats
    std::u16string key;   // the last 7 digits of the number
    int32_t contact_id { -1 };
    uint8_t mark { 0 };   // 1 for a recipient of the message being written

    // An address the user typed: a number, or (without digits) a name.
    static PhoneEntry from_typed(std::u16string const& text);
};

// At most one entry per key: adding an entry whose key is present replaces that entry.
class PhoneBook {
public:
    void add(PhoneEntry entry);
    // Adds the contact's mobile, business and home phones; false when the contact has no name.
    bool add_contact(Contact const&);
    // Adds only the contact's phones whose keys are among `keys`.
    void add_contact_keys(Contact const&, std::set<std::u16string> const& keys);
    void remove_contact(int32_t contact_id);
    // The keys of the contact's entries.
    std::set<std::u16string> keys_of(int32_t contact_id) const;
    // Removes the contacts' entries (not the chats') of those keys.
    void remove_contact_keys(std::set<std::u16string> const& keys);
    PhoneEntry* find(std::u16string const& key);
    // What one person of a group is called: the name its number has here, else the number.
    std::u16string name_of(std::u16string const& address);
    // Marks the entries of the current chat (1) and clears the others, then sorts: the current
    // chat's entry first, then marked ones, then by name (or number) and number.
    void set_current(std::u16string const& current_key);
    void sort_display_order(std::u16string const& current_key);
    std::vector<PhoneEntry> const& entries() const { return m_entries; }
    std::vector<PhoneEntry>& entries() { return m_entries; }

private:
    bool add_contact_phones(Contact const&, std::set<std::u16string> const* keys);
    void reindex();

    std::vector<PhoneEntry> m_entries;
    // Each key's place in the entries; the entries' keys are never changed from outside.
    std::unordered_map<std::u16string, size_t> m_by_key;
};

}
