#pragma once

#include "shell/Bitmap565.h"

#include <memory>
#include <string>
#include <string_view>

namespace velloq {

class Element;

// The initials an avatar shows for a name: the first letters of its first and last words, upper
// case; empty for no name or a bare number (which shows a person instead).
std::u16string avatar_initials(std::u16string_view name);

// Shows an item's avatar for a correspondent: its initials (element "initials") or a person
// ("person"), on the colour of the chat (one of the images "avatar_0" ... "avatar_7" the skin
// has, picked by the key, so a chat keeps its colour). Skins without these keep their plain avatar.
// A contact's photo, where there is one and the skin has an image "photo", is shown instead.
void show_avatar(Element& item, std::u16string_view name, std::u16string_view key, std::shared_ptr<Bitmap565> photo = nullptr);

// The side in pixels of the item's "photo", the size a photo is made for; 0 when it has none.
int photo_side(Element& item);

}
