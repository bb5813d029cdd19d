#include "messaging/ContactsSource.h"

#include "messaging/TextAnalysis.h"
#include "platform/FileSystem.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Log.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace velloq {

namespace {

// Far beyond any address book; a larger file is not a contacts file.
constexpr uintmax_t largest_contacts_file = 16 * 1024 * 1024;

}

ContactsSource::ContactsSource(std::vector<ContactFolders::Root> roots)
    : m_folders(std::move(roots))
{
}

ContactsSource::~ContactsSource() = default;

int32_t ContactsSource::oid_for(File const& file, size_t index)
{
    auto [found, inserted] = m_oids.try_emplace({ file, index }, m_next_oid);
    if (inserted)
        ++m_next_oid;
    return found->second;
}

std::optional<std::string> ContactsSource::file_of(int32_t oid) const
{
    for (auto const& [place, known] : m_oids) {
        if (known == oid && m_contacts.contains(oid))
            return m_folders.path_of(place.first);
    }
    return std::nullopt;
}

std::vector<Contact> ContactsSource::read_all()
{
    m_contacts.clear();
    m_cards_per_file.clear();
    for (auto const& file : m_folders.files())
        read_file(file, nullptr);
    return contacts();
}

std::vector<Contact> ContactsSource::contacts() const
{
    std::vector<Contact> contacts;
    for (auto const& [key, oid] : m_oids) {
        auto found = m_contacts.find(oid);
        if (found != m_contacts.end())
            contacts.push_back(found->second);
    }
    return contacts;
}

Contact const* ContactsSource::find(int32_t oid) const
{
    auto found = m_contacts.find(oid);
    return found == m_contacts.end() ? nullptr : &found->second;
}

std::optional<Contact> ContactsSource::contact(int32_t oid) const
{
    auto found = m_contacts.find(oid);
    return found == m_contacts.end() ? std::nullopt : std::optional<Contact>(found->second);
}

std::vector<Contact> ContactsSource::parse_file(File const& file, PhotoData photos) const
{
    std::string path = m_folders.path_of(file);
    std::u16string name = to_utf16(file.second);
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    std::vector<Contact> parsed;
    if (!error && size <= largest_contacts_file) {
        std::ifstream stream(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        int32_t skipped = 0;
        parsed = parse_vcards(bytes, skipped, photos);
        if (skipped > 0 && photos == PhotoData::Digest)
            log() << u"contacts: " << name << u": " << skipped << u" malformed cards skipped\n";
    } else if (!error) {
        log() << u"contacts: " << name << u" is too large; skipped\n";
    }
    return parsed;
}

std::string ContactsSource::photo_of(int32_t oid) const
{
    auto contact = m_contacts.find(oid);
    if (contact == m_contacts.end() || contact->second.photo_digest.empty())
        return {};
    for (auto const& [place, known] : m_oids) {
        if (known != oid)
            continue;
        auto parsed = parse_file(place.first, PhotoData::Whole);
        // The file may have changed since it was read; only the same picture is given.
        if (place.second < parsed.size() && parsed[place.second].photo_digest == contact->second.photo_digest)
            return parsed[place.second].photo;
        return {};
    }
    return {};
}

void ContactsSource::read_file(File const& file, ContactListener* listener)
{
    auto parsed = parse_file(file, PhotoData::Digest);
    size_t before = m_cards_per_file[file];
    for (size_t index = 0; index < std::max(before, parsed.size()); ++index) {
        int32_t oid = oid_for(file, index);
        uint32_t started = platform::tick_count();
        if (index >= parsed.size()) {
            m_contacts.erase(oid);
            if (listener) {
                listener->on_contact_removed(oid);
                log() << u"PIM_ITEM_DELETED_LOCAL = " << (platform::tick_count() - started) << u"\n";
            }
            continue;
        }
        parsed[index].oid = oid;
        m_contacts[oid] = parsed[index];
        if (!listener)
            continue;
        if (index < before) {
            listener->on_contact_changed(oid);
            log() << u"PIM_ITEM_CHANGED_LOCAL = " << (platform::tick_count() - started) << u"\n";
        } else {
            listener->on_contact_added(oid, parsed[index]);
            log() << u"PIM_ITEM_CREATED_LOCAL = " << (platform::tick_count() - started) << u"\n";
        }
    }
    m_cards_per_file[file] = parsed.size();
}

void ContactsSource::remove_file(File const& file, ContactListener& listener)
{
    size_t before = m_cards_per_file[file];
    for (size_t index = 0; index < before; ++index) {
        int32_t oid = oid_for(file, index);
        uint32_t started = platform::tick_count();
        m_contacts.erase(oid);
        listener.on_contact_removed(oid);
        log() << u"PIM_ITEM_DELETED_LOCAL = " << (platform::tick_count() - started) << u"\n";
    }
    m_cards_per_file.erase(file);
}

void ContactsSource::poll(ContactListener& listener)
{
    for (auto const& change : m_folders.changes()) {
        if (change.removed)
            remove_file(change.file, listener);
        else
            read_file(change.file, &listener);
    }
}

std::optional<Contact> ContactsSource::find_by_phone(std::u16string const& number) const
{
    std::u16string key = last_seven_digits(number);
    if (key.empty())
        return std::nullopt;
    for (auto const& [oid, contact] : m_contacts) {
        for (auto const& [property, value] : contact.properties) {
            bool phone = property <= ContactProperty::AssistantTel || property == ContactProperty::BusinessFax || property == ContactProperty::HomeFax
                || property == ContactProperty::PagerNumber;
            if (phone && last_seven_digits(value) == key)
                return contact;
        }
    }
    return std::nullopt;
}

}
