#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velloq {

// The named properties of a contact, by their index.
enum class ContactProperty : int32_t {
    Mobile = 0,
    BusinessTel = 1,
    Business2Tel = 2,
    HomeTel = 3,
    Home2Tel = 4,
    CarTel = 5,
    RadioTel = 6,
    CompanyMainTel = 7,
    AssistantTel = 8,
    Email1 = 9,
    Email2 = 10,
    Email3 = 11,
    WebPage = 12,
    MiddleName = 13,
    Suffix = 14,
    NickName = 15,
    Department = 16,
    JobTitle = 17,
    AssistantName = 18,
    BusinessFax = 19,
    HomeFax = 20,
    PagerNumber = 21,
    FileAs = 22,
};

// "Mobile" … "FileAs"; "Unknown" for an index outside the table.
std::u16string_view contact_property_name(int32_t index);

struct Contact {
    int32_t oid { -1 };
    std::u16string first_name;
    std::u16string last_name;
    std::u16string company;
    // Only the properties the contact has, in the order they were set.
    std::vector<std::pair<ContactProperty, std::u16string>> properties;
    // The contact's picture: a digest that names it (empty: none), and its data ("base64:…" or
    // a "file:///…" URI) only where the card was read for it.
    std::string photo_digest;
    std::string photo;

    std::optional<std::u16string> property(ContactProperty) const;
    void set_property(ContactProperty, std::u16string value);
    // "FileAs"; else last name, a blank and first name; else the company.
    std::u16string display_name() const;
};

}
