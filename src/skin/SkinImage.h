#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloq {

// The record groups of a section body, in file order.
enum class RecordGroup {
    Integer = 0,
    Font = 1,
    Point = 2,
    String = 3,
    Picture = 4,
    Colour = 5,
};

// The sizes of the records of each group, in bytes.
constexpr uint32_t record_size(RecordGroup group)
{
    switch (group) {
    case RecordGroup::String:
        return 4;
    case RecordGroup::Picture:
        return 20;
    default:
        return 8;
    }
}

// A section body whose table of contents was checked against the file.
struct Section {
    uint32_t body { 0 };
    uint16_t starts[7] {};
    uint16_t child_count { 0 };

    uint32_t record_count(RecordGroup group) const
    {
        auto index = static_cast<size_t>(group);
        return (starts[index + 1] - starts[index]) / record_size(group);
    }
};

// The image of a skin file, read in place. Every offset and count the file holds is checked
// against its size before it is used: a bad record reads as missing, and nothing is ever read
// outside the image.
class SkinImage {
public:
    static constexpr uint32_t header_size = 92;
    static constexpr uint16_t magic[4] = { 0x0421, 0x043A, 0x0438, 0x043D };

    explicit SkinImage(std::vector<uint8_t> bytes);

    bool has_valid_header() const;
    uint32_t size() const { return static_cast<uint32_t>(m_bytes.size()); }

    int32_t picture_count() const { return m_picture_count; }
    int32_t font_count() const { return m_font_count; }
    int32_t string_count() const { return m_string_count; }
    // The texts of the name pool: pictures, then fonts, then strings; nullopt when the pool
    // leaves the file.
    std::optional<std::vector<std::u16string>> name_pool() const;

    std::optional<Section> section(std::u16string_view name) const;
    std::optional<Section> section_at(uint32_t body) const;
    std::optional<Section> child(Section const&, uint16_t index) const;
    // The offset of the record with this name in the group, if there is one.
    std::optional<uint32_t> find_record(Section const&, RecordGroup, std::u16string_view name) const;

    std::optional<uint16_t> u16(uint32_t offset) const;
    std::optional<int16_t> i16(uint32_t offset) const;
    std::optional<int32_t> i32(uint32_t offset) const;
    std::optional<uint8_t> u8(uint32_t offset) const;
    // The zero-terminated UTF-16 text at the offset; nullopt when it runs out of the file.
    std::optional<std::u16string_view> text(uint32_t offset) const;

private:
    std::vector<uint8_t> m_bytes;
    std::vector<char16_t> m_units; // the file as code units, for texts at even offsets
    int32_t m_picture_count { 0 };
    int32_t m_font_count { 0 };
    int32_t m_string_count { 0 };
};

}
