#include "skin/Properties.h"

#include "platform/FileSystem.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "skin/BitmapFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace velloq {

namespace {

// The largest skin file read: far beyond any skin, small enough to refuse a wrong file quickly.
constexpr std::streamoff largest_skin = 64 * 1024 * 1024;

void log_record_sizes()
{
    static constexpr std::pair<char16_t const*, int> sizes[] = {
        { u"sizeof(Node*4)=", 8 }, { u"sizeof(IntegerNode*4)=", 32 }, { u"sizeof(PointNode*4)=", 32 }, { u"sizeof(Node)=", 2 },
        { u"sizeof(IntegerNode)=", 8 }, { u"IntegerNode::Size=", 8 }, { u"sizeof(PointNode)=", 8 }, { u"PointNode::Size=", 8 },
        { u"sizeof(ColorNode)=", 8 }, { u"ColorNode::Size=", 8 }, { u"sizeof(StringNode)=", 4 }, { u"StringNode::Size=", 4 },
        { u"sizeof(PictureNode)=", 20 }, { u"PictureNode::Size=", 20 },
    };
    for (auto const& [name, size] : sizes)
        log() << name << size << u"\n";
}

std::vector<uint8_t> read_whole_file(std::u16string const& path, bool& complete, std::string& why)
{
    auto bytes = platform::read_regular_file(to_utf8(expand_path(path)), static_cast<size_t>(largest_skin), why);
    complete = bytes.has_value();
    return bytes ? std::move(*bytes) : std::vector<uint8_t>();
}

std::u16string folder_of(std::u16string const& path)
{
    size_t separator = path.find_last_of(u"\\/");
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator);
}

}

struct Properties::Contents {
    std::unique_ptr<SkinImage> image;
    bool valid { false };
    // Why a skin that is not valid failed, naming the file at fault.
    std::u16string error;
    std::vector<std::shared_ptr<Bitmap565>> pictures;
    std::vector<std::unique_ptr<FontRep>> fonts;
    std::vector<std::u16string> strings;
    int32_t shift { 0 };
    std::unique_ptr<FontRep> default_font;
};

Properties::Properties()
    : m_contents(std::make_unique<Contents>())
{
}

Properties::~Properties() = default;

bool Properties::is_valid() const
{
    return m_contents->valid;
}

FontRep* Properties::default_font() const
{
    return m_contents->default_font.get();
}

int32_t Properties::shift() const
{
    return m_contents->shift;
}

bool Properties::load_skin(std::u16string const& path, ScreenInfo const& screen)
{
    log() << u"Properties::load_skin 1\n";
    log_record_sizes();
    bool complete = false;
    std::string why;
    auto bytes = read_whole_file(path, complete, why);
    if (!complete) {
        log() << u"Error: skin [" << path << u"] failed to load\n";
        m_error = expand_path(path) + u": " + to_utf16(why);
        return false;
    }
    m_error = expand_path(path) + u": not a skin the program can read";
    return take(build(std::move(bytes), complete, folder_of(path), screen), path);
}

bool Properties::load_skin_image(std::vector<uint8_t> bytes, std::u16string const& folder, ScreenInfo const& screen)
{
    log() << u"Properties::load_skin 1\n";
    log_record_sizes();
    return take(build(std::move(bytes), true, folder, screen), folder);
}

bool Properties::take(std::unique_ptr<Contents> fresh, std::u16string const& path)
{
    log() << u"Properties::load_skin 2\n";
    if (!fresh->valid) {
        if (!fresh->error.empty())
            m_error = fresh->error;
        return false;
    }
    m_error.clear();
    log() << u"Properties::load_skin 3\n";
    std::swap(m_contents, fresh);
    m_path = path;
    return true;
}

std::unique_ptr<Properties::Contents> Properties::build(std::vector<uint8_t> bytes, bool complete, std::u16string const& folder, ScreenInfo const& screen) const
{
    auto fresh = std::make_unique<Contents>();
    fresh->image = std::make_unique<SkinImage>(std::move(bytes));
    if (!complete || !fresh->image->has_valid_header())
        return fresh;
    fresh->shift = screen.dpi >= 192 ? 1 : 0;
    auto names = fresh->image->name_pool();
    if (!names) {
        log() << u"Error: skin in [" << folder << u"] has a name pool outside the file\n";
        return fresh;
    }
    auto name = names->begin();
    for (int32_t i = 0; i < fresh->image->picture_count(); ++i, ++name) {
        uint32_t started = platform::tick_count();
        auto picture = load_565(folder.empty() ? *name : folder + u"\\" + *name);
        if (!picture || (picture->width() == 0 && picture->height() == 0)) {
            log() << u"PropertiesImpl::PropertiesImpl picture failed to load {" << *name << u"}\n";
            fresh->error = expand_path((folder.empty() ? *name : folder + u"/" + *name) + u".bmp") + u": the picture failed to load";
            return fresh;
        }
        fresh->pictures.push_back(std::move(picture));
        log() << u"PropertiesImpl::PropertiesImpl picture load time=" << (platform::tick_count() - started) << u" {" << *name << u"}\n";
    }
    uint32_t started = platform::tick_count();
    for (int32_t i = 0; i < fresh->image->font_count(); ++i, ++name)
        fresh->fonts.push_back(std::make_unique<FontRep>(parse_font_description(*name, 1 << fresh->shift), screen.dpi));
    fresh->strings.assign(name, names->end());
    fresh->default_font = std::make_unique<FontRep>(FontDescription { 10, 1 << fresh->shift, false, false, false, u"Tahoma" }, screen.dpi);
    log() << u"PropertiesImpl::PropertiesImpl fonts create time=" << (platform::tick_count() - started) << u"\n";
    fresh->valid = true;
    return fresh;
}

std::optional<Section> Properties::section(std::u16string_view name) const
{
    if (!m_contents->valid)
        return std::nullopt;
    return m_contents->image->section(name);
}

std::optional<Section> Properties::child(Section const& parent, uint16_t index) const
{
    return m_contents->image->child(parent, index);
}

bool Properties::has_records(Section const& section, RecordGroup group) const
{
    return section.record_count(group) > 0;
}

std::optional<uint32_t> Properties::record(Section const& section, RecordGroup group, std::u16string_view name) const
{
    if (!m_contents->valid)
        return std::nullopt;
    return m_contents->image->find_record(section, group, name);
}

int32_t Properties::get_int(Section const& section, std::u16string_view name, int32_t fallback) const
{
    auto found = record(section, RecordGroup::Integer, name);
    return found ? m_contents->image->i32(*found + 4).value_or(fallback) : fallback;
}

FontRep* Properties::get_font(Section const& section, std::u16string_view name, FontRep* fallback) const
{
    auto found = record(section, RecordGroup::Font, name);
    auto index = found ? m_contents->image->i32(*found + 4) : std::nullopt;
    if (!index || *index < 0 || static_cast<size_t>(*index) >= m_contents->fonts.size())
        return fallback;
    return m_contents->fonts[static_cast<size_t>(*index)].get();
}

Point Properties::get_point(Section const& section, std::u16string_view name, Point fallback) const
{
    auto found = record(section, RecordGroup::Point, name);
    if (!found)
        return fallback;
    auto x = m_contents->image->i16(*found + 4);
    auto y = m_contents->image->i16(*found + 6);
    if (!x || !y)
        return fallback;
    return { int32_t(*x) * (1 << m_contents->shift), int32_t(*y) * (1 << m_contents->shift) };
}

std::u16string Properties::get_string(Section const& section, std::u16string_view name, std::u16string const& fallback) const
{
    auto found = record(section, RecordGroup::String, name);
    auto index = found ? m_contents->image->u16(*found + 2) : std::nullopt;
    if (!index || *index >= m_contents->strings.size())
        return fallback;
    return m_contents->strings[*index];
}

PictureRef Properties::get_picture(Section const& section, std::u16string_view name, PictureRef const& fallback) const
{
    auto found = record(section, RecordGroup::Picture, name);
    if (!found)
        return fallback;
    auto index = m_contents->image->u8(*found + 18);
    auto flag = m_contents->image->u8(*found + 19);
    if (!index || !flag || *index >= m_contents->pictures.size())
        return fallback;
    int32_t values[8];
    for (uint32_t i = 0; i < 8; ++i)
        values[i] = int32_t(*m_contents->image->u16(*found + 2 + i * 2)) << m_contents->shift;
    PictureRef picture;
    picture.picture = m_contents->pictures[*index];
    picture.a = { values[0], values[1] };
    picture.b = { values[2], values[3] };
    picture.c = { values[4], values[5] };
    picture.d = { values[6], values[7] };
    picture.flag = *flag;
    picture.shift = m_contents->shift;
    return picture;
}

Colour Properties::get_colour(Section const& section, std::u16string_view name, Colour fallback) const
{
    auto found = record(section, RecordGroup::Colour, name);
    if (!found)
        return fallback;
    return { *m_contents->image->u8(*found + 4), *m_contents->image->u8(*found + 5), *m_contents->image->u8(*found + 6), 255 };
}

void Properties::add_reload_listener(ReloadListener* listener)
{
    m_listeners.push_back(listener);
}

void Properties::remove_reload_listener(ReloadListener* listener)
{
    std::erase(m_listeners, listener);
}

void Properties::send_reload_skin()
{
    uint32_t started = platform::tick_count();
    for (auto* listener : std::vector<ReloadListener*>(m_listeners))
        listener->on_skin_reloaded();
    log() << u"PropertiesImpl::send_reload_skin the rest time=" << (platform::tick_count() - started) << u"\n";
}

}
