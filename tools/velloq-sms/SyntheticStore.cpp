#include "SyntheticStore.h"

#include "messaging/MessageTime.h"
#include "platform/Utf.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace velloq::tools {

namespace {

namespace Tag = platform::Tag;

constexpr int64_t two_years_ms = 2LL * 365 * 24 * 3600 * 1000;
constexpr size_t batch = 5000;

std::vector<char16_t const*> const texts {
    u"Are we still on for tonight?",
    u"Running late, be there in 10 minutes",
    u"Check this out: https://example.org/photos/summer",
    u"Call me back on +49 151 2345678 when you can",
    u"Привет! Как дела?",
    u"Встречаемся у метро в 19:00",
    u"Посмотри www.example.ru/news, интересно",
    u"Your code is 482913",
    u"Thanks, see you tomorrow!",
    u"Mail me at anna.schmidt@example.com",
    u"Happy birthday! 🎉",
    u"Ок, договорились. Позвони 8 912 345-67-89",
    u"Meeting moved to 3pm, room 204",
    u"Can you pick up milk on the way home?",
};

std::vector<char16_t const*> const world_texts {
    u"مرحبا، هل ما زلنا على موعد الليلة؟",
    u"नमस्ते! मैं दस मिनट में पहुँच रहा हूँ",
    u"اتصل بي على +49 151 2345678 عندما تستطيع",
    u"कल मिलते हैं, धन्यवाद!",
    u"الاجتماع في الساعة الثالثة، غرفة 204",
    u"क्या तुम घर आते समय दूध ला सकते हो?",
};

std::vector<char16_t const*> const first_names { u"Anna", u"Ben", u"Chiara", u"Dmitri", u"Elif", u"Farid", u"Greta", u"Hiro", u"Ирина", u"Сергей", u"Ольга", u"Jonas" };

std::vector<char const*> const family_names { "Schmidt", "Rossi", "Novak", "Yilmaz", "Tanaka", "Haddad", "Berg", "Lindqvist", "Moreau", "Kowalski", "Ivanova", "Petrov", "Okafor" };

// The seven digits that key a correspondent's chat. 7919 is prime to 7,000,000, so no two of
// the first seven million correspondents share them: the demo never files two people into one chat.
std::u16string subscriber_digits(int32_t chat)
{
    return to_u16_decimal(2000000 + static_cast<uint32_t>(chat) * 7919 % 7000000);
}

// The same subscriber written the ways phones and people write numbers.
std::u16string spelling(int32_t chat, uint32_t variant)
{
    std::u16string digits = subscriber_digits(chat);
    switch (variant % 5) {
    case 0:
        return u"+49151" + digits;
    case 1:
        return u"0151 " + digits;
    case 2:
        return u"+7 (912) " + digits.substr(0, 3) + u"-" + digits.substr(3, 2) + u"-" + digits.substr(5);
    case 3:
        return u"8 912 " + digits;
    default:
        return u"+1-202-" + digits;
    }
}

struct Chat {
    std::u16string number;
    std::u16string name;
};

}

platform::StoreResult<void> seed_store(platform::MessageStore& store, int32_t chats, int64_t messages, uint32_t seed, bool world_scripts, int32_t first_chat)
{
    std::mt19937 random(seed);
    auto inbox = store.folder(Tag::InboxEntryId);
    auto sent = store.folder(Tag::SentEntryId);
    auto drafts = store.folder(Tag::DraftsEntryId);
    auto outbox = store.folder(Tag::OutboxEntryId);
    for (auto const* folder : { &inbox, &sent, &drafts, &outbox })
        if (!*folder)
            return folder->error();
    std::vector<Chat> people;
    for (int32_t chat = first_chat; chat < first_chat + chats; ++chat) {
        std::u16string name = chat % 3 == 2 ? std::u16string() : std::u16string(first_names[static_cast<size_t>(chat) % first_names.size()]);
        people.push_back({ spelling(chat, random()), name });
    }
    int64_t end = MessageTime::now().unix_milliseconds();
    int64_t step = messages > 0 ? std::max<int64_t>(1, two_years_ms / messages) : 1;
    std::vector<std::pair<platform::Bytes, platform::StoredMessage>> pending;
    for (int64_t index = 0; index < messages; ++index) {
        Chat const& chat = people[random() % people.size()];
        uint32_t kind = random() % 100;
        int64_t time = end - two_years_ms + index * step + static_cast<int64_t>(random() % 1000);
        platform::StoredMessage message;
        message.properties[Tag::Subject] = std::u16string(texts[random() % texts.size()]);
        if (world_scripts && index % 3 == 1)
            message.properties[Tag::Subject] = std::u16string(world_texts[static_cast<size_t>(index / 3) % world_texts.size()]);
        message.properties[Tag::DeliveryTime] = MessageTime::from_unix_milliseconds(time).filetime();
        platform::Bytes const* folder = &*inbox;
        if (kind < 48) {
            bool unread = index > messages * 9 / 10 && random() % 3 == 0;
            message.properties[Tag::MessageFlags] = int64_t(unread ? 0 : platform::flag_read);
            message.properties[Tag::MessageClass] = std::u16string(u"IPM.SMStext");
            message.properties[Tag::SenderName] = chat.name;
            message.properties[Tag::SenderAddress] = chat.number;
        } else if (kind < 51) {
            message.properties[Tag::MessageFlags] = int64_t(platform::flag_read);
            message.properties[Tag::MessageClass] = std::u16string(kind < 50 ? u"REPORT.IPM.SMStext.DR" : u"REPORT.IPM.SMStext.NDR");
            message.properties[Tag::Subject] = u"Delivered to " + chat.number;
            message.properties[Tag::SenderName] = std::u16string();
            message.properties[Tag::SenderAddress] = chat.number;
        } else {
            // An outbox holds only what waits to go out: a few of the newest messages.
            bool waiting = kind >= 98 && index >= messages - 20;
            folder = kind < 95 ? &*sent : !waiting ? &*drafts : &*outbox;
            message.properties[Tag::MessageFlags] = int64_t(platform::flag_from_me | platform::flag_read | (kind >= 95 ? platform::flag_unsent : 0));
            if (waiting)
                message.properties[Tag::DeliveryReportRequested] = int64_t(0);
            message.properties[Tag::MessageClass] = std::u16string(u"IPM.SMStext");
            message.recipients.push_back({ { Tag::RecipientType, int64_t(1) }, { Tag::AddressType, std::u16string(u"SMS") },
                { Tag::DisplayName, chat.name }, { Tag::EmailAddress, chat.number } });
        }
        pending.emplace_back(*folder, std::move(message));
        if (pending.size() == batch) {
            if (auto created = store.create_messages(pending); !created)
                return created;
            pending.clear();
        }
    }
    if (pending.empty())
        return {};
    return store.create_messages(pending);
}

bool write_contacts(std::string const& folder, int32_t chats, int32_t contacts)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    char const* const types[] = { "CELL", "WORK", "HOME", "CELL" };
    for (int32_t chat = 0; chat < std::min(chats, contacts); ++chat) {
        std::string first = to_utf8(first_names[static_cast<size_t>(chat) % first_names.size()]);
        std::string family = family_names[static_cast<size_t>(chat) * 5 % family_names.size()];
        std::ofstream card(folder + "/contact-" + std::to_string(chat) + ".vcf", std::ios::binary | std::ios::trunc);
        card << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" << family << ";" << first << ";;;\r\nFN:" << first << " " << family << "\r\nTEL;TYPE="
             << types[chat % 4] << ":+49 151 " << to_utf8(subscriber_digits(chat)) << "\r\nEND:VCARD\r\n";
        if (!card)
            return false;
    }
    return true;
}

}
