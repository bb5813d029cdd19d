#include "forms/Avatar.h"

#include "messaging/TextAnalysis.h"
#include "platform/TextBoundaries.h"
#include "platform/Utf.h"
#include "skin/BasicElements.h"
#include "skin/TextElement.h"

#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace velloq {

namespace {

constexpr int avatar_colours = 8;

// The first character of each word as the reader sees it (a letter with its marks, an Indic
// syllable part, surrogate pairs kept whole); words start after blanks and punctuation that is
// not part of a name. Marks (a virama, a vowel sign) continue the word they are in.
std::vector<std::u16string> word_initials(std::u16string_view name)
{
    std::vector<std::u16string> initials;
    bool in_word = false;
    for (size_t at = 0; at < name.size();) {
        size_t start = at;
        UChar32 character;
        U16_NEXT(name.data(), at, name.size(), character);
        bool letter = u_isalnum(character);
        bool mark = (U_GET_GC_MASK(character) & U_GC_M_MASK) != 0;
        if (letter && !in_word)
            initials.emplace_back(name.substr(start, platform::next_grapheme(name, start) - start));
        in_word = letter || (in_word && (mark || character == u'\'' || character == u'-'));
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

int photo_side(Element& item)
{
    // An item being built is not laid out yet: its fixed design size (in pixels) is the size.
    Element* photo = item.find_by_id(u"photo");
    if (!photo)
        return 0;
    Point size = photo->size().x > 0 && photo->size().y > 0 ? photo->size() : photo->design_size();
    return std::min(size.x, size.y);
}

void show_avatar(Element& item, std::u16string_view name, std::u16string_view key, std::shared_ptr<Bitmap565> photo)
{
    auto* photo_image = dynamic_cast<ImageElement*>(item.find_by_id(u"photo"));
    bool with_photo = photo && photo_image;
    if (photo_image) {
        int32_t width = with_photo ? photo->width() : 0;
        int32_t height = with_photo ? photo->height() : 0;
        photo_image->set_picture(with_photo ? PictureRef { std::move(photo), { 0, 0 }, { 0, 0 }, { width, height }, { width, height } } : PictureRef {});
        photo_image->set_visible(with_photo);
    }
    std::u16string initials = with_photo ? std::u16string() : avatar_initials(name);
    if (auto* text = dynamic_cast<TextElement*>(item.find_by_id(u"initials"))) {
        text->set_text(initials);
        text->set_visible(!initials.empty());
    }
    if (Element* person = item.find_by_id(u"person"))
        person->set_visible(initials.empty() && !with_photo);
    int chosen = with_photo ? -1 : colour_of(key);
    for (int index = 0; index < avatar_colours; ++index) {
        if (Element* avatar = item.find_by_id(u"avatar_" + to_u16_decimal(index)))
            avatar->set_visible(index == chosen);
    }
}

}
