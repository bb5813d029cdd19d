#include "messaging/PhoneBook.h"

#include "messaging/TextAnalysis.h"
#include "platform/ChatKeys.h"

#include <algorithm>

namespace velloq {

PhoneEntry PhoneEntry::from_typed(std::u16string const& text)
{
    PhoneEntry entry;
    entry.key = last_seven_digits(text);
    if (entry.key.empty()) {
        entry.name = text;
        entry.key = text;
    } else {
        entry.number = text;
    }
    return entry;
}

void PhoneBook::add(PhoneEntry entry)
{
    if (PhoneEntry* existing = find(entry.key)) {
        *existing = std::move(entry);
        return;
    }
    m_by_key.emplace(entry.key, m_entries.size());
    m_entries.push_back(std::move(entry));
}

bool PhoneBook::add_contact(Contact const& contact)
{
    return add_contact_phones(contact, nullptr);
}

void PhoneBook::add_contact_keys(Contact const& contact, std::set<std::u16string> const& keys)
{
    add_contact_phones(contact, &keys);
}

std::set<std::u16string> PhoneBook::keys_of(int32_t contact_id) const
{
    std::set<std::u16string> keys;
    for (auto const& entry : m_entries) {
        if (entry.contact_id == contact_id)
            keys.insert(entry.key);
    }
    return keys;
}

void PhoneBook::remove_contact_keys(std::set<std::u16string> const& keys)
{
    std::erase_if(m_entries, [&](PhoneEntry const& entry) { return entry.contact_id >= 0 && keys.contains(entry.key); });
    reindex();
}

bool PhoneBook::add_contact_phones(Contact const& contact, std::set<std::u16string> const* keys)
{
    std::u16string name = contact.display_name();
    if (name.empty())
        return false;
    struct Phone {
        char16_t const* label;
        ContactProperty property;
    };
    for (Phone phone : { Phone { u"mobile", ContactProperty::Mobile }, Phone { u"business", ContactProperty::BusinessTel },
             Phone { u"home", ContactProperty::HomeTel } }) {
        auto number = contact.property(phone.property);
        if (!number)
            continue;
        PhoneEntry entry { name, *number, phone.label, last_seven_digits(*number), contact.oid, 0 };
        if (!entry.key.empty() && (!keys || keys->contains(entry.key)))
            add(std::move(entry));
    }
    return true;
}

void PhoneBook::remove_contact(int32_t contact_id)
{
    std::erase_if(m_entries, [&](PhoneEntry const& entry) { return entry.contact_id == contact_id; });
    reindex();
}

// Keys are looked up by hash: reading a hundred thousand contacts costs no more per card than
// reading ten.
PhoneEntry* PhoneBook::find(std::u16string const& key)
{
    auto found = m_by_key.find(key);
    return found == m_by_key.end() ? nullptr : &m_entries[found->second];
}

std::u16string PhoneBook::name_of(std::u16string const& address)
{
    PhoneEntry* entry = find(platform::chat_key(address, u""));
    return entry && !entry->name.empty() ? entry->name : address;
}

void PhoneBook::reindex()
{
    m_by_key.clear();
    for (size_t index = 0; index < m_entries.size(); ++index)
        m_by_key.emplace(m_entries[index].key, index);
}

void PhoneBook::set_current(std::u16string const& current_key)
{
    for (auto& entry : m_entries)
        entry.mark = !current_key.empty() && entry.key == current_key ? 1 : 0;
    sort_display_order(current_key);
}

void PhoneBook::sort_display_order(std::u16string const& current_key)
{
    std::stable_sort(m_entries.begin(), m_entries.end(), [&](PhoneEntry const& a, PhoneEntry const& b) {
        bool a_current = !current_key.empty() && a.key == current_key;
        bool b_current = !current_key.empty() && b.key == current_key;
        if (a_current != b_current)
            return a_current;
        if (a.mark != b.mark)
            return a.mark > b.mark;
        std::u16string const& a_text = a.name.empty() ? a.number : a.name;
        std::u16string const& b_text = b.name.empty() ? b.number : b.name;
        if (a_text != b_text)
            return a_text < b_text;
        return a.number < b.number;
    });
    reindex();
}

}
