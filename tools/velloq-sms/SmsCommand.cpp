#include "SmsCommand.h"

#include "SyntheticStore.h"
#include "messaging/SmsManager.h"
#include "messaging/Transmitter.h"
#include "platform/Folders.h"
#include "platform/LocalSocket.h"
#include "platform/MessageStore.h"
#include "platform/Utf.h"

#include <unicode/calendar.h>
#include <unicode/simpletz.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>

namespace velloq::tools {

namespace {

using platform::Bytes;
namespace Tag = platform::Tag;

constexpr char const* usage = "usage: velloq-sms deliver [--report delivered|failed] --from NUMBER [--name NAME] [--time ISO-8601] TEXT"
                              " | list [--folder inbox|sent|drafts|outbox] | send --to NUMBER[,NUMBER...] TEXT | transmit"
                              " | delete ID | mark-read ID | seed --chats N --messages M [--seed S] [--contacts N]";

struct BadArguments {
    std::string why;
};

// Options of the form --name VALUE, and the remaining words in order.
struct Options {
    std::map<std::string, std::string> named;
    std::vector<std::string> words;
};

Options parse_options(std::vector<std::string> const& arguments, std::vector<std::string> const& known)
{
    Options options;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::string const& argument = arguments[i];
        if (argument.rfind("--", 0) == 0 && argument.size() > 2) {
            std::string name = argument.substr(2);
            if (std::find(known.begin(), known.end(), name) == known.end())
                throw BadArguments { "unknown option " + argument };
            if (i + 1 >= arguments.size())
                throw BadArguments { "option " + argument + " needs a value" };
            options.named[name] = arguments[++i];
        } else {
            options.words.push_back(argument);
        }
    }
    return options;
}

int64_t parse_count(std::string const& text, char const* what)
{
    int64_t value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0)
        throw BadArguments { std::string(what) + " is not a count: " + text };
    return value;
}

std::string one_text(Options const& options, char const* command)
{
    if (options.words.size() != 1)
        throw BadArguments { std::string(command) + " takes one text" };
    return options.words.front();
}

std::optional<FolderKind> folder_from_name(std::string const& name)
{
    static std::map<std::string, FolderKind> const folders { { "inbox", FolderKind::Incoming }, { "sent", FolderKind::Sent },
        { "drafts", FolderKind::Drafts }, { "outbox", FolderKind::Outbox } };
    auto found = folders.find(name);
    return found == folders.end() ? std::nullopt : std::optional<FolderKind>(found->second);
}

char const* folder_name(FolderKind kind)
{
    switch (kind) {
    case FolderKind::Incoming:
        return "inbox";
    case FolderKind::Sent:
        return "sent";
    case FolderKind::Drafts:
        return "drafts";
    case FolderKind::Outbox:
        return "outbox";
    }
    return "";
}

std::string iso_local(MessageTime const& time)
{
    LocalTime local = time.local();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.year, local.month, local.day, local.hour, local.minute, local.second);
    return text;
}

// A message's texts never reach the terminal raw: they could drive it.
std::string escaped(std::u16string const& text)
{
    return terminal_text(text);
}

std::string peer_text(Correspondent const& peer)
{
    std::string address = terminal_text(peer.address);
    return peer.name.empty() ? address : terminal_text(peer.name) + " <" + address + ">";
}

std::unique_ptr<platform::MessageStore> open_store(std::ostream& err)
{
    std::string error;
    auto store = platform::MessageStore::open_device(error);
    if (!store)
        err << "velloq-sms: the message store cannot be opened: " << error << "\n";
    return store;
}

// Finds the folder a message lies in, for the commands that take only an id.
std::optional<FolderKind> folder_of(SmsManager& manager, EntryId const& id)
{
    for (FolderKind kind : { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox }) {
        int32_t length = manager.get_length(kind);
        for (int32_t index = 0; index < length; ++index) {
            if (manager.get_id(kind, index) == id)
                return kind;
        }
    }
    return std::nullopt;
}

EntryId id_from_hex(std::string const& hex)
{
    std::vector<uint8_t> bytes;
    if (hex.empty() || hex.size() % 2 != 0)
        throw BadArguments { "not a message id: " + hex };
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        auto result = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (result.ec != std::errc() || result.ptr != hex.data() + i + 2)
            throw BadArguments { "not a message id: " + hex };
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return EntryId(std::move(bytes));
}

SmsExit deliver(Options const& options, std::ostream& err)
{
    std::string text = one_text(options, "deliver");
    if (!options.named.contains("from"))
        throw BadArguments { "deliver needs --from NUMBER" };
    int64_t time = MessageTime::now().unix_milliseconds();
    if (options.named.contains("time")) {
        auto parsed = parse_iso_time(options.named.at("time"));
        if (!parsed)
            throw BadArguments { "not an ISO-8601 time: " + options.named.at("time") };
        time = *parsed;
    }
    std::u16string message_class = u"IPM.SMStext";
    if (options.named.contains("report")) {
        std::string const& report = options.named.at("report");
        if (report != "delivered" && report != "failed")
            throw BadArguments { "--report is delivered or failed" };
        message_class = report == "delivered" ? u"REPORT.IPM.SMStext.DR" : u"REPORT.IPM.SMStext.NDR";
    }
    auto store = open_store(err);
    if (!store)
        return SmsExit::StoreUnavailable;
    platform::StoredMessage message;
    message.properties = { { Tag::MessageClass, message_class }, { Tag::Subject, to_utf16(text) }, { Tag::MessageFlags, int64_t(0) },
        { Tag::DeliveryTime, MessageTime::from_unix_milliseconds(time).filetime() },
        { Tag::SenderName, to_utf16(options.named.contains("name") ? options.named.at("name") : "") },
        { Tag::SenderAddress, to_utf16(options.named.at("from")) } };
    auto inbox = store->folder(Tag::InboxEntryId);
    auto stored = inbox ? store->create_message(*inbox, message, false) : platform::StoreResult<platform::Bytes>(inbox.error());
    if (!stored) {
        err << "velloq-sms: the message could not be stored: " << stored.error().text << "\n";
        return SmsExit::StoreUnavailable;
    }
    // The message is stored, but nothing wakes the program for it: the caller must hear of it.
    if (!store->unread_count_published()) {
        err << "velloq-sms: the message was stored, but " << store->unread_count_error() << "\n";
        return SmsExit::StoreUnavailable;
    }
    return SmsExit::Ok;
}

SmsExit list(Options const& options, std::ostream& out, std::ostream& err)
{
    if (!options.words.empty())
        throw BadArguments { "list takes no text" };
    std::vector<FolderKind> folders { FolderKind::Incoming, FolderKind::Sent, FolderKind::Drafts, FolderKind::Outbox };
    if (options.named.contains("folder")) {
        auto chosen = folder_from_name(options.named.at("folder"));
        if (!chosen)
            throw BadArguments { "unknown folder " + options.named.at("folder") };
        folders = { *chosen };
    }
    if (!open_store(err))
        return SmsExit::StoreUnavailable;
    SmsManager manager;
    for (FolderKind kind : folders) {
        int32_t length = manager.get_length(kind);
        for (int32_t index = 0; index < length; ++index) {
            MessageRecord record;
            if (!manager.read_sms(manager.get_id(kind, index), record))
                continue;
            char flags[16];
            std::snprintf(flags, sizeof flags, "0x%x", record.flags);
            out << folder_name(kind) << "\t" << record.id.hex() << "\t" << flags << "\t" << iso_local(record.time) << "\t"
                << peer_text(record.peer()) << "\t" << escaped(record.text) << "\n";
        }
    }
    return SmsExit::Ok;
}

SmsExit send(Options const& options, std::ostream& err)
{
    std::string text = one_text(options, "send");
    if (!options.named.contains("to"))
        throw BadArguments { "send needs --to NUMBER[,NUMBER...]" };
    std::vector<Correspondent> recipients;
    std::string const& to = options.named.at("to");
    for (size_t start = 0; start <= to.size();) {
        size_t comma = to.find(',', start);
        std::string number = to.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (number.empty())
            throw BadArguments { "empty number in --to" };
        recipients.push_back({ {}, to_utf16(number) });
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (!open_store(err))
        return SmsExit::StoreUnavailable;
    SmsManager manager;
    if (!manager.send(recipients, to_utf16(text))) {
        err << "velloq-sms: the message could not be submitted\n";
        return SmsExit::StoreUnavailable;
    }
    return SmsExit::Ok;
}

SmsExit on_one_message(Options const& options, std::ostream& err, bool remove)
{
    if (options.words.size() != 1)
        throw BadArguments { "give one message id" };
    EntryId id = id_from_hex(options.words.front());
    if (!open_store(err))
        return SmsExit::StoreUnavailable;
    SmsManager manager;
    auto kind = folder_of(manager, id);
    if (!kind) {
        err << "velloq-sms: no message " << options.words.front() << "\n";
        return SmsExit::StoreUnavailable;
    }
    MessageRecord record;
    record.id = id;
    bool done = remove ? manager.delete_message(*kind, record) : manager.set_sms_read(id, true);
    if (!done) {
        err << "velloq-sms: the store refused the change\n";
        return SmsExit::StoreUnavailable;
    }
    return SmsExit::Ok;
}

void print_result(TransmitResult const& result, std::ostream& out)
{
    out << "sent " << result.sent << ", reports " << result.reports << ", failed " << result.failed << "\n";
}

SmsExit transmit(Options const& options, std::ostream& out, std::ostream& err)
{
    if (!options.words.empty())
        throw BadArguments { "transmit takes no text" };
    auto store = open_store(err);
    if (!store)
        return SmsExit::StoreUnavailable;
    if (loopback_modem_chosen()) {
        LoopbackModem modem;
        print_result(transmit_outbox(*store, modem), out);
        return SmsExit::Ok;
    }
    // The phone's modem belongs to the modem service, which sends and answers with what it did.
    if (auto answer = platform::ask_service(modem_service_socket(), "transmit", modem_service_patience_seconds)) {
        out << *answer << "\n";
        TransmitResult result;
        bool read = std::sscanf(answer->c_str(), "sent %d, reports %d, failed %d", &result.sent, &result.reports, &result.failed) == 3;
        return read && result.failed == 0 ? SmsExit::Ok : SmsExit::NotSent;
    }
    AbsentModem modem(u"the modem service is not running");
    TransmitResult result = transmit_outbox(*store, modem);
    print_result(result, out);
    if (result.failed == 0)
        return SmsExit::Ok;
    err << "velloq-sms: the modem service (velloq-modem) is not running; the messages wait in the outbox\n";
    return SmsExit::NotSent;
}

SmsExit seed(Options const& options, std::ostream& out, std::ostream& err)
{
    if (!options.words.empty() || !options.named.contains("chats") || !options.named.contains("messages"))
        throw BadArguments { "seed needs --chats N --messages M" };
    int64_t chats = parse_count(options.named.at("chats"), "--chats");
    int64_t messages = parse_count(options.named.at("messages"), "--messages");
    uint32_t random_seed = static_cast<uint32_t>(options.named.contains("seed") ? parse_count(options.named.at("seed"), "--seed") : 1);
    if (chats < 1 && messages > 0)
        throw BadArguments { "--chats must be at least 1" };
    auto store = open_store(err);
    if (!store)
        return SmsExit::StoreUnavailable;
    if (auto seeded = seed_store(*store, static_cast<int32_t>(chats), messages, random_seed); !seeded) {
        err << "velloq-sms: the messages could not be stored: " << seeded.error().text << "\n";
        return SmsExit::StoreUnavailable;
    }
    out << "seeded " << messages << " messages in " << chats << " chats\n";
    if (options.named.contains("contacts")) {
        int64_t contacts = parse_count(options.named.at("contacts"), "--contacts");
        std::string folder = platform::device_folder() + "/contacts";
        if (!write_contacts(folder, static_cast<int32_t>(chats), static_cast<int32_t>(contacts))) {
            err << "velloq-sms: the contacts could not be written to " << folder << "\n";
            return SmsExit::StoreUnavailable;
        }
        out << "wrote " << std::min(chats, contacts) << " contacts to " << folder << "\n";
    }
    return SmsExit::Ok;
}

}

std::optional<int64_t> parse_iso_time(std::string const& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%n", &year, &month, &day, &hour, &minute, &consumed) != 5)
        return std::nullopt;
    std::string rest = text.substr(static_cast<size_t>(consumed));
    if (!rest.empty() && rest[0] == ':') {
        int used = 0;
        if (std::sscanf(rest.c_str(), ":%2d%n", &second, &used) != 1)
            return std::nullopt;
        rest = rest.substr(static_cast<size_t>(used));
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    if (rest == "Z") {
        zone.reset(icu::TimeZone::createTimeZone("UTC"));
    } else if (!rest.empty()) {
        int offset_hours = 0, offset_minutes = 0;
        char sign = rest[0];
        if ((sign != '+' && sign != '-') || std::sscanf(rest.c_str() + 1, "%2d:%2d", &offset_hours, &offset_minutes) != 2)
            return std::nullopt;
        int32_t offset = (offset_hours * 60 + offset_minutes) * 60000 * (sign == '-' ? -1 : 1);
        zone = std::make_unique<icu::SimpleTimeZone>(offset, icu::UnicodeString(u"offset"));
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(zone.release(), status));
    if (U_FAILURE(status))
        return std::nullopt;
    calendar->clear();
    calendar->set(year, month - 1, day, hour, minute, second);
    UDate instant = calendar->getTime(status);
    return U_FAILURE(status) ? std::nullopt : std::optional<int64_t>(static_cast<int64_t>(instant));
}

SmsExit run_sms_command(std::vector<std::string> const& arguments, std::ostream& out, std::ostream& err)
{
    try {
        if (arguments.empty())
            throw BadArguments { "no command" };
        std::string const& command = arguments.front();
        if (command == "deliver")
            return deliver(parse_options(arguments, { "from", "name", "time", "report" }), err);
        if (command == "list")
            return list(parse_options(arguments, { "folder" }), out, err);
        if (command == "send")
            return send(parse_options(arguments, { "to" }), err);
        if (command == "transmit")
            return transmit(parse_options(arguments, {}), out, err);
        if (command == "delete")
            return on_one_message(parse_options(arguments, {}), err, true);
        if (command == "mark-read")
            return on_one_message(parse_options(arguments, {}), err, false);
        if (command == "seed")
            return seed(parse_options(arguments, { "chats", "messages", "seed", "contacts" }), out, err);
        throw BadArguments { "unknown command " + command };
    } catch (BadArguments const& bad) {
        err << "velloq-sms: " << bad.why << " (" << usage << ")\n";
        return SmsExit::BadArguments;
    }
}

}
