#include "messaging/PictureFiles.h"

#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "shell/Paths.h"
#include "shell/Platform.h"

#include <cerrno>
#include <cstring>
#include <map>

namespace velloq {

std::string extension_of(MessagePart const& part)
{
    static std::map<std::string, std::string> const extensions {
        { "image/jpeg", "jpg" }, { "image/jpg", "jpg" }, { "image/png", "png" }, { "image/gif", "gif" }, { "image/webp", "webp" },
        { "image/heic", "heic" }, { "video/mp4", "mp4" }, { "video/3gpp", "3gp" }, { "audio/amr", "amr" }, { "audio/mpeg", "mp3" },
        { "text/vcard", "vcf" }, { "text/x-vcard", "vcf" }, { "application/pdf", "pdf" }, { "text/plain", "txt" },
    };
    auto found = extensions.find(bare_content_type(part.content_type));
    return found == extensions.end() ? "bin" : found->second;
}

std::optional<std::string> write_unique_file(std::string const& folder, std::string const& stem, std::string const& extension,
    std::string_view content, std::string& why)
{
    if (folder.empty() || !platform::make_directory_chain(folder)) {
        why = "the folder " + folder + " cannot be made";
        return std::nullopt;
    }
    for (int number = 1; number < 1000; ++number) {
        std::string path = folder + "/" + stem + (number > 1 ? "-" + std::to_string(number) : std::string()) + "." + extension;
        if (platform::path_exists(path))
            continue;
        if (platform::write_new_file(path, content, why))
            return path;
        if (platform::path_exists(path))
            continue;
        return std::nullopt;
    }
    why = "a thousand files of that name are there already";
    return std::nullopt;
}

std::optional<std::string> save_message_part(MessagePart const& part, std::string const& folder, std::string const& stem, std::string& why)
{
    if (folder.empty() || !platform::make_directory_chain(folder)) {
        why = "the folder " + folder + " cannot be made";
        return std::nullopt;
    }
    auto bytes = platform::read_file_range(part.file, part.offset, part.length, largest_saved_part, why);
    if (!bytes)
        return std::nullopt;
    std::string_view content(reinterpret_cast<char const*>(bytes->data()), bytes->size());
    return write_unique_file(folder, stem, extension_of(part), content, why);
}

bool open_message_part(MessagePart const& part, std::string const& stem, std::string& why)
{
    auto copy = save_message_part(part, to_utf8(expand_path(u"/Temp/opened")), stem, why);
    if (!copy)
        return false;
    if (run_program(u"xdg-open", { to_utf16(*copy) }))
        return true;
    why = "the desktop's opener could not be started";
    return false;
}

}
