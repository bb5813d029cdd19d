#include "SkinWriter.h"

#include "platform/Utf.h"

#include <algorithm>
#include <functional>
#include <set>

namespace velloq::skinc {

namespace {

constexpr uint32_t header_size = 92;
constexpr uint32_t name_limit = 0x10000;

class Bytes {
public:
    uint32_t size() const { return static_cast<uint32_t>(m_bytes.size()); }
    void u8(uint8_t value) { m_bytes.push_back(value); }
    void u16(uint16_t value)
    {
        u8(static_cast<uint8_t>(value));
        u8(static_cast<uint8_t>(value >> 8));
    }
    void i32(int32_t value)
    {
        auto bits = static_cast<uint32_t>(value);
        u16(static_cast<uint16_t>(bits));
        u16(static_cast<uint16_t>(bits >> 16));
    }
    void text(std::u16string const& value)
    {
        for (char16_t unit : value)
            u16(unit);
        u16(0);
    }
    void put_u16(uint32_t at, uint16_t value)
    {
        m_bytes[at] = static_cast<uint8_t>(value);
        m_bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    void put_i32(uint32_t at, int32_t value)
    {
        auto bits = static_cast<uint32_t>(value);
        put_u16(at, static_cast<uint16_t>(bits));
        put_u16(at + 2, static_cast<uint16_t>(bits >> 16));
    }
    std::vector<uint8_t> take() { return std::move(m_bytes); }

private:
    std::vector<uint8_t> m_bytes;
};

// Interns texts of one kind in first-seen order.
class Pool {
public:
    uint32_t index(std::u16string const& text)
    {
        auto found = std::find(m_texts.begin(), m_texts.end(), text);
        if (found != m_texts.end())
            return static_cast<uint32_t>(found - m_texts.begin());
        m_texts.push_back(text);
        return static_cast<uint32_t>(m_texts.size() - 1);
    }
    std::vector<std::u16string> const& texts() const { return m_texts; }

private:
    std::vector<std::u16string> m_texts;
};

class Writer {
public:
    explicit Writer(SkinSource const& source)
        : m_source(source)
    {
    }
    std::vector<uint8_t> write();

private:
    void collect(SectionSource const&);
    void write_names();
    void write_tree(std::vector<SectionSource const*> const& sorted, size_t begin, size_t end, uint32_t parent_link);
    uint32_t write_body(SectionSource const&);
    void write_records(SectionSource const&, uint32_t body, uint32_t toc);
    uint16_t name_offset(std::u16string const& name) const;
    std::string where(SectionSource const& section) const { return "section " + to_utf8(section.name); }

    SkinSource const& m_source;
    Bytes m_out;
    std::set<std::u16string> m_record_names;
    std::map<std::u16string, uint32_t> m_name_offsets;
    Pool m_fonts;
    Pool m_strings;
};

void Writer::collect(SectionSource const& section)
{
    auto add = [&](auto const& group) {
        for (auto const& [name, value] : group)
            m_record_names.insert(name);
    };
    add(section.integers);
    add(section.fonts);
    add(section.points);
    add(section.strings);
    add(section.pictures);
    add(section.colours);
    for (auto const& [name, font] : section.fonts)
        m_fonts.index(font);
    for (auto const& [name, text] : section.strings)
        m_strings.index(text);
    for (auto const& child : section.children)
        collect(child);
}

uint16_t Writer::name_offset(std::u16string const& name) const
{
    return static_cast<uint16_t>(m_name_offsets.at(name));
}

void Writer::write_names()
{
    for (auto const& section : m_source.sections)
        m_record_names.insert(section.name);
    for (auto const& name : m_record_names) {
        m_name_offsets[name] = m_out.size();
        m_out.text(name);
    }
    if (m_out.size() > name_limit)
        throw SourceError("the record names take " + std::to_string(m_out.size()) + " bytes; they must lie within the first 64 KiB");
}

std::vector<uint8_t> Writer::write()
{
    if (m_source.pictures.size() > 256)
        throw SourceError("a skin holds at most 256 pictures");
    for (auto const& section : m_source.sections)
        collect(section);
    for (uint16_t unit : { 0x0421, 0x043A, 0x0438, 0x043D })
        m_out.u16(unit);
    while (m_out.size() < header_size)
        m_out.u8(0);
    write_names();
    m_out.put_i32(76, static_cast<int32_t>(m_source.pictures.size()));
    m_out.put_i32(80, static_cast<int32_t>(m_fonts.texts().size()));
    m_out.put_i32(84, static_cast<int32_t>(m_out.size()));
    m_out.put_i32(88, static_cast<int32_t>(m_strings.texts().size()));
    for (auto const& picture : m_source.pictures)
        m_out.text(m_source.picture_folder.empty() ? picture : m_source.picture_folder + u"/" + picture);
    for (auto const* group : { &m_fonts.texts(), &m_strings.texts() })
        for (auto const& text : *group)
            m_out.text(text);
    std::vector<SectionSource const*> sorted;
    for (auto const& section : m_source.sections)
        sorted.push_back(&section);
    std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->name < b->name; });
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (sorted[i]->name == sorted[i - 1]->name)
            throw SourceError("two top-level sections are named " + to_utf8(sorted[i]->name));
    }
    m_out.put_i32(72, -1);
    write_tree(sorted, 0, sorted.size(), 72);
    return m_out.take();
}

// Writes the middle section as the root of [begin, end) and links it at `parent_link`, so the
// tree is balanced.
void Writer::write_tree(std::vector<SectionSource const*> const& sorted, size_t begin, size_t end, uint32_t parent_link)
{
    if (begin >= end)
        return;
    size_t middle = begin + (end - begin) / 2;
    uint32_t record = m_out.size();
    m_out.put_i32(parent_link, static_cast<int32_t>(record));
    m_out.i32(-1);
    m_out.i32(-1);
    m_out.i32(static_cast<int32_t>(m_name_offsets.at(sorted[middle]->name)));
    write_body(*sorted[middle]);
    write_tree(sorted, begin, middle, record);
    write_tree(sorted, middle + 1, end, record + 4);
}

uint32_t Writer::write_body(SectionSource const& section)
{
    uint32_t body = m_out.size();
    for (int i = 0; i < 8; ++i)
        m_out.u16(0);
    if (section.children.size() > 0xFFFF)
        throw SourceError(where(section) + ": too many children");
    m_out.put_u16(body + 14, static_cast<uint16_t>(section.children.size()));
    uint32_t child_table = m_out.size();
    for (size_t i = 0; i < section.children.size(); ++i)
        m_out.i32(0);
    write_records(section, body, body);
    if (m_out.size() - body > 0xFFFF)
        throw SourceError(where(section) + ": its records take more than 64 KiB");
    for (size_t i = 0; i < section.children.size(); ++i) {
        uint32_t child = write_body(section.children[i]);
        m_out.put_i32(child_table + static_cast<uint32_t>(i) * 4, static_cast<int32_t>(child));
    }
    return body;
}

void Writer::write_records(SectionSource const& section, uint32_t body, uint32_t toc)
{
    auto start = [&](int group) { m_out.put_u16(toc + static_cast<uint32_t>(group) * 2, static_cast<uint16_t>(m_out.size() - body)); };
    start(0);
    for (auto const& [name, value] : section.integers) {
        m_out.u16(name_offset(name));
        m_out.u16(0);
        m_out.i32(value);
    }
    start(1);
    for (auto const& [name, font] : section.fonts) {
        m_out.u16(name_offset(name));
        m_out.u16(0);
        m_out.i32(static_cast<int32_t>(m_fonts.index(font)));
    }
    start(2);
    for (auto const& [name, point] : section.points) {
        m_out.u16(name_offset(name));
        m_out.u16(0);
        m_out.u16(static_cast<uint16_t>(point.first));
        m_out.u16(static_cast<uint16_t>(point.second));
    }
    start(3);
    for (auto const& [name, text] : section.strings) {
        uint32_t index = m_strings.index(text);
        if (index > 0xFFFF)
            throw SourceError(where(section) + ": more than 65536 strings");
        m_out.u16(name_offset(name));
        m_out.u16(static_cast<uint16_t>(index));
    }
    start(4);
    for (auto const& [name, picture] : section.pictures) {
        auto found = std::find(m_source.pictures.begin(), m_source.pictures.end(), picture.picture);
        if (found == m_source.pictures.end())
            throw SourceError(where(section) + ": picture record " + to_utf8(name) + " names the unknown picture " + to_utf8(picture.picture));
        m_out.u16(name_offset(name));
        for (uint16_t point : picture.points)
            m_out.u16(point);
        m_out.u8(static_cast<uint8_t>(found - m_source.pictures.begin()));
        m_out.u8(picture.flag);
    }
    start(5);
    for (auto const& [name, colour] : section.colours) {
        m_out.u16(name_offset(name));
        m_out.u16(0);
        m_out.u8(colour.red);
        m_out.u8(colour.green);
        m_out.u8(colour.blue);
        m_out.u8(0);
    }
    start(6);
}

}

std::vector<uint8_t> write_skin(SkinSource const& source)
{
    return Writer(source).write();
}

}
