#pragma once

#include "shell/Bitmap565.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace velloq {

class ChatModel;

// Contacts' photos as avatars: decoded once, cut to a circle of the avatar's size (outside it the
// skin's see-through colour) and kept, in memory and as pictures in a folder of the device, so a
// later start draws them without decoding. A photo that cannot be shown leaves the initials.
class AvatarPhotos {
public:
    // `folder` holds the made avatars (the device folder's avatars/).
    explicit AvatarPhotos(std::string folder);

    // The avatar of the contact `oid` at `side` pixels, or null.
    std::shared_ptr<Bitmap565> avatar_of(ChatModel&, int32_t oid, int side);
    // The avatar of the photo with this digest; `read_photo` gives its data ("base64:…" or a
    // "file:///…" URI) when none was made yet.
    std::shared_ptr<Bitmap565> avatar(std::string const& digest, int side, std::function<std::string()> const& read_photo);

private:
    std::shared_ptr<Bitmap565> make(std::string const& digest, int side, std::string const& photo);
    std::string file_of(std::string const& digest, int side) const;

    std::string m_folder;
    std::map<std::pair<std::string, int>, std::shared_ptr<Bitmap565>> m_made;
    // Photos that could not be shown are not tried again on every frame.
    std::set<std::string> m_failed;
};

}
