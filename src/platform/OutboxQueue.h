#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"
#include "platform/StorePart.h"

#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace velloq::platform {

class MessageTables;

// The transmitter's part of the message store: the submitted outbox messages, each claimed by
// one transmitter at a time, the recipients each went to, sends the modem has still to confirm,
// and the move of a sent message to Sent Items under a new entry id. The move is one
// transaction, so a message is never transmitted twice.
class OutboxQueue : StorePart {
public:
    static StoreResult<std::unique_ptr<OutboxQueue>> open(MessageTables&);
    ~OutboxQueue();

    StoreResult<std::vector<Bytes>> submitted_messages();
    // Takes a submitted message for sending; true when this transmitter got it (only one ever does).
    StoreResult<bool> claim_for_sending(Bytes const& entry);
    // Gives a claimed message back to the queue (the modem could not send it); false when it was
    // not claimed.
    StoreResult<bool> release_claim(Bytes const& entry);
    // Gives back the claims of transmitters that are no longer running (killed, crashed); a
    // living transmitter's claims stay. The number given back.
    StoreResult<size_t> release_abandoned_claims();
    // The recipient rows a message already went to, and noting one more.
    StoreResult<std::set<int64_t>> transmitted_recipients(Bytes const& entry);
    StoreResult<void> mark_transmitted(Bytes const& entry, int64_t recipient_row);
    // The entry id of the message in Sent Items; an error when this transmitter no longer holds
    // the claim or the store fails.
    StoreResult<Bytes> move_to_sent(Bytes const& entry);

    // A send whose outcome the modem has not told (its call timed out): the recipient is noted as
    // transmitted, so nothing sends it again, in state `properties`, and remembered under the
    // modem's message (`instance`, the ModemManager that holds it, and `path`) until settled.
    StoreResult<void> note_unsettled_send(Bytes const& entry, int64_t row, std::string const& instance, std::string const& path,
        PropertySet const& properties);
    struct UnsettledSend {
        std::string instance;
        std::string path;
        int64_t since { 0 };
    };
    StoreResult<std::vector<UnsettledSend>> unsettled_sends();
    // Gives the recipient of an unsettled send its outcome and forgets the send; false when no
    // such send is remembered.
    StoreResult<bool> settle_send(std::string const& instance, std::string const& path, PropertySet const& outcome);

private:
    template<typename Part, typename... Extra>
    friend StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase&, std::span<char const* const>, MessageTables&, Extra&&...);
    OutboxQueue(MessageTables&, StatementSet);
    StoreResult<std::vector<std::array<int64_t, 3>>> abandoned_claims();

};

}
