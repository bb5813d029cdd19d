#include "platform/OutboxQueue.h"

#include "platform/MessageTables.h"
#include "platform/Process.h"

#include <ctime>
#include <unistd.h>

namespace velloq::platform {

namespace {

// A submitted message waits with 1, and is being sent with 2.
constexpr int64_t waiting = 1;
constexpr int64_t sending = 2;

enum Statement : size_t {
    Submitted,
    Claim,
    Release,
    Claims,
    ReleaseAbandoned,
    Transmitted,
    MarkTransmitted,
    StillClaimed,
    FollowSending,
    RememberSending,
    NoteTransmitted,
    UnsettledSends,
    FindSending,
    ForgetSending,
    FollowMms,
};

char const* const statement_sql[] = {
    "SELECT m.entry_id FROM messages m JOIN folders f ON f.id = m.folder WHERE f.tag = ?1 AND m.submitted = 1 ORDER BY m.id",
    "UPDATE messages SET submitted = ?2, claimed_pid = ?4, claimed_started = ?5 WHERE entry_id = ?1 AND submitted = ?3",
    "UPDATE messages SET submitted = ?2, claimed_pid = 0, claimed_started = 0 WHERE entry_id = ?1 AND submitted = ?3",
    "SELECT id, claimed_pid, claimed_started FROM messages WHERE submitted = 2",
    "UPDATE messages SET submitted = 1, claimed_pid = 0, claimed_started = 0 WHERE id = ?1 AND submitted = 2 AND claimed_pid = ?2 AND claimed_started = ?3",
    "SELECT t.row FROM transmitted t JOIN messages m ON m.id = t.message WHERE m.entry_id = ?1",
    "INSERT OR IGNORE INTO transmitted(message, row) SELECT id, ?2 FROM messages WHERE entry_id = ?1",
    // Only a message this transmitter claimed is moved.
    "SELECT m.id FROM messages m JOIN folders f ON f.id = m.folder WHERE m.entry_id = ?1 AND f.tag = ?2 AND m.submitted = 2",
    "UPDATE modem_sending SET message = ?2 WHERE message = ?1",
    "INSERT OR REPLACE INTO modem_sending(instance, path, message, row, since) VALUES(?1, ?2, ?3, ?4, ?5)",
    "INSERT OR IGNORE INTO transmitted(message, row) VALUES(?1, ?2)",
    "SELECT instance, path, since FROM modem_sending ORDER BY since",
    "SELECT message, row FROM modem_sending WHERE instance = ?1 AND path = ?2",
    "DELETE FROM modem_sending WHERE instance = ?1 AND path = ?2",
    "UPDATE mms_filed SET message = ?2 WHERE message = ?1",
};

}

StoreResult<std::unique_ptr<OutboxQueue>> OutboxQueue::open(MessageTables& tables)
{
    return open_store_part<OutboxQueue>(tables.database(), statement_sql, tables);
}

OutboxQueue::OutboxQueue(MessageTables& tables, StatementSet statements)
    : StorePart(tables, std::move(statements))
{
}

OutboxQueue::~OutboxQueue() = default;

StoreResult<std::vector<Bytes>> OutboxQueue::submitted_messages()
{
    StatementUse use(m_statements[Submitted]);
    use->bind(1, static_cast<int64_t>(Tag::OutboxEntryId));
    return m_tables.entry_ids(*use);
}

StoreResult<bool> OutboxQueue::claim_for_sending(Bytes const& entry)
{
    auto own_start = process_start_time(::getpid());
    StatementUse claim(m_statements[Claim]);
    claim->bind_blob(1, entry.data(), entry.size()).bind(2, sending).bind(3, waiting);
    claim->bind(4, static_cast<int64_t>(::getpid())).bind(5, static_cast<int64_t>(own_start.value_or(0)));
    if (!claim->execute())
        return m_tables.failure();
    bool claimed = m_tables.database().changes() == 1;
    m_tables.changed();
    return claimed;
}

StoreResult<bool> OutboxQueue::release_claim(Bytes const& entry)
{
    StatementUse release(m_statements[Release]);
    release->bind_blob(1, entry.data(), entry.size()).bind(2, waiting).bind(3, sending);
    if (!release->execute())
        return m_tables.failure();
    bool released = m_tables.database().changes() == 1;
    m_tables.changed();
    return released;
}

// The claims whose process is gone, or is another process under the same number: (row, pid, start).
StoreResult<std::vector<std::array<int64_t, 3>>> OutboxQueue::abandoned_claims()
{
    StatementUse claims(m_statements[Claims]);
    std::vector<std::array<int64_t, 3>> abandoned;
    while (claims->step()) {
        int64_t pid = claims->column_int(1);
        int64_t started = claims->column_int(2);
        auto running = process_start_time(pid);
        if (!running || static_cast<int64_t>(*running) != started)
            abandoned.push_back({ claims->column_int(0), pid, started });
    }
    if (claims->failed())
        return m_tables.failure();
    return abandoned;
}

StoreResult<size_t> OutboxQueue::release_abandoned_claims()
{
    auto abandoned = abandoned_claims();
    if (!abandoned)
        return abandoned.error();
    size_t released = 0;
    StatementUse release(m_statements[ReleaseAbandoned]);
    for (auto const& [row, pid, started] : *abandoned) {
        release->reset();
        release->bind(1, row).bind(2, pid).bind(3, started);
        if (!release->execute())
            return m_tables.failure();
        released += static_cast<size_t>(m_tables.database().changes());
    }
    if (released > 0)
        m_tables.changed();
    return released;
}

StoreResult<std::set<int64_t>> OutboxQueue::transmitted_recipients(Bytes const& entry)
{
    StatementUse use(m_statements[Transmitted]);
    use->bind_blob(1, entry.data(), entry.size());
    std::set<int64_t> rows;
    while (use->step())
        rows.insert(use->column_int(0));
    if (use->failed())
        return m_tables.failure();
    return rows;
}

StoreResult<void> OutboxQueue::mark_transmitted(Bytes const& entry, int64_t recipient_row)
{
    StatementUse use(m_statements[MarkTransmitted]);
    use->bind_blob(1, entry.data(), entry.size()).bind(2, recipient_row);
    if (!use->execute())
        return m_tables.failure();
    return {};
}

StoreResult<Bytes> OutboxQueue::move_to_sent(Bytes const& entry)
{
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    int64_t old_row = 0;
    {
        StatementUse claimed(m_statements[StillClaimed]);
        claimed->bind_blob(1, entry.data(), entry.size()).bind(2, static_cast<int64_t>(Tag::OutboxEntryId));
        if (!claimed->step())
            return claimed->failed() ? m_tables.failure() : StoreError::not_found("the message is no longer claimed for sending");
        old_row = claimed->column_int(0);
    }
    auto sent_folder = m_tables.folder_of_kind(Tag::SentEntryId);
    auto message = sent_folder ? m_tables.read_message(entry) : StoreResult<StoredMessage>(sent_folder.error());
    if (!message)
        return message.error();
    int64_t flags = number_of(message->properties, Tag::MessageFlags).value_or(0);
    message->properties[Tag::MessageFlags] = static_cast<int64_t>((flags & ~int64_t(flag_unsent)) | flag_from_me | flag_read);
    auto moved = m_tables.insert_message(*sent_folder, *message, false);
    if (!moved)
        return moved.error();
    if (auto removed = m_tables.remove_message(old_row); !removed)
        return removed.error();
    // A send the modem has still to confirm, and an MMS's path in the MMS service, follow their
    // message into Sent Items.
    StatementUse follow(m_statements[FollowSending]);
    StatementUse follow_mms(m_statements[FollowMms]);
    follow->bind(1, old_row).bind(2, m_tables.row_of_entry(*moved));
    follow_mms->bind(1, old_row).bind(2, m_tables.row_of_entry(*moved));
    if (!follow->execute() || !follow_mms->execute() || !transaction.commit())
        return m_tables.failure();
    m_tables.changed();
    return moved;
}

StoreResult<void> OutboxQueue::note_unsettled_send(Bytes const& entry, int64_t row, std::string const& instance, std::string const& path,
    PropertySet const& properties)
{
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    auto message = m_tables.message_row(entry);
    if (!message)
        return message.error();
    StatementUse remember(m_statements[RememberSending]);
    remember->bind(1, instance).bind(2, path).bind(3, *message).bind(4, row).bind(5, static_cast<int64_t>(std::time(nullptr)));
    StatementUse transmitted(m_statements[NoteTransmitted]);
    transmitted->bind(1, *message).bind(2, row);
    if (!remember->execute() || !transmitted->execute())
        return m_tables.failure();
    if (auto noted = m_tables.upsert_properties(*message, row, properties); !noted)
        return noted;
    if (!transaction.commit())
        return m_tables.failure();
    m_tables.changed();
    return {};
}

StoreResult<std::vector<OutboxQueue::UnsettledSend>> OutboxQueue::unsettled_sends()
{
    StatementUse rows(m_statements[UnsettledSends]);
    std::vector<UnsettledSend> sends;
    while (rows->step())
        sends.push_back({ rows->column_text(0), rows->column_text(1), rows->column_int(2) });
    if (rows->failed())
        return m_tables.failure();
    return sends;
}

StoreResult<bool> OutboxQueue::settle_send(std::string const& instance, std::string const& path, PropertySet const& outcome)
{
    SqliteTransaction transaction(m_tables.database(), SqliteTransaction::Kind::Immediate);
    if (!transaction.begun())
        return m_tables.failure();
    int64_t message = 0;
    int64_t row = 0;
    {
        StatementUse find(m_statements[FindSending]);
        find->bind(1, instance).bind(2, path);
        if (!find->step())
            return find->failed() ? StoreResult<bool>(m_tables.failure()) : StoreResult<bool>(false);
        message = find->column_int(0);
        row = find->column_int(1);
    }
    if (auto settled = m_tables.upsert_properties(message, row, outcome); !settled)
        return settled.error();
    StatementUse forget(m_statements[ForgetSending]);
    forget->bind(1, instance).bind(2, path);
    if (!forget->execute() || !transaction.commit())
        return m_tables.failure();
    m_tables.changed();
    return true;
}

}
