// velloq-skinc SOURCE.json OUT.skin: compiles a readable skin source into the binary skin the
// program loads, and draws its pictures as 16-bit bitmaps into OUT's folder, in a folder named
// after the skin.
#include "PictureMaker.h"
#include "SkinWriter.h"
#include "SourceReader.h"
#include "platform/Utf.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>

using namespace velloq;
using namespace velloq::skinc;

namespace {

void write_file(std::filesystem::path const& path, std::vector<uint8_t> const& bytes)
{
    std::filesystem::path temporary = path;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw SourceError("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, path);
}

int compile(std::filesystem::path const& source_path, std::filesystem::path const& out_path)
{
    std::string where = source_path.string();
    std::ifstream file(source_path);
    if (!file)
        throw SourceError(where + ": cannot be opened");
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(file);
    } catch (nlohmann::json::parse_error const& error) {
        throw SourceError(where + ": " + error.what());
    }
    SkinSource source = read_source(document, where);
    // Pictures live in a folder named after the skin, so skins in one folder never share names.
    std::string folder = out_path.stem().string();
    source.picture_folder = to_utf16(folder);
    std::vector<uint8_t> bytes;
    try {
        bytes = write_skin(source);
    } catch (SourceError const& error) {
        throw SourceError(where + ": " + error.what());
    }
    std::filesystem::path picture_folder = out_path.parent_path() / folder;
    std::filesystem::create_directories(picture_folder);
    nlohmann::json const pictures = document.value("pictures", nlohmann::json::object());
    for (auto const& [name, description] : pictures.items()) {
        std::unique_ptr<Bitmap565> picture;
        try {
            picture = make_picture(name, description, source_path.parent_path());
        } catch (SourceError const& error) {
            throw SourceError(where + ": picture " + name + ": " + error.what());
        } catch (nlohmann::json::exception const& error) {
            throw SourceError(where + ": picture " + name + ": " + error.what());
        }
        write_file(picture_folder / (name + ".bmp"), bitmap_file_bytes(*picture));
    }
    write_file(out_path, bytes);
    return 0;
}

}

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: velloq-skinc SOURCE.json OUT.skin\n";
        return 2;
    }
    try {
        return compile(argv[1], argv[2]);
    } catch (SourceError const& error) {
        std::cerr << "velloq-skinc: " << error.what() << "\n";
    } catch (nlohmann::json::exception const& error) {
        std::cerr << "velloq-skinc: " << argv[1] << ": " << error.what() << "\n";
    } catch (std::filesystem::filesystem_error const& error) {
        std::cerr << "velloq-skinc: " << error.what() << "\n";
    }
    return 1;
}
