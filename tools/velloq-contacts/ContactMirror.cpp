#include "ContactMirror.h"

#include "platform/FolderWatcher.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velloq::contacts {

namespace {

constexpr char const* prefix = "eds-";

std::string escaped(std::string const& identifier)
{
    static constexpr char const* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : identifier) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The (escaped) book of a mirror file's name "eds-<rank>-<book>-<contact>.vcf"; '-' is escaped
// inside identifiers, so the book ends at the next '-'. Empty for other files.
std::string book_of(std::string const& name)
{
    if (name.rfind(prefix, 0) != 0)
        return {};
    size_t rank_end = name.find('-', 4);
    size_t book_end = rank_end == std::string::npos ? rank_end : name.find('-', rank_end + 1);
    if (book_end == std::string::npos)
        return {};
    return name.substr(rank_end + 1, book_end - rank_end - 1);
}

bool holds(std::string const& path, std::string const& text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return bytes == text;
}

}

ContactMirror::ContactMirror(std::string folder)
    : m_folder(std::move(folder))
{
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
}

std::string ContactMirror::file_name(int rank, std::string const& book, std::string const& contact)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03d", std::clamp(rank, 0, 999));
    return prefix + std::string(digits) + "-" + escaped(book) + "-" + escaped(contact) + ".vcf";
}

bool ContactMirror::write(int rank, std::string const& book, std::string const& contact, std::string const& vcard)
{
    std::string path = m_folder + "/" + file_name(rank, book, contact);
    if (holds(path, vcard))
        return true;
    // The program reads ".vcf" files only: the new card is whole before it has that name.
    std::string temporary = m_folder + "/." + file_name(rank, book, contact) + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << vcard;
        if (!file.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool ContactMirror::remove(int rank, std::string const& book, std::string const& contact)
{
    return std::remove((m_folder + "/" + file_name(rank, book, contact)).c_str()) == 0;
}

int ContactMirror::remove_others(int rank, std::string const& book, std::set<std::string> const& kept)
{
    std::set<std::string> keep;
    for (auto const& contact : kept)
        keep.insert(file_name(rank, book, contact));
    std::string escaped_book = escaped(book);
    int removed = 0;
    for (auto const& name : platform::files_in(m_folder)) {
        if (book_of(name) == escaped_book && !keep.contains(name) && std::remove((m_folder + "/" + name).c_str()) == 0)
            ++removed;
    }
    return removed;
}

int ContactMirror::remove_book(std::string const& book)
{
    return remove_others(-1, book, {});
}

}
