#pragma once

#include <cstdint>
#include <memory>
#include <utility>

namespace velloq {

// A picture of 16-bit 5-6-5 pixels (red in the top five bits, green in the middle six, blue in
// the low five), rows top to bottom. A picture made by the program owns its pixels and pads its
// rows to four bytes; a view describes memory that belongs to someone else.
class Bitmap565 {
public:
    static std::unique_ptr<Bitmap565> create(int32_t width, int32_t height);
    static Bitmap565 view(uint16_t* pixels, int32_t width, int32_t height, int32_t pitch);
    static int32_t pitch_for(int32_t width) { return (width * 2 + 3) & ~3; }

    ~Bitmap565();
    Bitmap565(Bitmap565&&) noexcept;
    Bitmap565& operator=(Bitmap565&&) noexcept;
    Bitmap565(Bitmap565 const&) = delete;
    Bitmap565& operator=(Bitmap565 const&) = delete;

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    int32_t pitch() const { return m_pitch; }
    bool owns_pixels() const { return m_owned != nullptr; }

    uint16_t* row(int32_t y) { return reinterpret_cast<uint16_t*>(reinterpret_cast<unsigned char*>(m_pixels) + static_cast<ptrdiff_t>(y) * m_pitch); }
    uint16_t const* row(int32_t y) const { return reinterpret_cast<uint16_t const*>(reinterpret_cast<unsigned char const*>(m_pixels) + static_cast<ptrdiff_t>(y) * m_pitch); }
    uint16_t* pixels() { return m_pixels; }
    uint16_t const* pixels() const { return m_pixels; }

    void fill(uint16_t colour);
    // Copies the other picture's pixels in at (x, y), clipped to this picture.
    void copy_from(Bitmap565 const& source, int32_t x, int32_t y);

    static constexpr uint16_t rgb(uint8_t red, uint8_t green, uint8_t blue)
    {
        return static_cast<uint16_t>((red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3));
    }

private:
    Bitmap565() = default;
    int32_t m_width { 0 };
    int32_t m_height { 0 };
    int32_t m_pitch { 0 };
    uint16_t* m_pixels { nullptr };
    std::unique_ptr<unsigned char[]> m_owned;
};

}
