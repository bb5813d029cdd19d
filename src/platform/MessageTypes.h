#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velloq::platform {

// What the message store holds: messages as property sets keyed by MAPI property tags, with a
// recipient table per message.
using Bytes = std::vector<uint8_t>;
using PropertyValue = std::variant<int64_t, std::u16string, Bytes>;
using PropertySet = std::map<uint32_t, PropertyValue>;

namespace Tag {
constexpr uint32_t EntryId = 0x0FFF0102;
constexpr uint32_t DisplayName = 0x3001001F;
constexpr uint32_t InboxEntryId = 0x81060102;
constexpr uint32_t SentEntryId = 0x35E40102;
constexpr uint32_t DraftsEntryId = 0x81040102;
constexpr uint32_t OutboxEntryId = 0x35E20102;
constexpr uint32_t RootEntryId = 0x35E00102;
constexpr uint32_t MessageFlags = 0x0E070003;
constexpr uint32_t Subject = 0x0037001F;
constexpr uint32_t DeliveryTime = 0x0E060040;
constexpr uint32_t LastModificationTime = 0x30080040;
constexpr uint32_t SenderName = 0x0C1A001F;
constexpr uint32_t SenderAddress = 0x0C1F001F;
constexpr uint32_t MessageClass = 0x001A001F;
constexpr uint32_t EmailAddress = 0x3003001F;
constexpr uint32_t MessageStatus = 0x0E170003;
constexpr uint32_t DeliveryReportRequested = 0x0C12000B;
constexpr uint32_t RecipientType = 0x0C150003;
constexpr uint32_t AddressType = 0x3002001F;
// The store's own properties of an outgoing message, kept per recipient row: how far it got
// (RecipientState, a SendState), the modem's message reference and when it went out, and why it did not.
constexpr uint32_t RecipientState = 0x66010003;
constexpr uint32_t MessageReference = 0x66020003;
constexpr uint32_t SentTime = 0x66030040;
constexpr uint32_t SendError = 0x6604001F;
// On a delivery or non-delivery report: the entry id of the sent message it is about.
constexpr uint32_t ReportedMessage = 0x66050102;
// On an MMS, which stays in the phone's MMS service: its parts other than text, a line each
// ("content type", offset, length and file, tab-separated: the part is that range of the file),
// and the people it went to besides its sender, a line each (the user among them).
constexpr uint32_t MmsParts = 0x6606001F;
constexpr uint32_t MmsMembers = 0x6607001F;
}

constexpr uint32_t flag_read = 0x01;
constexpr uint32_t flag_unsent = 0x08;
constexpr uint32_t flag_from_me = 0x20;

// The property set PS_MAPI {00020328-0000-0000-C000-000000000046}.
extern Bytes const ps_mapi;

// A property of a set, when it is there with the type its tag says.
std::optional<int64_t> number_of(PropertySet const& properties, uint32_t tag);
std::optional<std::u16string> text_of(PropertySet const& properties, uint32_t tag);

struct StoreRow {
    Bytes entry_id;
    std::u16string display_name;
};

struct StoredMessage {
    PropertySet properties;
    std::vector<PropertySet> recipients;
};

// Why the store could not do what it was asked: what it was asked for is not there, or the
// database failed (busy past its timeout, damaged, full), with the database's own words.
struct StoreError {
    enum class Kind { NotFound, Failed };
    Kind kind { Kind::Failed };
    std::string text;

    static StoreError not_found(std::string text) { return { Kind::NotFound, std::move(text) }; }
    static StoreError failed(std::string text) { return { Kind::Failed, std::move(text) }; }
};

template<typename T>
using StoreResult = Result<T, StoreError>;

}
