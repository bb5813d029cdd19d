#include "shell/Paths.h"

#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "platform/Utf.h"
#include "shell/Fatal.h"
#include "shell/Log.h"
#include "shell/Registry.h"

#include <array>

namespace velloq {

namespace {

bool is_separator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

ProgramLocation const& program_location()
{
    static ProgramLocation location = program_location_from(get_app_path());
    return location;
}

std::u16string folder_value(std::string const& utf8_folder)
{
    return to_utf16(utf8_folder);
}

struct Macro {
    std::u16string_view name;
    std::u16string (*value)();
};

// Tried in this order, each only at the very start of the text.
std::array<Macro, 9> const macros { {
    { u"%app_full_name%", [] { return program_location().full_name; } },
    { u"%app_path%", [] { return program_location().folder; } },
    { u"%app_name%", [] { return program_location().file_name; } },
    { u"%my_documents%", [] { return folder_value(platform::documents_folder()); } },
    { u"%windows%", [] { return folder_value(platform::helper_programs_folder()); } },
    { u"%startup%", [] { return folder_value(platform::autostart_folder()); } },
    { u"%programs%", [] { return folder_value(platform::applications_folder()); } },
    { u"%start_menu%", [] { return folder_value(platform::applications_folder()); } },
    { u"%program_files%", [] { return folder_value(platform::program_files_folder()); } },
} };

// The device's temporary folder "/Temp" is the device folder's Temp.
bool starts_with_device_temp(std::u16string_view text)
{
    constexpr std::u16string_view temp = u"Temp";
    return text.size() > temp.size() && is_separator(text[0]) && text.substr(1, temp.size()) == temp
        && (text.size() == temp.size() + 1 || is_separator(text[temp.size() + 1]));
}

}

std::u16string get_app_path()
{
    auto self = platform::executable_path();
    if (self.too_long)
        fatal(u"get_app_path()", u"path is more then MAX_PATH long");
    return to_utf16(self.path);
}

ProgramLocation program_location_from(std::u16string_view full_name)
{
    ProgramLocation location;
    location.full_name = std::u16string(full_name);
    size_t separator = full_name.find_last_of(u"\\/");
    if (separator == std::u16string_view::npos) {
        location.file_name = location.full_name;
        return location;
    }
    location.folder = std::u16string(full_name.substr(0, separator));
    if (!location.folder.empty() && is_separator(location.folder.back()))
        location.folder.pop_back();
    location.file_name = std::u16string(full_name.substr(separator + 1));
    return location;
}

std::u16string expand_path(std::u16string_view text)
{
    std::u16string result;
    size_t position = 0;
    for (auto const& macro : macros) {
        if (text.starts_with(macro.name)) {
            result = macro.value();
            position = macro.name.size();
            break;
        }
    }
    if (position == 0 && starts_with_device_temp(text)) {
        result = to_utf16(platform::device_folder()) + u"/Temp";
        position = 5;
    }
    result.reserve(result.size() + text.size() - position);
    for (size_t i = position; i < text.size(); ++i)
        result.push_back(is_separator(text[i]) ? u'/' : text[i]);
    return result;
}

void create_directories(std::u16string const& path)
{
    if (path.empty())
        return;
    std::u16string folder = path;
    if (is_separator(folder.back()))
        folder.pop_back();
    size_t separator = folder.find_last_of(u"\\/");
    create_directories(separator == std::u16string::npos ? std::u16string() : folder.substr(0, separator + 1));
    bool created = !folder.empty() && platform::make_directory(to_utf8(folder));
    log() << u"CreateDirectoryW {" << folder << u"} result=" << (created ? 1 : 0) << u"\n";
}

bool find_installed_program_file(std::u16string_view program, std::u16string_view file_name, std::u16string& out_folder)
{
    reg_get_string(u"HKEY_LOCAL_MACHINE\\Software\\Apps\\" + std::u16string(program), u"InstallDir", out_folder);
    if (out_folder.empty())
        return false;
    out_folder += u"/";
    out_folder += file_name;
    return platform::path_exists(to_utf8(expand_path(out_folder)));
}

}
