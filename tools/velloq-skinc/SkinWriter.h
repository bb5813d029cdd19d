#pragma once

#include "SkinSource.h"

#include <cstdint>
#include <vector>

namespace velloq::skinc {

// Writes a skin in the binary format the program reads: the header with its magic, the record
// names (all within the first 64 KiB), the name pool of pictures, fonts and strings, a balanced
// binary tree of the top-level sections and every section body with its sorted record groups
// and child list. Throws SourceError when the skin cannot be written in that format.
std::vector<uint8_t> write_skin(SkinSource const&);

}
