#include "messaging/ChatModel.h"

#include "platform/Folders.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace velloq;
using platform::Bytes;
using platform::StoredMessage;
namespace Tag = platform::Tag;

namespace {

Contact person(std::u16string last, std::u16string first, std::vector<std::pair<ContactProperty, std::u16string>> properties, int32_t oid = 1)
{
    Contact contact;
    contact.oid = oid;
    contact.last_name = std::move(last);
    contact.first_name = std::move(first);
    contact.properties = std::move(properties);
    return contact;
}

class Renames : public ChatListener {
public:
    void on_document_refresh(ChatEvent const& event) override
    {
        if (event.kind == ChatEvent::Kind::Renamed)
            names.push_back(event.chat->name);
    }
    std::vector<std::u16string> names;
};

class ContactsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
        std::string error;
        store = platform::MessageStore::open_device(error);
        inbox = *store->store_property(store->stores()->front().entry_id, Tag::InboxEntryId);
        contacts = device.path() / "contacts";
        std::filesystem::create_directories(contacts);
    }
    void deliver(std::u16string address)
    {
        StoredMessage message;
        message.properties = { { Tag::Subject, std::u16string(u"hi") }, { Tag::MessageFlags, int64_t(0) }, { Tag::DeliveryTime, int64_t(1) },
            { Tag::SenderName, std::u16string() }, { Tag::SenderAddress, address } };
        ASSERT_TRUE(store->create_message(inbox, message, false));
    }
    // The desktop's vCard folder in the test's device, where it is not there yet.
    ChatModel::Options options() const
    {
        return { (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER, contacts.string(), (device.path() / "kpeoplevcard").string() };
    }
    void write_card(std::filesystem::path const& file, std::string const& card)
    {
        auto path = file.is_absolute() ? file : contacts / file;
        auto temporary = path.string() + ".tmp";
        std::ofstream(temporary) << card;
        std::filesystem::rename(temporary, path);
    }
    static std::u16string contact_of(ChatModel& model, std::u16string const& number)
    {
        Contact found;
        return model.find_contact_by_phone(number, found) ? found.display_name() : u"(none)";
    }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
    Bytes inbox;
    std::filesystem::path contacts;
};

}

TEST(PhoneBookRules, NamesLabelsAndSharedKeys)
{
    PhoneBook book;
    EXPECT_TRUE(book.add_contact(person(u"Smith", u"Ann", { { ContactProperty::Mobile, u"+1 555 1234567" }, { ContactProperty::HomeTel, u"555-1234567" } })));
    ASSERT_EQ(book.entries().size(), 1u);
    EXPECT_EQ(book.entries()[0].label, u"home");
    EXPECT_EQ(book.entries()[0].name, u"Smith Ann");
    Contact company = person(u"", u"", { { ContactProperty::BusinessTel, u"+49 30 7654321" } }, 2);
    company.company = u"Acme";
    EXPECT_TRUE(book.add_contact(company));
    EXPECT_EQ(book.find(u"7654321")->name, u"Acme");
    Contact filed = person(u"X", u"Y", { { ContactProperty::Mobile, u"0151 1234567" } }, 3);
    filed.set_property(ContactProperty::FileAs, u"Boss");
    book.add_contact(filed);
    EXPECT_EQ(book.find(u"1234567")->name, u"Boss");
    EXPECT_EQ(book.entries().size(), 2u);
    EXPECT_FALSE(book.add_contact(person(u"", u"", { { ContactProperty::Mobile, u"111" } }, 4)));
    book.add(PhoneEntry::from_typed(u"Zed"));
    book.set_current(u"7654321");
    EXPECT_EQ(book.entries().front().name, u"Acme");
    EXPECT_EQ(book.entries().front().mark, 1);
    EXPECT_EQ(book.entries()[1].name, u"Boss");
}

TEST_F(ContactsTest, FixtureFilesNameTheChatsAndTheLaterFileWinsAKey)
{
    for (char const* name : { "address-book-3.0.vcf", "edge-cases-3.0.vcf", "modern-4.0.vcf", "phone-export-2.1.vcf" })
        std::filesystem::copy_file(std::filesystem::path(VELLOQ_FIXTURES_DIR "/vcards") / name, contacts / name);
    deliver(u"+7 916 123-45-67");
    deliver(u"+353 1 765 4321");
    deliver(u"+7 999 888 77 66");
    ChatModel model(options());
    model.update_chats(false);
    model.assign_contacts();
    // "Ivan (work phone)" of edge-cases and Иван Петров of phone-export share 1234567; the file
    // read later wins. Siobhan's business number and Иван's home number share 7654321 the same way.
    EXPECT_EQ(model.find_chat(u"1234567")->name, u"Иван Петров");
    EXPECT_EQ(model.find_chat(u"1234567")->phone_label, u"mobile");
    EXPECT_EQ(model.find_chat(u"7654321")->name, u"Иван Петров");
    EXPECT_EQ(model.find_chat(u"7654321")->phone_label, u"home");
    // A contact without any name is not shown; its chat keeps its own entry.
    EXPECT_EQ(model.find_chat(u"8887766")->name, u"");
    Contact found;
    EXPECT_TRUE(model.find_contact_by_phone(u"+86 138 0013 8000", found));
    EXPECT_EQ(found.first_name, u"Wei");
    EXPECT_FALSE(model.find_contact_by_phone(u"+1 000 0000000", found));
}

TEST_F(ContactsTest, ContactsCreatedChangedAndDeletedWhileRunning)
{
    deliver(u"+4915112345678");
    ChatModel model(options());
    model.update_chats(false);
    model.assign_contacts();
    ASSERT_NE(model.phone_book().find(u"2345678"), nullptr);
    Renames renames;
    model.add_listener(&renames);

    write_card("friend.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna");
    write_card("friend.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna Berg\nTEL;TYPE=HOME:+49 151 12345678\nEND:VCARD\n");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna Berg");
    EXPECT_EQ(model.find_chat(u"2345678")->phone_label, u"home");
    std::filesystem::remove(contacts / "friend.vcf");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna Berg");
    EXPECT_EQ(renames.names, (std::vector<std::u16string> { u"Anna", u"Anna Berg" }));
    std::u16string log_text = test::read_utf16_file(device.log_file());
    for (char16_t const* line : { u"PIM_ITEM_CREATED_LOCAL = ", u"PIM_ITEM_CHANGED_LOCAL = ", u"PIM_ITEM_DELETED_LOCAL = ", u"on_contact_added for id:1\n",
             u"on_contact_changed for id:1\n", u"on_contact_removed for id:1\n" })
        EXPECT_NE(log_text.find(line), std::u16string::npos) << to_utf8(line);
}

TEST_F(ContactsTest, MalformedAndBinaryFilesAreSkippedWithALogLine)
{
    write_card("broken.vcf", "BEGIN:VCARD\nFN:Half\n");
    std::ofstream(contacts / "binary.vcf", std::ios::binary) << std::string("BEGIN:VCARD\0\x01\x02", 14);
    write_card("good.vcf", "BEGIN:VCARD\nFN:Good\nTEL:123456\nEND:VCARD\n");
    ChatModel model(options());
    model.assign_contacts();
    EXPECT_NE(model.phone_book().find(u"123456"), nullptr);
    EXPECT_NE(test::read_utf16_file(device.log_file()).find(u"malformed cards skipped"), std::u16string::npos);
}

// A number in two files is named after the later file's card, at the start and while running,
// whichever card changed last; when that card goes, the other names it again.
TEST_F(ContactsTest, ANumberInTwoFilesKeepsTheLaterFilesNameWhicheverChanges)
{
    deliver(u"+4915112345678");
    write_card("a-work.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Dr. Berg\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    write_card("b-personal.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    ChatModel model(options());
    model.update_chats(false);
    model.assign_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna");
    write_card("a-work.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Dr. A. Berg\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna");
    std::filesystem::remove(contacts / "b-personal.vcf");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Dr. A. Berg");
}

// Plasma's vCard folder names chats: made after the start, with a book one folder below it; the
// device's own card wins for the same number; a book moved away takes its contacts along.
TEST_F(ContactsTest, TheDesktopsVCardFolderAndItsBooksAreFollowed)
{
    deliver(u"+4915112345678");
    deliver(u"+4917612345000");
    auto desktop = device.path() / "kpeoplevcard";
    ChatModel model(options());
    model.update_chats(false);
    model.assign_contacts();
    std::filesystem::create_directories(desktop / "own");
    write_card(desktop / "own" / "anna.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna Plasma\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    write_card(desktop / "bob.vcf", "BEGIN:VCARD\nVERSION:4.0\nFN:Боб\nTEL;TYPE=cell:+49 176 12345000\nEND:VCARD\n");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna Plasma");
    EXPECT_EQ(model.find_chat(u"2345000")->name, u"Боб");
    write_card("anna.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna Device\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    write_card(desktop / "own" / "anna.vcf", "BEGIN:VCARD\nVERSION:3.0\nFN:Anna K.\nTEL;TYPE=CELL:+49 151 12345678\nEND:VCARD\n");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna Device");
    std::filesystem::remove(contacts / "anna.vcf");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345678")->name, u"Anna K.");
    std::filesystem::rename(desktop / "own", device.path() / "own-away");
    model.poll_contacts();
    EXPECT_EQ(contact_of(model, u"+4915112345678"), u"(none)");
    EXPECT_EQ(contact_of(model, u"+4917612345000"), u"Боб");
    std::filesystem::remove_all(desktop);
    model.poll_contacts();
    EXPECT_EQ(contact_of(model, u"+4917612345000"), u"(none)");
    std::filesystem::create_directories(desktop);
    write_card(desktop / "bob.vcf", "BEGIN:VCARD\nVERSION:4.0\nFN:Боб Again\nTEL;TYPE=cell:+49 176 12345000\nEND:VCARD\n");
    model.poll_contacts();
    EXPECT_EQ(model.find_chat(u"2345000")->name, u"Боб Again");
}

// More changes at once than the kernel keeps for the program (a large address book mirrored
// while it runs): the folder is read again, and no contact is missed.
TEST_F(ContactsTest, ChangesBeyondTheKernelsQueueAreReadAgain)
{
    int queue = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queue;
    ChatModel model(options());
    model.assign_contacts();
    int cards = queue / 2 + 100;
    for (int i = 0; i < cards; ++i) {
        std::string number = "+49170" + std::to_string(1000000 + i);
        std::ofstream(contacts / ("c" + std::to_string(i) + ".vcf")) << "BEGIN:VCARD\nFN:N" << i << "\nTEL:" << number << "\nEND:VCARD\n";
    }
    model.poll_contacts();
    EXPECT_EQ(contact_of(model, u"+491701000000"), u"N0");
    EXPECT_EQ(contact_of(model, u"+49170" + to_utf16(std::to_string(1000000 + cards - 1))), u"N" + to_utf16(std::to_string(cards - 1)));
    std::filesystem::remove(contacts / "c0.vcf");
    model.poll_contacts();
    EXPECT_EQ(contact_of(model, u"+491701000000"), u"(none)");
}
