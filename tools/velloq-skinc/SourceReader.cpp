#include "SourceReader.h"

#include "PictureMaker.h"
#include "platform/Utf.h"
#include "skin/ElementTypeNames.h"

#include <limits>

namespace velloq::skinc {

namespace {

using nlohmann::json;

std::u16string wide(std::string const& text)
{
    return to_utf16(text);
}

std::pair<int16_t, int16_t> point_of(json const& value, std::string const& where)
{
    if (!value.is_array() || value.size() != 2 || !value[0].is_number_integer() || !value[1].is_number_integer())
        throw SourceError(where + ": a point is [x, y] with two integers");
    auto x = value[0].get<int64_t>(), y = value[1].get<int64_t>();
    if (x < std::numeric_limits<int16_t>::min() || x > std::numeric_limits<int16_t>::max() || y < std::numeric_limits<int16_t>::min()
        || y > std::numeric_limits<int16_t>::max())
        throw SourceError(where + ": a point's numbers must fit in 16 bits");
    return { static_cast<int16_t>(x), static_cast<int16_t>(y) };
}

PictureRecord picture_of(json const& value, std::string const& where)
{
    PictureRecord record;
    record.picture = wide(value.at("picture").get<std::string>());
    char const* names[4] = { "a", "b", "c", "d" };
    for (int i = 0; i < 4; ++i) {
        auto point = point_of(value.value(names[i], json::array({ 0, 0 })), where + " point " + names[i]);
        if (point.first < 0 || point.second < 0)
            throw SourceError(where + ": picture points are not negative");
        record.points[i * 2] = static_cast<uint16_t>(point.first);
        record.points[i * 2 + 1] = static_cast<uint16_t>(point.second);
    }
    int64_t flag = value.value("flag", 0);
    if (flag < 0 || flag > 255)
        throw SourceError(where + ": a picture's flag is 0 to 255");
    record.flag = static_cast<uint8_t>(flag);
    return record;
}

void read_record_value(SectionSource& section, std::u16string const& name, json const& value, std::string const& here);

// Every error names the file, the section path and the record.
void read_record(SectionSource& section, std::string const& key, json const& value, std::string const& where)
{
    std::string here = where + " record " + key;
    try {
        read_record_value(section, wide(key), value, here);
    } catch (SourceError const& error) {
        std::string what = error.what();
        throw SourceError(what.rfind(here, 0) == 0 ? what : here + ": " + what);
    } catch (json::exception const& error) {
        throw SourceError(here + ": " + error.what());
    }
}

void read_record_value(SectionSource& section, std::u16string const& name, json const& value, std::string const& here)
{
    if (value.is_number_integer()) {
        int64_t number = value.get<int64_t>();
        if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
            throw SourceError(here + ": an integer must fit in 32 bits");
        section.integers[name] = static_cast<int32_t>(number);
    } else if (value.is_string()) {
        section.strings[name] = wide(value.get<std::string>());
    } else if (value.is_array()) {
        section.points[name] = point_of(value, here);
    } else if (value.is_object() && value.contains("colour")) {
        ColourRecord colour;
        parse_colour(value["colour"].get<std::string>(), colour.red, colour.green, colour.blue);
        section.colours[name] = colour;
    } else if (value.is_object() && value.contains("font")) {
        section.fonts[name] = wide(value["font"].get<std::string>());
    } else if (value.is_object() && value.contains("picture")) {
        section.pictures[name] = picture_of(value, here);
    } else {
        throw SourceError(here + ": not an integer, string, point, colour, font or picture");
    }
}

// The program builds a child by its "type": one it has no element for would fail the form at
// run time, so the compiler refuses it now.
void check_child_type(SectionSource const& child, std::string const& where)
{
    auto type = child.strings.find(u"type");
    if (type == child.strings.end())
        throw SourceError(where + ": a child needs a \"type\"");
    if (!is_engine_element_type(type->second))
        throw SourceError(where + ": no element has the type \"" + to_utf8(type->second) + "\"");
}

SectionSource read_section(std::u16string name, json const& value, std::string const& where)
{
    if (!value.is_object())
        throw SourceError(where + ": a section is an object of records");
    SectionSource section;
    section.name = std::move(name);
    for (auto const& [key, record] : value.items()) {
        if (key != "children")
            read_record(section, key, record, where);
    }
    if (value.contains("children")) {
        if (!value["children"].is_array())
            throw SourceError(where + ": \"children\" is a list of sections");
        int index = 0;
        for (auto const& child : value["children"]) {
            std::string label = child.is_object() && child.contains("id") && child["id"].is_string() ? child["id"].get<std::string>() : "#" + std::to_string(index);
            section.children.push_back(read_section({}, child, where + "/" + label));
            check_child_type(section.children.back(), where + "/" + label);
            ++index;
        }
    }
    return section;
}

}

SkinSource read_source(json const& document, std::string const& where)
{
    if (!document.is_object())
        throw SourceError(where + ": a skin source is an object with \"pictures\" and \"sections\"");
    SkinSource source;
    json const pictures = document.value("pictures", json::object());
    json const sections = document.value("sections", json::object());
    for (auto const& [name, picture] : pictures.items())
        source.pictures.push_back(wide(name));
    for (auto const& [name, section] : sections.items())
        source.sections.push_back(read_section(wide(name), section, where + ": section " + name));
    return source;
}

}
