#pragma once

#include "SkinSource.h"
#include "SkinWriter.h"

#include <filesystem>
#include <fstream>

namespace velloq::test {

// Writes a skin made in a test to a file, through the skin compiler's writer.
inline std::filesystem::path write_test_skin(std::filesystem::path const& folder, skinc::SkinSource const& source, char const* name = "t.skin")
{
    auto bytes = skinc::write_skin(source);
    auto path = folder / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

inline void write_bytes(std::filesystem::path const& path, std::vector<uint8_t> const& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}
