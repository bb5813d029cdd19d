#include "forms/PictureThumbnails.h"

#include "platform/FileSystem.h"
#include "platform/PictureThumbnail.h"
#include "platform/Utf.h"
#include "shell/Log.h"

namespace velloq {

namespace {

constexpr uint16_t see_through = 0xF81F;

}

std::shared_ptr<Bitmap565> bitmap_of_picture(uint8_t const* rgb, int32_t width, int32_t height)
{
    std::shared_ptr<Bitmap565> bitmap = Bitmap565::create(width, height);
    if (!bitmap)
        return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        uint16_t* row = bitmap->row(y);
        uint8_t const* source = rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
        for (int32_t x = 0; x < width; ++x) {
            uint16_t colour = Bitmap565::rgb(source[x * 3], source[x * 3 + 1], source[x * 3 + 2]);
            row[x] = colour == see_through ? see_through - 1 : colour;
        }
    }
    return bitmap;
}

PictureThumbnails::PictureThumbnails(std::function<void()> made)
    : m_made(std::move(made))
    , m_worker([this](platform::Worker& worker) { run(worker); })
{
}

PictureThumbnails::~PictureThumbnails() = default;

PictureThumbnails::Lookup PictureThumbnails::find(MessagePart const& part, int32_t width, int32_t height)
{
    Key key { part.file, part.offset, part.length, width, height };
    std::lock_guard lock(m_mutex);
    auto found = m_entries.find(key);
    if (found != m_entries.end()) {
        m_uses.splice(m_uses.begin(), m_uses, found->second.use);
        return { found->second.state, found->second.thumbnail };
    }
    m_uses.push_front(key);
    m_entries.emplace(key, Entry { State::Waiting, nullptr, m_uses.begin() });
    m_queue.push_front(key);
    m_worker.wake();
    return {};
}

bool PictureThumbnails::take_news()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_news, false);
}

void PictureThumbnails::run(platform::Worker& worker)
{
    while (worker.wait()) {
        while (!worker.stop_requested()) {
            Key key;
            {
                std::lock_guard lock(m_mutex);
                if (m_queue.empty())
                    break;
                key = m_queue.front();
                m_queue.pop_front();
            }
            make(key);
        }
    }
}

void PictureThumbnails::make(Key const& key)
{
    auto const& [file, offset, length, width, height] = key;
    std::string why;
    auto bytes = platform::read_file_range(file, offset, length, largest_picture_bytes, why);
    std::optional<platform::RgbPicture> picture;
    if (bytes)
        picture = platform::decode_thumbnail(std::string_view(reinterpret_cast<char const*>(bytes->data()), bytes->size()), width, height, why);
    std::shared_ptr<Bitmap565> thumbnail = picture ? bitmap_of_picture(picture->rgb.data(), picture->width, picture->height) : nullptr;
    if (!thumbnail)
        log() << u"picture: " << to_utf16(file) << u" is not shown: " << to_utf16(why) << u"\n";
    State state = thumbnail ? State::Made : State::Failed;
    keep(key, state, std::move(thumbnail));
    if (m_made)
        m_made();
}

void PictureThumbnails::keep(Key const& key, State state, std::shared_ptr<Bitmap565> thumbnail)
{
    std::lock_guard lock(m_mutex);
    m_news = true;
    auto found = m_entries.find(key);
    // Evicted while it was made: nobody looked at it since.
    if (found == m_entries.end())
        return;
    if (thumbnail)
        m_kept_pixels += static_cast<size_t>(thumbnail->width()) * static_cast<size_t>(thumbnail->height());
    found->second.state = state;
    found->second.thumbnail = std::move(thumbnail);
    evict();
}

// The least recently shown go until the rest fit; those still waiting to be made stay.
void PictureThumbnails::evict()
{
    for (auto use = m_uses.end(); m_kept_pixels > most_kept_pixels && use != m_uses.begin();) {
        --use;
        auto found = m_entries.find(*use);
        if (found == m_entries.end() || found->second.state == State::Waiting)
            continue;
        if (found->second.thumbnail)
            m_kept_pixels -= static_cast<size_t>(found->second.thumbnail->width()) * static_cast<size_t>(found->second.thumbnail->height());
        m_entries.erase(found);
        use = m_uses.erase(use);
    }
}

}
