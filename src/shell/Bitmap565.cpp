#include "shell/Bitmap565.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace velloq {

std::unique_ptr<Bitmap565> Bitmap565::create(int32_t width, int32_t height)
{
    if (width < 0 || height < 0)
        return nullptr;
    std::unique_ptr<Bitmap565> bitmap(new (std::nothrow) Bitmap565);
    if (!bitmap)
        return nullptr;
    bitmap->m_width = width;
    bitmap->m_height = height;
    bitmap->m_pitch = pitch_for(width);
    size_t bytes = static_cast<size_t>(bitmap->m_pitch) * static_cast<size_t>(height);
    bitmap->m_owned.reset(new (std::nothrow) unsigned char[bytes == 0 ? 1 : bytes]());
    if (!bitmap->m_owned)
        return nullptr;
    bitmap->m_pixels = reinterpret_cast<uint16_t*>(bitmap->m_owned.get());
    return bitmap;
}

Bitmap565 Bitmap565::view(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch)
{
    Bitmap565 bitmap;
    bitmap.m_width = width;
    bitmap.m_height = height;
    bitmap.m_pitch = pitch;
    bitmap.m_pixels = pixels;
    return bitmap;
}

Bitmap565::~Bitmap565() = default;

Bitmap565::Bitmap565(Bitmap565&& other) noexcept
    : m_width(std::exchange(other.m_width, 0))
    , m_height(std::exchange(other.m_height, 0))
    , m_pitch(std::exchange(other.m_pitch, 0))
    , m_pixels(std::exchange(other.m_pixels, nullptr))
    , m_owned(std::move(other.m_owned))
{
}

Bitmap565& Bitmap565::operator=(Bitmap565&& other) noexcept
{
    m_width = std::exchange(other.m_width, 0);
    m_height = std::exchange(other.m_height, 0);
    m_pitch = std::exchange(other.m_pitch, 0);
    m_pixels = std::exchange(other.m_pixels, nullptr);
    m_owned = std::move(other.m_owned);
    return *this;
}

void Bitmap565::fill(uint16_t colour)
{
    for (int32_t y = 0; y < m_height; ++y)
        std::fill_n(row(y), m_width, colour);
}

void Bitmap565::copy_from(Bitmap565 const& source, int32_t x, int32_t y)
{
    int32_t left = std::max(0, x);
    int32_t top = std::max(0, y);
    int32_t right = std::min(m_width, x + source.width());
    int32_t bottom = std::min(m_height, y + source.height());
    if (right <= left || bottom <= top)
        return;
    size_t bytes = static_cast<size_t>(right - left) * sizeof(uint16_t);
    for (int32_t row_y = top; row_y < bottom; ++row_y)
        std::memcpy(row(row_y) + left, source.row(row_y - y) + (left - x), bytes);
}

}
