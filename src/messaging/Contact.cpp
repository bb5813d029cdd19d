#include "messaging/Contact.h"

#include <array>

namespace velloq {

namespace {

constexpr std::array<std::u16string_view, 23> property_names { u"Mobile", u"BusinessTel", u"Business2Tel", u"HomeTel", u"Home2Tel", u"CarTel",
    u"RadioTel", u"CompanyMainTel", u"AssistantTel", u"Email1", u"Email2", u"Email3", u"WebPage", u"MiddleName", u"Suffix", u"NickName",
    u"Department", u"JobTitle", u"AssistantName", u"BusinessFax", u"HomeFax", u"PagerNumber", u"FileAs" };

}

std::u16string_view contact_property_name(int32_t index)
{
    if (index < 0 || index >= static_cast<int32_t>(property_names.size()))
        return u"Unknown";
    return property_names[static_cast<size_t>(index)];
}

std::optional<std::u16string> Contact::property(ContactProperty which) const
{
    for (auto const& [index, value] : properties) {
        if (index == which)
            return value;
    }
    return std::nullopt;
}

void Contact::set_property(ContactProperty which, std::u16string value)
{
    for (auto& [index, existing] : properties) {
        if (index == which) {
            existing = std::move(value);
            return;
        }
    }
    properties.emplace_back(which, std::move(value));
}

std::u16string Contact::display_name() const
{
    if (auto file_as = property(ContactProperty::FileAs); file_as && !file_as->empty())
        return *file_as;
    std::u16string name = last_name;
    if (!last_name.empty())
        name += u" ";
    name += first_name;
    if (name.empty())
        return company;
    return name;
}

}
