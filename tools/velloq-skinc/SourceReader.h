#pragma once

#include "SkinSource.h"

#include <nlohmann/json.hpp>

#include <string>

namespace velloq::skinc {

// Reads a skin source:
//   { "pictures": { NAME: PICTURE, ... }, "sections": { NAME: SECTION, ... } }
// A SECTION is an object whose members are its records, typed by how they are written:
//   42 -> integer, "text" -> string, [x, y] -> point, { "colour": "#RRGGBB" } -> colour,
//   { "font": "10 1 0 0 Tahoma" } -> font,
//   { "picture": NAME, "a": [x, y], "b": [x, y], "c": [x, y], "d": [x, y], "flag": n } -> picture,
// and "children": [ SECTION, ... ] lists its child sections in order. `where` names the source
// file in errors.
SkinSource read_source(nlohmann::json const& document, std::string const& where);

}
