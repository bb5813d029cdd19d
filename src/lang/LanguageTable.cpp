#include "lang/LanguageTable.h"

#include "platform/Utf.h"
#include "platform/Environment.h"
#include "shell/Log.h"
#include "shell/Paths.h"
#include "shell/Registry.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velloq {

namespace {

constexpr uintmax_t largest_language_file = 4 * 1024 * 1024;

bool is_space(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v';
}

bool is_line_end(char16_t c)
{
    return c == u'\r' || c == u'\n';
}


}

bool read_text_file(std::u16string const& path, std::u16string& text)
{
    std::string file_name = to_utf8(expand_path(path));
    std::error_code error;
    auto size = std::filesystem::file_size(file_name, error);
    if (error || size > largest_language_file)
        return false;
    std::ifstream file(file_name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file && !file.eof())
        return false;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.clear();
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
        return true;
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    text = to_utf16(bytes);
    return true;
}

void LanguageTable::parse(std::u16string_view text)
{
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && is_space(text[at]))
            ++at;
        size_t key_start = at;
        while (at < text.size() && !is_space(text[at]) && text[at] != u'=')
            ++at;
        std::u16string key(text.substr(key_start, at - key_start));
        if (at < text.size() && text[at] == u'=') {
            ++at;
        } else {
            while (at < text.size() && is_space(text[at]) && !is_line_end(text[at]))
                ++at;
        }
        size_t value_start = at;
        while (at < text.size() && !is_line_end(text[at]))
            ++at;
        if (!key.empty())
            m_texts[key] = std::u16string(text.substr(value_start, at - value_start));
    }
}

bool LanguageTable::load_file(std::u16string const& path)
{
    std::u16string text;
    if (!read_text_file(path, text))
        return false;
    LanguageTable fresh;
    fresh.parse(text);
    m_texts = std::move(fresh.m_texts);
    m_path = path;
    return true;
}

std::u16string LanguageTable::text_of(std::u16string_view key) const
{
    auto found = m_texts.find(key);
    return found == m_texts.end() ? std::u16string(key) : found->second;
}

std::u16string LanguageTable::text_of(std::u16string_view key, std::u16string const& fallback) const
{
    auto found = m_texts.find(key);
    return found == m_texts.end() ? fallback : found->second;
}

std::u16string LanguageTable::current_language() const
{
    if (m_path.empty())
        return {};
    return std::filesystem::path(to_utf8(m_path)).stem().u16string();
}

std::u16string LanguageTable::path_of_language(std::u16string const& name, std::u16string const& folder)
{
    return folder + u"/" + name + u".lng";
}

std::vector<std::u16string> LanguageTable::available_languages(std::u16string const& language_folder)
{
    std::vector<std::u16string> names;
    std::error_code error;
    std::filesystem::path folder(to_utf8(expand_path(language_folder)));
    // A folder holding the exclusion marker is never searched.
    if (std::filesystem::exists(folder / "do_not_search", error))
        return names;
    for (auto const& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".lng" && entry.is_regular_file(error))
            names.push_back(entry.path().stem().u16string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::u16string LanguageTable::system_language_name()
{
    std::string locale;
    for (char const* variable : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        locale = platform::environment_value(variable);
        if (!locale.empty())
            break;
    }
    std::string code = locale.substr(0, locale.find_first_of("_.@"));
    if (code.empty() || code == "C" || code == "POSIX")
        return {};
    icu::UnicodeString name;
    icu::Locale(code.c_str()).getDisplayLanguage(icu::Locale::getEnglish(), name);
    std::u16string text(reinterpret_cast<char16_t const*>(name.getBuffer()), static_cast<size_t>(name.length()));
    std::transform(text.begin(), text.end(), text.begin(), [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; });
    return text;
}

bool LanguageTable::load_language(std::u16string const& application_name, std::u16string const& folder)
{
    std::u16string chosen;
    reg_get_string(u"HKEY_CURRENT_USER\\Software\\Ketra\\" + application_name, u"Language", chosen);
    std::vector<std::u16string> candidates;
    if (!chosen.empty())
        candidates.push_back(chosen);
    if (std::u16string system = system_language_name(); !system.empty())
        candidates.push_back(system);
    candidates.push_back(u"english");
    for (auto const& name : available_languages(folder))
        candidates.push_back(name);
    for (auto const& name : candidates) {
        if (load_file(path_of_language(name, folder)))
            return true;
    }
    m_texts.clear();
    m_path.clear();
    log() << no_languages_message;
    return false;
}

std::u16string LanguageTable::display_name(std::u16string const& name, std::u16string const& folder)
{
    LanguageTable table;
    if (!table.load_file(path_of_language(name, folder)))
        return name;
    std::u16string shown = table.text_of(u"LanguageName", std::u16string());
    return shown.empty() ? name : shown;
}

}
