#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velloq::skinc {

// A mistake in a skin source, told with the file, the section and the problem.
struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PictureRecord {
    std::u16string picture;
    uint16_t points[8] {};
    uint8_t flag { 0 };
};

struct ColourRecord {
    uint8_t red { 0 };
    uint8_t green { 0 };
    uint8_t blue { 0 };
};

// One section as the source describes it: typed records by name, and children in order.
struct SectionSource {
    std::u16string name;
    std::map<std::u16string, int32_t> integers;
    std::map<std::u16string, std::u16string> fonts;
    std::map<std::u16string, std::pair<int16_t, int16_t>> points;
    std::map<std::u16string, std::u16string> strings;
    std::map<std::u16string, PictureRecord> pictures;
    std::map<std::u16string, ColourRecord> colours;
    std::vector<SectionSource> children;
};

struct SkinSource {
    std::vector<SectionSource> sections; // top level
    std::vector<std::u16string> pictures; // names in file order
    // The folder, relative to the skin file, that the picture files are written to.
    std::u16string picture_folder;
};

}
