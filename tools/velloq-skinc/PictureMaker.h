#pragma once

#include "shell/Bitmap565.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velloq::skinc {

// Draws a picture from its description in a skin source:
//   { "size": [w, h], "background": "#RRGGBB", "shapes": [ ... ] }
// with shapes drawn in order:
//   { "shape": "rect", "rect": [x, y, w, h], "fill": "#RRGGBB", "outline": "#RRGGBB", "width": n, "radius": r }
//   { "shape": "circle", "center": [x, y], "radius": r, "fill": ..., "outline": ..., "width": n }
//   { "shape": "gradient", "rect": [x, y, w, h], "from": "#RRGGBB", "to": "#RRGGBB", "direction": "vertical" | "horizontal", "radius": r }
// "#FF00FF" is the key colour: a picture on it gets hard edges so its transparency stays exact;
// on any other background edges are anti-aliased. Or converts an image file:
//   { "image": "file.png" } (PNG, relative to the source's folder).
// Throws SourceError naming the picture and the problem.
std::unique_ptr<Bitmap565> make_picture(std::string const& name, nlohmann::json const& description, std::filesystem::path const& source_folder);

// The bytes of a 16-bit 5-6-5 bitmap file of the picture (bottom row first, bit-field masks).
std::vector<uint8_t> bitmap_file_bytes(Bitmap565 const&);

// "#RRGGBB" as red, green and blue; throws SourceError for anything else.
void parse_colour(std::string const& text, uint8_t& red, uint8_t& green, uint8_t& blue);

}
