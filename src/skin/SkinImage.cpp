#include "skin/SkinImage.h"

#include <cstring>

namespace velloq {

namespace {

constexpr uint32_t tree_record_header = 12;
constexpr uint32_t body_header = 16;
constexpr uint32_t none = 0xFFFFFFFF;

}

SkinImage::SkinImage(std::vector<uint8_t> bytes)
    : m_bytes(std::move(bytes))
{
    m_units.resize(m_bytes.size() / 2);
    for (size_t i = 0; i < m_units.size(); ++i)
        m_units[i] = static_cast<char16_t>(m_bytes[i * 2] | m_bytes[i * 2 + 1] << 8);
    if (m_bytes.size() >= header_size) {
        m_picture_count = *i32(76);
        m_font_count = *i32(80);
        m_string_count = *i32(88);
    }
}

bool SkinImage::has_valid_header() const
{
    if (m_bytes.size() < header_size)
        return false;
    for (uint32_t i = 0; i < 4; ++i) {
        if (m_units[i] != magic[i])
            return false;
    }
    return true;
}

std::optional<uint16_t> SkinImage::u16(uint32_t offset) const
{
    if (offset > m_bytes.size() || m_bytes.size() - offset < 2)
        return std::nullopt;
    return static_cast<uint16_t>(m_bytes[offset] | m_bytes[offset + 1] << 8);
}

std::optional<int16_t> SkinImage::i16(uint32_t offset) const
{
    auto value = u16(offset);
    return value ? std::optional<int16_t>(static_cast<int16_t>(*value)) : std::nullopt;
}

std::optional<int32_t> SkinImage::i32(uint32_t offset) const
{
    if (offset > m_bytes.size() || m_bytes.size() - offset < 4)
        return std::nullopt;
    uint32_t value = uint32_t(m_bytes[offset]) | uint32_t(m_bytes[offset + 1]) << 8 | uint32_t(m_bytes[offset + 2]) << 16 | uint32_t(m_bytes[offset + 3]) << 24;
    return static_cast<int32_t>(value);
}

std::optional<uint8_t> SkinImage::u8(uint32_t offset) const
{
    if (offset >= m_bytes.size())
        return std::nullopt;
    return m_bytes[offset];
}

std::optional<std::u16string_view> SkinImage::text(uint32_t offset) const
{
    if (offset % 2 != 0 || offset / 2 >= m_units.size())
        return std::nullopt;
    size_t start = offset / 2;
    for (size_t end = start; end < m_units.size(); ++end) {
        if (m_units[end] == 0)
            return std::u16string_view(m_units.data() + start, end - start);
    }
    return std::nullopt;
}

std::optional<std::vector<std::u16string>> SkinImage::name_pool() const
{
    int64_t total = int64_t(m_picture_count) + m_font_count + m_string_count;
    if (m_picture_count < 0 || m_font_count < 0 || m_string_count < 0 || total > int64_t(m_units.size()))
        return std::nullopt;
    auto offset = i32(84);
    if (!offset)
        return std::nullopt;
    std::vector<std::u16string> names;
    names.reserve(static_cast<size_t>(total));
    uint32_t at = static_cast<uint32_t>(*offset);
    for (int64_t i = 0; i < total; ++i) {
        auto name = text(at);
        if (!name)
            return std::nullopt;
        names.emplace_back(*name);
        at += static_cast<uint32_t>(name->size() + 1) * 2;
    }
    return names;
}

std::optional<Section> SkinImage::section_at(uint32_t body) const
{
    if (body > m_bytes.size() || m_bytes.size() - body < body_header)
        return std::nullopt;
    Section section;
    section.body = body;
    for (uint32_t i = 0; i < 7; ++i) {
        section.starts[i] = *u16(body + i * 2);
        if (i > 0 && section.starts[i] < section.starts[i - 1])
            return std::nullopt;
        if (uint64_t(body) + section.starts[i] > m_bytes.size())
            return std::nullopt;
    }
    section.child_count = *u16(body + 14);
    if (uint64_t(body) + body_header + uint64_t(section.child_count) * 4 > m_bytes.size())
        return std::nullopt;
    return section;
}

std::optional<Section> SkinImage::child(Section const& parent, uint16_t index) const
{
    if (index >= parent.child_count)
        return std::nullopt;
    auto offset = i32(parent.body + body_header + uint32_t(index) * 4);
    if (!offset || *offset < 0)
        return std::nullopt;
    return section_at(static_cast<uint32_t>(*offset));
}

std::optional<Section> SkinImage::section(std::u16string_view name) const
{
    if (!has_valid_header())
        return std::nullopt;
    auto root = i32(72);
    uint32_t record = root ? static_cast<uint32_t>(*root) : none;
    // A well-formed tree is walked in at most as many steps as it has records; a looping one
    // stops there.
    for (uint32_t steps = 0; record != none && steps <= size() / tree_record_header; ++steps) {
        auto left = i32(record);
        auto right = i32(record + 4);
        auto name_offset = i32(record + 8);
        if (!left || !right || !name_offset)
            return std::nullopt;
        auto record_name = text(static_cast<uint32_t>(*name_offset));
        if (!record_name)
            return std::nullopt;
        int order = name.compare(*record_name);
        if (order == 0)
            return section_at(record + tree_record_header);
        record = static_cast<uint32_t>(order < 0 ? *left : *right);
    }
    return std::nullopt;
}

std::optional<uint32_t> SkinImage::find_record(Section const& section, RecordGroup group, std::u16string_view name) const
{
    uint32_t size = record_size(group);
    uint32_t first = section.body + section.starts[static_cast<size_t>(group)];
    uint32_t low = 0;
    uint32_t high = section.record_count(group);
    while (low < high) {
        uint32_t middle = (low + high) / 2;
        uint32_t record = first + middle * size;
        auto name_offset = u16(record);
        auto record_name = name_offset ? text(*name_offset) : std::nullopt;
        if (!record_name)
            return std::nullopt;
        int order = name.compare(*record_name);
        if (order == 0)
            return record;
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return std::nullopt;
}

}
