#include "forms/Avatar.h"

#include "messaging/TextAnalysis.h"
#include "platform/Utf.h"
#include "skin/TextElement.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cstdint>
#include <vector>

namespace velloq {

namespace {

constexpr int avatar_colours = 8;

// The first letter of each word (surrogate pairs kept whole); words start after blanks and
// punctuation that is not part of a name.
std::vector<std::u16string> word_initials(std::u16string_view name)
{
    std::vector<std::u16string> initials;
    bool in_word = false;
    for (size_t at = 0; at < name.size();) {
        size_t start = at;
        UChar32 character;
        U16_NEXT(name.data(), at, name.size(), character);
        bool letter = u_isalnum(character);
        if (letter && !in_word)
            initials.emplace_back(name.substr(start, at - start));
        in_word = letter || (in_word && (character == u'\'' || character == u'-'));
    }
    return initials;
}

// A stable colour for a key: FNV-1a over its units, the same on every start.
int colour_of(std::u16string_view key)
{
    uint32_t hash = 2166136261u;
    for (char16_t unit : key) {
        hash ^= unit;
        hash *= 16777619u;
    }
    return static_cast<int>(hash % avatar_colours);
}

}

std::u16string avatar_initials(std::u16string_view name)
{
    if (name.empty() || is_phone_number(name))
        return {};
    auto initials = word_initials(name);
    if (initials.empty())
        return {};
    std::u16string text = initials.front();
    if (initials.size() > 1)
        text += initials.back();
    return upper_case(text);
}

void show_avatar(Element& item, std::u16string_view name, std::u16string_view key)
{
    std::u16string initials = avatar_initials(name);
    if (auto* text = dynamic_cast<TextElement*>(item.find_by_id(u"initials"))) {
        text->set_text(initials);
        text->set_visible(!initials.empty());
    }
    if (Element* person = item.find_by_id(u"person"))
        person->set_visible(initials.empty());
    int chosen = colour_of(key);
    for (int index = 0; index < avatar_colours; ++index) {
        if (Element* avatar = item.find_by_id(u"avatar_" + to_u16_decimal(index)))
            avatar->set_visible(index == chosen);
    }
}

}
