#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velloq {

// The texts of the user interface by key, from a language file "<name>.lng" in the program
// folder. Files are UTF-8 (with or without a byte-order mark) or UTF-16LE with its byte-order mark.
class LanguageTable {
public:
    // Language files lie directly in the program folder.
    static constexpr char16_t const* program_folder = u"%app_path%";

    // Chooses and loads the language at start: the registry's "Language", the system's language,
    // "english", then any "*.lng" of the program folder. False (and an empty table, so every text
    // shows its key) when none loads; the reason is logged.
    bool load_language(std::u16string const& application_name, std::u16string const& folder = program_folder);
    // Parses the file into a fresh table; replaces the current one only on success.
    bool load_file(std::u16string const& path);
    // Parses language text (already decoded) into the table.
    void parse(std::u16string_view text);

    std::u16string text_of(std::u16string_view key) const;
    std::u16string text_of(std::u16string_view key, std::u16string const& fallback) const;
    bool contains(std::u16string_view key) const { return m_texts.find(std::u16string(key)) != m_texts.end(); }
    std::u16string const& current_file() const { return m_path; }
    // The language name of the current file ("english"), empty when none is loaded.
    std::u16string current_language() const;

    // The language files of the folder, by name, sorted.
    static std::vector<std::u16string> available_languages(std::u16string const& folder = program_folder);
    static bool more_than_one_language(std::u16string const& folder = program_folder) { return available_languages(folder).size() > 1; }
    static std::u16string path_of_language(std::u16string const& name, std::u16string const& folder = program_folder);
    // How a language file names its language to the user (its "LanguageName", e.g. "Русский"),
    // or the file's name when it does not say or cannot be read.
    static std::u16string display_name(std::u16string const& name, std::u16string const& folder = program_folder);
    // The system's user-interface language as a language file name ("german" for de_DE).
    static std::u16string system_language_name();

private:
    std::map<std::u16string, std::u16string, std::less<>> m_texts;
    std::u16string m_path;
};

// Shown and logged when no language file loads.
constexpr char16_t const* no_languages_message = u"No languages, please reinstall\nНе найдены языковые файлы, нужна переустановка\n";

// Decodes a text file: UTF-16LE after its byte-order mark, otherwise UTF-8 (a byte-order mark
// is dropped). Nullopt when the file cannot be read.
bool read_text_file(std::u16string const& path, std::u16string& text);

}
