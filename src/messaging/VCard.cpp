#include "messaging/VCard.h"

#include "platform/Utf.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <map>
#include <memory>
#include <cstdio>
#include <set>

namespace velloq {

namespace {

struct ContentLine {
    std::string group;
    std::string name; // upper case
    std::set<std::string> types; // lower case
    std::map<std::string, std::string> parameters; // names upper case
    std::string value; // raw
};

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trim_quotes(std::string text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

void add_types(ContentLine& line, std::string const& list)
{
    size_t start = 0;
    std::string text = trim_quotes(list);
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string type = lower(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!type.empty())
            line.types.insert(type);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
}

// "item1.TEL;type=WORK;CHARSET=UTF-8:value" into its parts; false for a line without a colon.
bool parse_line(std::string const& text, ContentLine& line)
{
    size_t colon = std::string::npos;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string::npos)
        return false;
    line.value = text.substr(colon + 1);
    std::string head = text.substr(0, colon);
    std::vector<std::string> parts;
    size_t start = 0;
    quoted = false;
    for (size_t i = 0; i <= head.size(); ++i) {
        if (i < head.size() && head[i] == '"')
            quoted = !quoted;
        if (i == head.size() || (head[i] == ';' && !quoted)) {
            parts.push_back(head.substr(start, i - start));
            start = i + 1;
        }
    }
    std::string name = parts.front();
    size_t dot = name.find('.');
    if (dot != std::string::npos) {
        line.group = lower(name.substr(0, dot));
        name = name.substr(dot + 1);
    }
    line.name = upper(name);
    for (size_t i = 1; i < parts.size(); ++i) {
        size_t equals = parts[i].find('=');
        if (equals == std::string::npos) {
            // A bare 2.1 parameter: a type, or the encoding named alone.
            std::string bare = upper(parts[i]);
            if (bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT")
                line.parameters["ENCODING"] = bare;
            else
                add_types(line, parts[i]);
            continue;
        }
        std::string key = upper(parts[i].substr(0, equals));
        std::string value = parts[i].substr(equals + 1);
        if (key == "TYPE")
            add_types(line, value);
        else if (key == "PREF")
            line.types.insert("pref");
        else
            line.parameters[key] = trim_quotes(value);
    }
    return true;
}

std::string decode_quoted_printable(std::string const& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out.push_back(text[i]);
            continue;
        }
        int high = i + 2 < text.size() ? hex_digit_value(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hex_digit_value(text[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (i + 1 < text.size()) {
            // A stray "=" that starts no escape is kept as it stands.
            out.push_back(text[i]);
        }
    }
    return out;
}

// Bytes in the named character set to UTF-16; UTF-8 when none is named.
std::u16string decode_charset(std::string const& bytes, std::string const& charset)
{
    std::string name = upper(charset);
    if (name.empty() || name == "UTF-8" || name == "UTF8")
        return to_utf16(bytes);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, void (*)(UConverter*)> converter(ucnv_open(charset.c_str(), &status), ucnv_close);
    if (U_FAILURE(status))
        return to_utf16(bytes);
    std::u16string out(bytes.size() * 2 + 1, u'\0');
    int32_t length = ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status))
        return to_utf16(bytes);
    out.resize(static_cast<size_t>(length));
    return out;
}

// Splits a structured value at unescaped semicolons, unescaping each part.
std::vector<std::u16string> components(std::u16string const& value)
{
    std::vector<std::u16string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        char16_t c = value[i];
        if (c == u'\\' && i + 1 < value.size()) {
            char16_t next = value[++i];
            parts.back().push_back(next == u'n' || next == u'N' ? u'\n' : next);
        } else if (c == u';') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

std::u16string text_value(ContentLine const& line)
{
    std::string bytes = line.value;
    auto encoding = line.parameters.find("ENCODING");
    if (encoding != line.parameters.end() && upper(encoding->second) == "QUOTED-PRINTABLE")
        bytes = decode_quoted_printable(bytes);
    auto charset = line.parameters.find("CHARSET");
    return decode_charset(bytes, charset == line.parameters.end() ? std::string() : charset->second);
}

std::u16string phone_number(ContentLine const& line)
{
    std::u16string number = components(text_value(line)).front();
    if (number.starts_with(u"tel:"))
        number = number.substr(4);
    size_t parameters = number.find(u';');
    if (parameters != std::u16string::npos)
        number = number.substr(0, parameters);
    return number;
}

bool has(std::set<std::string> const& types, std::initializer_list<char const*> names)
{
    for (char const* name : names) {
        if (types.contains(name))
            return true;
    }
    return false;
}

void place_first_free(Contact& contact, std::initializer_list<ContactProperty> slots, std::u16string const& number)
{
    for (ContactProperty slot : slots) {
        if (!contact.property(slot)) {
            contact.set_property(slot, number);
            return;
        }
    }
}

void add_phone(Contact& contact, std::set<std::string> types, std::u16string const& number)
{
    using P = ContactProperty;
    if (has(types, { "cell", "mobile", "iphone" }))
        place_first_free(contact, { P::Mobile, P::Home2Tel, P::Business2Tel }, number);
    else if (types.contains("fax"))
        place_first_free(contact, { types.contains("home") ? P::HomeFax : P::BusinessFax }, number);
    else if (types.contains("pager"))
        place_first_free(contact, { P::PagerNumber }, number);
    else if (types.contains("car"))
        place_first_free(contact, { P::CarTel }, number);
    else if (types.contains("radio"))
        place_first_free(contact, { P::RadioTel }, number);
    else if (has(types, { "main", "company" }))
        place_first_free(contact, { P::CompanyMainTel }, number);
    else if (types.contains("assistant"))
        place_first_free(contact, { P::AssistantTel }, number);
    else if (types.contains("work"))
        place_first_free(contact, { P::BusinessTel, P::Business2Tel }, number);
    else if (types.contains("home"))
        place_first_free(contact, { P::HomeTel, P::Home2Tel }, number);
    else
        place_first_free(contact, { P::Mobile, P::HomeTel, P::Home2Tel, P::Business2Tel }, number);
}

// A picture's data is named by a digest of its text (FNV-1a), so a cached copy is found without it.
std::string digest_of(std::string_view text)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// PHOTO as base64 ("ENCODING=b", 2.1's BASE64, a data: URI) or a file: URI. A picture elsewhere
// (http) is never fetched.
void take_photo(Contact& contact, ContentLine const& line, PhotoData photos)
{
    std::string value = line.value;
    auto encoding = line.parameters.find("ENCODING");
    bool base64 = encoding != line.parameters.end() && (upper(encoding->second) == "B" || upper(encoding->second) == "BASE64");
    if (value.starts_with("data:") && value.find(";base64,") != std::string::npos) {
        value = value.substr(value.find(";base64,") + 8);
        base64 = true;
    }
    if (base64)
        value = "base64:" + value;
    else if (!value.starts_with("file:///"))
        return;
    if (value.size() > largest_photo_text)
        return;
    contact.photo_digest = digest_of(value);
    if (photos == PhotoData::Whole)
        contact.photo = std::move(value);
}

Contact build_contact(std::vector<ContentLine> const& lines, PhotoData photos)
{
    Contact contact;
    std::map<std::string, std::string> group_labels;
    for (auto const& line : lines) {
        if (line.name == "X-ABLABEL" && !line.group.empty())
            group_labels[line.group] = lower(to_utf8(text_value(line)));
    }
    int emails = 0;
    for (auto const& line : lines) {
        if (line.name == "FN") {
            contact.set_property(ContactProperty::FileAs, components(text_value(line)).front());
        } else if (line.name == "N") {
            auto parts = components(text_value(line));
            parts.resize(5);
            contact.last_name = parts[0];
            contact.first_name = parts[1];
            if (!parts[2].empty())
                contact.set_property(ContactProperty::MiddleName, parts[2]);
            if (!parts[4].empty())
                contact.set_property(ContactProperty::Suffix, parts[4]);
        } else if (line.name == "ORG") {
            auto parts = components(text_value(line));
            contact.company = parts[0];
            if (parts.size() > 1 && !parts[1].empty())
                contact.set_property(ContactProperty::Department, parts[1]);
        } else if (line.name == "TITLE") {
            contact.set_property(ContactProperty::JobTitle, components(text_value(line)).front());
        } else if (line.name == "NICKNAME") {
            contact.set_property(ContactProperty::NickName, components(text_value(line)).front());
        } else if (line.name == "URL") {
            contact.set_property(ContactProperty::WebPage, text_value(line));
        } else if (line.name == "X-ASSISTANT") {
            contact.set_property(ContactProperty::AssistantName, components(text_value(line)).front());
        } else if (line.name == "EMAIL" && emails < 3) {
            contact.set_property(static_cast<ContactProperty>(static_cast<int32_t>(ContactProperty::Email1) + emails++), components(text_value(line)).front());
        } else if (line.name == "PHOTO") {
            take_photo(contact, line, photos);
        } else if (line.name == "TEL") {
            std::set<std::string> types = line.types;
            auto label = group_labels.find(line.group);
            if (!line.group.empty() && label != group_labels.end())
                types.insert(label->second);
            std::u16string number = phone_number(line);
            if (!number.empty())
                add_phone(contact, types, number);
        }
    }
    if (auto file_as = contact.property(ContactProperty::FileAs); file_as && file_as->empty())
        std::erase_if(contact.properties, [](auto const& entry) { return entry.first == ContactProperty::FileAs; });
    return contact;
}

// The file's logical lines: CR LF and LF both end a line, folded lines (a leading blank or tab)
// are joined, and a QUOTED-PRINTABLE line ending in "=" continues on the next line.
std::vector<std::string> logical_lines(std::string_view file)
{
    std::vector<std::string> physical;
    size_t start = 0;
    while (start < file.size()) {
        size_t end = file.find('\n', start);
        if (end == std::string_view::npos)
            end = file.size();
        std::string line(file.substr(start, end - start));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        physical.push_back(std::move(line));
        start = end + 1;
    }
    std::vector<std::string> lines;
    bool soft_break = false;
    bool base64 = false;
    for (auto& line : physical) {
        bool unindented_base64 = base64 && !line.empty() && line.find(':') == std::string::npos;
        if (!lines.empty() && (soft_break || unindented_base64 || (!line.empty() && (line[0] == ' ' || line[0] == '\t')))) {
            lines.back() += soft_break || unindented_base64 ? line : line.substr(1);
        } else {
            lines.push_back(line);
        }
        std::string const& joined = lines.back();
        std::string head = upper(joined.substr(0, joined.find(':')));
        bool quoted_printable = head.find("QUOTED-PRINTABLE") != std::string::npos;
        soft_break = quoted_printable && !joined.empty() && joined.back() == '=';
        // Some 2.1 exporters write a picture's base64 lines unindented, up to a blank line.
        base64 = head.find("BASE64") != std::string::npos && !line.empty();
        if (soft_break)
            lines.back().pop_back();
    }
    return lines;
}

}

std::vector<Contact> parse_vcards(std::string_view file, int32_t& skipped, PhotoData photos)
{
    std::vector<Contact> contacts;
    skipped = 0;
    if (file.find('\0') != std::string_view::npos) {
        ++skipped;
        return contacts;
    }
    std::vector<ContentLine> card;
    bool inside = false;
    for (auto const& text : logical_lines(file)) {
        ContentLine line;
        if (!parse_line(text, line))
            continue;
        if (line.name == "BEGIN" && upper(line.value) == "VCARD") {
            skipped += inside ? 1 : 0;
            inside = true;
            card.clear();
        } else if (line.name == "END" && upper(line.value) == "VCARD" && inside) {
            contacts.push_back(build_contact(card, photos));
            inside = false;
        } else if (inside) {
            card.push_back(std::move(line));
        }
    }
    skipped += inside ? 1 : 0;
    return contacts;
}

}
