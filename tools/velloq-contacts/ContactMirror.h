#pragma once

#include <set>
#include <string>

namespace velloq::contacts {

// The address books' contacts as vCard files in the device's contacts folder, which the program
// follows: one file per contact, "eds-<rank>-<book>-<contact>.vcf", written whole into place (a
// new file renamed over the old) so that the program never reads half a card. The rank (three
// digits) orders the books as the files sort; where a number is in several books, the program
// names it after the card read last, the book of the highest rank.
class ContactMirror {
public:
    explicit ContactMirror(std::string folder);

    // The file name of a book's contact; the identifiers are kept to letters, digits, '.', '_' and
    // '-' (anything else as %XX), so no identifier reaches outside the folder.
    static std::string file_name(int rank, std::string const& book, std::string const& contact);

    // Writes a contact's card; nothing when the file already holds it. False when it could not
    // be written (the old card, if any, stays).
    bool write(int rank, std::string const& book, std::string const& contact, std::string const& vcard);
    bool remove(int rank, std::string const& book, std::string const& contact);
    // Removes the book's files of contacts not in `kept` (contacts deleted while the bridge was
    // not running), and a book's files under another rank; the number removed.
    int remove_others(int rank, std::string const& book, std::set<std::string> const& kept);
    // Removes every file of a book that is gone (deleted or disabled); the number removed.
    int remove_book(std::string const& book);
    std::string const& folder() const { return m_folder; }

private:
    std::string m_folder;
};

}
