#include "messaging/VCard.h"

#include "messaging/ContactPhoto.h"
#include "platform/Utf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace velloq;
using P = ContactProperty;

namespace {

std::vector<Contact> fixture(char const* name, int32_t& skipped, PhotoData photos = PhotoData::Digest)
{
    // The fixtures are the repository's own.
    std::ifstream file(std::string(VELLOQ_FIXTURES_DIR "/vcards/") + name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << name;
    return parse_vcards(bytes, skipped, photos);
}

}

TEST(VCard, PhoneExportTwoOneWithQuotedPrintableAndBareTypes)
{
    int32_t skipped = 0;
    auto contacts = fixture("phone-export-2.1.vcf", skipped);
    EXPECT_EQ(skipped, 0);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0].last_name, u"Петров");
    EXPECT_EQ(contacts[0].first_name, u"Иван");
    EXPECT_EQ(contacts[0].display_name(), u"Иван Петров");
    EXPECT_EQ(contacts[0].property(P::Mobile), u"+7 916 123-45-67");
    EXPECT_EQ(contacts[0].property(P::HomeTel), u"8 (495) 765-43-21");
    EXPECT_EQ(contacts[0].property(P::BusinessFax), u"+74951112233");
    EXPECT_EQ(contacts[1].display_name(), u"Acme Taxi");
    EXPECT_EQ(contacts[1].property(P::BusinessTel), u"+1 (555) 010-9999");
}

TEST(VCard, AddressBookThreeZeroWithGroupsEscapesAndFolding)
{
    int32_t skipped = 0;
    auto contacts = fixture("address-book-3.0.vcf", skipped);
    ASSERT_EQ(contacts.size(), 1u);
    Contact const& siobhan = contacts[0];
    EXPECT_EQ(siobhan.display_name(), u"Dr. Siobhan O'Brien");
    EXPECT_EQ(siobhan.last_name, u"O'Brien");
    EXPECT_EQ(siobhan.property(P::MiddleName), u"Mary");
    EXPECT_EQ(siobhan.property(P::Suffix), u"PhD");
    EXPECT_EQ(siobhan.company, u"Smith, Jones & Partners");
    EXPECT_EQ(siobhan.property(P::Department), u"Research");
    EXPECT_EQ(siobhan.property(P::JobTitle), u"Head of Research");
    EXPECT_EQ(siobhan.property(P::Mobile), u"+353 1 234 5678");
    EXPECT_EQ(siobhan.property(P::BusinessTel), u"+353 1 765 4321");
    EXPECT_EQ(siobhan.property(P::HomeTel), u"01 234 0000");
    EXPECT_EQ(siobhan.property(P::Email1), u"siobhan@example.ie");
    EXPECT_EQ(siobhan.property(P::Email2), u"smob@example.com");
    EXPECT_EQ(siobhan.property(P::WebPage), u"https://example.ie/~siobhan");
}

TEST(VCard, ModernFourZeroWithTelUris)
{
    int32_t skipped = 0;
    auto contacts = fixture("modern-4.0.vcf", skipped);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].property(P::Mobile), u"+86-138-0013-8000");
    EXPECT_EQ(contacts[0].property(P::BusinessTel), u"+86-10-6552-9988");
    EXPECT_EQ(contacts[0].property(P::NickName), u"Wei");
    EXPECT_EQ(contacts[0].property(P::Email1), u"wei.zhang@example.cn");
}

TEST(VCard, EdgeCases)
{
    int32_t skipped = 0;
    auto contacts = fixture("edge-cases-3.0.vcf", skipped);
    ASSERT_EQ(contacts.size(), 4u);
    EXPECT_EQ(contacts[0].property(P::Mobile), u"+7 (903) 555-01-02");
    EXPECT_EQ(contacts[0].property(P::HomeTel), u"8 903 5550102");
    EXPECT_EQ(contacts[1].display_name(), u"City Hospital");
    EXPECT_FALSE(contacts[1].property(P::FileAs));
    EXPECT_EQ(contacts[2].display_name(), u"");
    EXPECT_EQ(contacts[3].display_name(), u"Ivan (work phone)");
}

TEST(VCard, MalformedCardsAreSkipped)
{
    int32_t skipped = 0;
    EXPECT_TRUE(parse_vcards(std::string("BEGIN:VCARD\0VERSION:3.0\nEND:VCARD\n", 33), skipped).empty());
    EXPECT_EQ(skipped, 1);
    auto contacts = parse_vcards("BEGIN:VCARD\nFN:Lost\nBEGIN:VCARD\nFN:Kept\nEND:VCARD\nBEGIN:VCARD\nFN:Cut", skipped);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].display_name(), u"Kept");
    EXPECT_EQ(skipped, 2);
    contacts = parse_vcards("BEGIN:VCARD\nN;ENCODING=QUOTED-PRINTABLE;CHARSET=windows-1251:=CF=E5=F2=F0=EE=E2;=\n=C8=E2=E0=ED\nEND:VCARD", skipped);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].last_name, u"Петров");
    EXPECT_EQ(contacts[0].first_name, u"Иван");
    EXPECT_EQ(contact_property_name(22), u"FileAs");
    EXPECT_EQ(contact_property_name(23), u"Unknown");
}

// A card as Evolution Data Server gives it: its own parameters (X-EVOLUTION-E164 with a quoted
// comma), REV, and the photo as a folded file: URI into EDS's photo folder.
TEST(VCard, AnEvolutionDataServerCardWithItsStoredPhoto)
{
    int32_t skipped = 0;
    auto contacts = fixture("eds-export-3.0.vcf", skipped, PhotoData::Whole);
    EXPECT_EQ(skipped, 0);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].display_name(), u"Мария Фото");
    EXPECT_EQ(contacts[0].property(P::Mobile), u"+49 151 23456789");
    EXPECT_EQ(contacts[0].property(P::Email1), u"maria@example.org");
    EXPECT_EQ(contacts[0].photo, "file:///tmp/edsx/h/data/evolution/addressbook/system/photos/photo_person_photo-file0.image-2FJPEG");
    EXPECT_EQ(contacts[0].photo_digest.size(), 16u);
}

// Photos as phones and address books write them: 2.1 BASE64 indented or not, 3.0 "b", a 4.0
// data: URI. Only the digest is kept unless the photo is asked for; a picture on the web is
// never taken; a damaged photo still leaves the card whole.
TEST(VCard, PhotosInEveryEncoding)
{
    int32_t skipped = 0;
    auto digests = fixture("photos.vcf", skipped);
    auto whole = fixture("photos.vcf", skipped, PhotoData::Whole);
    EXPECT_EQ(skipped, 0);
    ASSERT_EQ(whole.size(), 7u);
    ASSERT_EQ(digests.size(), 7u);
    for (size_t i : { 0u, 1u, 2u, 3u, 5u, 6u }) {
        EXPECT_EQ(digests[i].photo_digest, whole[i].photo_digest) << i;
        EXPECT_EQ(digests[i].photo_digest.size(), 16u) << i;
        EXPECT_TRUE(digests[i].photo.empty()) << i;
        EXPECT_TRUE(whole[i].photo.starts_with("base64:")) << i;
    }
    EXPECT_EQ(whole[0].display_name(), u"Indented Ann");
    EXPECT_EQ(whole[1].property(P::Mobile), u"+1 555 1000002");
    EXPECT_EQ(whole[3].property(P::Mobile), u"+1-555-100-0004");
    EXPECT_TRUE(whole[4].photo_digest.empty());
    EXPECT_TRUE(whole[4].photo.empty());
    EXPECT_EQ(whole[5].display_name(), u"Finn Broken");
}

TEST(Base64, DecodesWithBlanksAndPaddingAndRefusesOtherText)
{
    EXPECT_EQ(decode_base64("SGVs bG8=\r\n"), "Hello");
    EXPECT_EQ(decode_base64("SGVsbG8h"), "Hello!");
    EXPECT_EQ(decode_base64("SGk"), "Hi");
    EXPECT_EQ(decode_base64(""), "");
    EXPECT_EQ(decode_base64("!!not*base64!!"), std::nullopt);
    EXPECT_EQ(decode_base64("S"), std::nullopt);
}
