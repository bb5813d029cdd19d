#pragma once

#include "messaging/Contact.h"

#include <string>
#include <string_view>
#include <vector>

namespace velloq {

// Reads the vCards (2.1, 3.0 and 4.0, as phones and address books export them) of one file into
// contacts. Handled: folded lines, QUOTED-PRINTABLE with soft line breaks and CHARSET, escaped
// commas, semicolons and line ends, TYPE parameters in every spelling (TYPE=a,b, TYPE="a,b",
// repeated TYPE, bare 2.1 types such as TEL;CELL), group prefixes (item1.TEL) with their
// X-ABLabel, and tel: URIs. The mapping:
//   FN -> FileAs; N -> last, first, MiddleName, Suffix; ORG -> company, Department;
//   TITLE -> JobTitle; NICKNAME -> NickName; URL -> WebPage; EMAIL -> Email1..Email3 in order;
//   X-ASSISTANT -> AssistantName; TEL by type:
//     cell/mobile/iphone -> Mobile, fax with home -> HomeFax, other fax -> BusinessFax,
//     pager -> PagerNumber, car -> CarTel, radio -> RadioTel, main/company -> CompanyMainTel,
//     assistant -> AssistantTel, work -> BusinessTel then Business2Tel,
//     home -> HomeTel then Home2Tel, no type -> Mobile, HomeTel, Home2Tel, whichever is free.
//   PHOTO (base64, a data: URI or a file: URI) -> photo_digest, and photo when asked for.
// A card without END:VCARD, or with content that is not text, is skipped; `skipped` counts them.
enum class PhotoData { Digest, Whole };
std::vector<Contact> parse_vcards(std::string_view file, int32_t& skipped, PhotoData photos = PhotoData::Digest);

// Larger photo data is left out: far beyond a contact's picture (a phone's is some 100 kB).
constexpr size_t largest_photo_text = 8 * 1024 * 1024;

}
