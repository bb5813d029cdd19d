#pragma once

#include "messaging/MessagePart.h"
#include "platform/Worker.h"
#include "shell/Bitmap565.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

namespace velloq {

// The thumbnails of the pictures in a chat's bubbles, made on a thread of their own from the MMS
// service's files (never on the frame's time: a phone photo takes tens of milliseconds), newest
// request first, as the user scrolls to them. They are kept in memory up to a bound, the least
// recently shown going first; the pictures themselves are never copied.
class PictureThumbnails {
public:
    // `made` runs on the thumbnails' thread when one is ready (the caller wakes its loop).
    explicit PictureThumbnails(std::function<void()> made);
    ~PictureThumbnails();
    PictureThumbnails(PictureThumbnails const&) = delete;
    PictureThumbnails& operator=(PictureThumbnails const&) = delete;

    enum class State { Waiting, Made, Failed };
    struct Lookup {
        State state { State::Waiting };
        std::shared_ptr<Bitmap565> thumbnail;
    };
    // The thumbnail of `part` fitting `width` × `height`; asked for when not there yet.
    Lookup find(MessagePart const& part, int32_t width, int32_t height);
    // Whether thumbnails were made (or failed) since the last call.
    bool take_news();

    // The most pixels kept at once (2 bytes each).
    static constexpr size_t most_kept_pixels = 24u * 1024u * 1024u;
    // The largest picture file part read at all.
    static constexpr uint64_t largest_picture_bytes = 64u * 1024u * 1024u;

private:
    using Key = std::tuple<std::string, uint64_t, uint64_t, int32_t, int32_t>;
    struct Entry {
        State state { State::Waiting };
        std::shared_ptr<Bitmap565> thumbnail;
        std::list<Key>::iterator use;
    };
    void run(platform::Worker&);
    void make(Key const& key);
    void keep(Key const& key, State state, std::shared_ptr<Bitmap565> thumbnail);
    void evict();

    std::function<void()> m_made;
    std::mutex m_mutex;
    std::map<Key, Entry> m_entries;
    // Most recently shown first.
    std::list<Key> m_uses;
    std::deque<Key> m_queue;
    size_t m_kept_pixels { 0 };
    bool m_news { false };
    // Declared last: it stops and joins before the rest goes.
    platform::Worker m_worker;
};

// A decoded picture in the skin's 5-6-5 pixels; the skin's see-through colour is moved off by one
// so no photo pixel turns transparent.
std::shared_ptr<Bitmap565> bitmap_of_picture(uint8_t const* rgb, int32_t width, int32_t height);

}
