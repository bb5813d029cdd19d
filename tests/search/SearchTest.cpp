#include "messaging/MmsInbox.h"
#include "search/BackgroundSearch.h"
#include "search/MessageSearch.h"
#include "search/SearchIndexer.h"
#include "search/SearchText.h"
#include "search/StoreSearch.h"

#include "messaging/ChatModel.h"
#include "platform/MessageStore.h"
#include "platform/SqliteDatabase.h"
#include "platform/Utf.h"
#include "shell/Registry.h"
#include "support/TempDevice.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace velloq;
using platform::Bytes;
using platform::StoredMessage;
namespace Tag = platform::Tag;

TEST(SearchText, NumbersAreFoundHoweverTheyWereSpelled)
{
    auto numbers = numbers_in_text(u"Call +49 151 2345678 or (0151) 234-5678, room 12, code 0049 30 1234");
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[0].digits, "491512345678");
    EXPECT_EQ(numbers[0].national, "1512345678");
    EXPECT_EQ(numbers[1].national, "1512345678");
    EXPECT_EQ(numbers[2].national, "301234");
    EXPECT_EQ(national_digits("12125550100", true), "2125550100");
    EXPECT_EQ(national_digits("79161234567", true), "9161234567");
    EXPECT_EQ(national_digits("380501234567", true), "501234567");
    EXPECT_EQ(number_terms(u"no numbers, 12 34"), "");

    EXPECT_EQ(word_marks(u"a word, sword and wordy", { u"word" }), (std::vector<std::pair<size_t, size_t>> { { 2, 6 }, { 18, 23 } }));
    EXPECT_EQ(make_search_query(u"don't").words, (std::vector<std::u16string> { u"don", u"t" }));
}

TEST(SearchText, WhatIsTypedNeverBreaksOrSteersTheQuery)
{
    EXPECT_EQ(make_search_query(u"Über").match, "body : \"Über\"*");
    EXPECT_EQ(make_search_query(u"say \"hi\" OR").match, "body : \"say\"* AND body : \"\"\"hi\"\"\"* AND body : \"OR\"*");
    EXPECT_TRUE(make_search_query(u"  ... !!").match.empty());
    EXPECT_TRUE(make_search_query(u"").match.empty());
    SearchQuery number = make_search_query(u"+49 151");
    EXPECT_EQ(number.number, "151");
    EXPECT_EQ(number.match, "numbers : (\"151\"* OR \"49151\"*) OR body : \"+49 151\"*");
}

namespace {

class SearchTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_NE(store, nullptr) << error;
        auto sms = store->stores()->front().entry_id;
        inbox = *store->store_property(sms, Tag::InboxEntryId);
    }
    Bytes deliver(std::u16string address, std::u16string text, int64_t minute)
    {
        auto entry = store->create_message(inbox, incoming(std::move(address), std::move(text), minute), false);
        EXPECT_TRUE(entry);
        return entry.value_or(Bytes {});
    }
    // `count` messages in one transaction, as an imported history arrives.
    void deliver_many(int count)
    {
        std::vector<std::pair<Bytes, StoredMessage>> messages;
        for (int n = 0; n < count; ++n)
            messages.emplace_back(inbox, incoming(u"+49151" + to_u16_decimal(10000000 + n % 50), u"apple number " + to_u16_decimal(n), n));
        ASSERT_TRUE(store->create_messages(messages));
    }
    static StoredMessage incoming(std::u16string address, std::u16string text, int64_t minute)
    {
        StoredMessage message;
        message.properties = { { Tag::Subject, std::move(text) }, { Tag::MessageFlags, int64_t(1) },
            { Tag::DeliveryTime, MessageTime::from_unix_milliseconds(1'700'000'000'000LL + minute * 60'000).filetime() },
            { Tag::SenderName, std::u16string() }, { Tag::SenderAddress, std::move(address) }, { Tag::MessageClass, std::u16string(u"IPM.SMStext") } };
        return message;
    }
    // The counts of the indexer's "N messages indexed" log lines.
    std::vector<int64_t> indexed_counts()
    {
        std::vector<int64_t> counts;
        for (auto const& line : device.log_lines(u"search index: "))
            if (line.find(u" messages indexed in ") != std::u16string::npos)
                counts.push_back(std::stoll(to_utf8(line.substr(14))));
        return counts;
    }
    // A search as the search form's thread makes it, without a background indexer.
    static std::vector<SearchResult> search_now(ChatModel& model, std::u16string const& typed, size_t offset, size_t limit)
    {
        StoreSearch search(model.sms());
        if (offset == 0)
            search.catch_up();
        auto results = find_messages(search, typed, offset, limit);
        name_results_by_chat(model, results);
        return results;
    }
    std::vector<std::u16string> found(std::u16string const& typed)
    {
        ChatModel model({ (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER });
        model.update_chats(false);
        std::vector<std::u16string> texts;
        for (auto const& result : search_now(model, typed, 0, 50))
            texts.push_back(result.text);
        return texts;
    }

    test::TempDevice device;
    std::unique_ptr<platform::MessageStore> store;
    Bytes inbox;
};

}

TEST_F(SearchTest, CaseAccentsScriptsWordBeginningsAndNumbers)
{
    deliver(u"+4915110000001", u"Das Café ist GESCHLOSSEN", 1);
    deliver(u"+4915110000002", u"Ёлка стоит во дворе", 2);
    deliver(u"+4915110000003", u"Καλημέρα φίλε", 3);
    deliver(u"+4915110000004", u"Ruf mich an: 0151 2345678", 4);
    deliver(u"+4915110000005", u"nothing to see", 5);
    EXPECT_EQ(found(u"cafe"), std::vector<std::u16string> { u"Das Café ist GESCHLOSSEN" });
    EXPECT_EQ(found(u"geschl"), std::vector<std::u16string> { u"Das Café ist GESCHLOSSEN" });
    EXPECT_EQ(found(u"елка"), std::vector<std::u16string> { u"Ёлка стоит во дворе" });
    EXPECT_EQ(found(u"ДВОР"), std::vector<std::u16string> { u"Ёлка стоит во дворе" });
    EXPECT_EQ(found(u"καλημερα"), std::vector<std::u16string> { u"Καλημέρα φίλε" });
    EXPECT_EQ(found(u"+49 151"), std::vector<std::u16string> { u"Ruf mich an: 0151 2345678" });
    EXPECT_EQ(found(u"0151 234"), std::vector<std::u16string> { u"Ruf mich an: 0151 2345678" });
    EXPECT_TRUE(found(u"feh").empty());
    // Inside a word is not a word beginning.
    EXPECT_TRUE(found(u"afe").empty());
}

TEST_F(SearchTest, ShortNumbersAreFoundAmongTheWords)
{
    deliver(u"+4915110000001", u"See you in the year 2024", 1);
    deliver(u"+4915110000002", u"We are in room 123", 2);
    deliver(u"+4915110000003", u"Your code is 4821", 3);
    deliver(u"+4915110000004", u"That makes 12.50 EUR", 4);
    EXPECT_EQ(found(u"2024"), std::vector<std::u16string> { u"See you in the year 2024" });
    EXPECT_EQ(found(u"123"), std::vector<std::u16string> { u"We are in room 123" });
    EXPECT_EQ(found(u"4821"), std::vector<std::u16string> { u"Your code is 4821" });
    EXPECT_EQ(found(u"12.50"), std::vector<std::u16string> { u"That makes 12.50 EUR" });
    EXPECT_TRUE(found(u"482").size() == 1u) << "a digit query matches the beginning of a number";
}

TEST_F(SearchTest, NewestFirstWithTheChatAndTheMatchingWordsMarked)
{
    deliver(u"+4915110000001", u"lunch at noon?", 1);
    deliver(u"+4915110000002", u"Lunch tomorrow, lunch today", 30);
    deliver(u"+4915110000001", u"no lunch for me", 20);
    ChatModel model({ (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER });
    model.update_chats(false);
    auto results = search_now(model, u"lunch", 0, 50);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].text, u"Lunch tomorrow, lunch today");
    EXPECT_EQ(results[0].marks, (std::vector<std::pair<size_t, size_t>> { { 0, 5 }, { 16, 21 } }));
    EXPECT_EQ(results[0].chat_key, u"0000002");
    EXPECT_EQ(results[1].text, u"no lunch for me");
    EXPECT_EQ(results[2].text, u"lunch at noon?");
    auto rest = search_now(model, u"lunch", 1, 5);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].text, u"no lunch for me");
    auto number = search_now(model, u"0151 1000", 0, 50);
    EXPECT_TRUE(number.empty());
}

// Typing is searched on a thread of its own: a burst of texts ends in the answer to the last,
// found on the search's own connection, with what was delivered just before it; the background
// indexer, when there is one, takes in the new message, and the search itself writes nothing.
TEST_F(SearchTest, TypingIsSearchedOnItsOwnThreadAndTheLastTextIsAnswered)
{
    deliver(u"+4915110000001", u"lunch at noon?", 1);
    for (bool with_indexer : { false, true }) {
        std::optional<SearchIndexer> indexer;
        if (with_indexer)
            indexer.emplace();
        std::atomic<int> answers { 0 };
        BackgroundSearch search(indexer ? &*indexer : nullptr, [&] { ++answers; });
        deliver(u"+4915110000002", with_indexer ? u"launch party" : u"lunch later", 2);
        for (char16_t const* typed : { u"l", u"la", u"lau", u"laun" })
            search.request(typed, 0, 50);
        search.request(with_indexer ? u"launch" : u"lunch", 0, 50);
        ASSERT_TRUE(test::wait_until([&] { return !search.busy(); }));
        auto answer = search.take_answer();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->typed, with_indexer ? u"launch" : u"lunch");
        ASSERT_FALSE(answer->results.empty());
        EXPECT_EQ(answer->results[0].text, with_indexer ? u"launch party" : u"lunch later");
        EXPECT_GE(answers, 1);
        EXPECT_FALSE(search.take_answer()) << "an answer is taken once";
        // The text cleared: what was asked is dropped, and nothing waits for an answer.
        search.request(u"lunch", 0, 50);
        search.cancel();
        EXPECT_FALSE(search.busy());
        EXPECT_FALSE(search.take_answer());
    }
}

TEST_F(SearchTest, TheIndexFollowsChangesAndDeletionsAndAnOlderStoreIsIndexedWhole)
{
    Bytes gone = deliver(u"+4915110000001", u"delete me later", 1);
    deliver(u"+4915110000002", u"keep me", 2);
    EXPECT_EQ(found(u"me").size(), 2u);
    ASSERT_TRUE(store->delete_message(inbox, gone));
    ASSERT_TRUE(store->set_properties(deliver(u"+4915110000003", u"first words", 3), { { Tag::Subject, std::u16string(u"second words") } }));
    EXPECT_EQ(found(u"me"), std::vector<std::u16string> { u"keep me" });
    EXPECT_EQ(found(u"words"), std::vector<std::u16string> { u"second words" });
    EXPECT_TRUE(found(u"first").empty());

    // A store from before the index: its messages are all noted when it is opened.
    store.reset();
    std::string error;
    {
        auto database = platform::SqliteDatabase::open((device.path() / "messages.db").string(), 2000, error);
        ASSERT_TRUE(database);
        ASSERT_TRUE(database->execute("DROP TABLE message_search; DROP TABLE search_pending; DROP TRIGGER search_text_in; "
                                      "DROP TRIGGER search_text_changed; DROP TRIGGER search_text_out; DROP TRIGGER search_message_out; "
                                      "PRAGMA user_version = 4;"))
            << database->error();
    }
    store = platform::MessageStore::open_device(error);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->search_index().backlog(), 2);
    EXPECT_EQ(found(u"keep"), std::vector<std::u16string> { u"keep me" });
    EXPECT_EQ(store->search_index().backlog(), 0);
}

TEST_F(SearchTest, AnotherProgramWritingThePlainTablesIsNeverRefused)
{
    deliver(u"+4915110000001", u"before", 1);
    found(u"before");
    std::string error;
    auto database = platform::SqliteDatabase::open((device.path() / "messages.db").string(), 2000, error);
    ASSERT_TRUE(database);
    // What another program's plain SQL does: no function or table of the index is needed.
    EXPECT_TRUE(database->execute("UPDATE properties SET value = 'after' WHERE tag = 3604511"));
    // Twice, so a note is already there: an upsert applies its conflict rule to the triggers too.
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(database->execute("INSERT INTO properties(message, tag, value) SELECT MAX(id), 3604511, 'again' FROM messages WHERE true "
                                      "ON CONFLICT(message, tag) DO UPDATE SET value = excluded.value"))
            << database->error();
        EXPECT_TRUE(database->execute("INSERT OR REPLACE INTO properties(message, tag, value) SELECT MAX(id), 3604511, 'replaced' FROM messages"))
            << database->error();
    }
    EXPECT_TRUE(database->execute("DELETE FROM messages WHERE id = (SELECT MAX(id) FROM messages)"));
    EXPECT_TRUE(found(u"before").empty());
}

TEST_F(SearchTest, ALostOrDamagedIndexAndLostNotesAreMadeAgain)
{
    for (int minute = 0; minute < 20; ++minute)
        deliver(u"+4915110000001", u"message number " + to_utf16(std::to_string(minute)), minute);
    EXPECT_EQ(found(u"message").size(), 20u);
    EXPECT_EQ(store->search_index().rebuild_if_needed(), false);
    auto damage = [&](char const* sql) {
        std::string error;
        auto database = platform::SqliteDatabase::open((device.path() / "messages.db").string(), 2000, error);
        ASSERT_TRUE(database && database->execute(sql)) << error;
    };
    // The index dropped, or its data damaged: made again at the check, found again.
    for (char const* sql : { "DROP TABLE message_search", "DELETE FROM message_search_data" }) {
        store.reset();
        damage(sql);
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_TRUE(store) << error;
        EXPECT_EQ(store->search_index().rebuild_if_needed(), true) << sql << ": " ;
        EXPECT_EQ(store->search_index().backlog(), 20) << sql;
        EXPECT_EQ(found(u"message").size(), 20u) << sql;
        EXPECT_EQ(store->search_index().rebuild_if_needed(), false) << sql;
    }
    // Damage the check cannot see: the search that meets it makes the index again and finds.
    store.reset();
    damage("DROP TABLE message_search_idx");
    {
        std::string error;
        store = platform::MessageStore::open_device(error);
        ASSERT_TRUE(store) << error;
    }
    EXPECT_EQ(found(u"message").size(), 20u);
    EXPECT_EQ(store->search_index().rebuild_if_needed(), false);
    // The notes' table dropped: the store is repaired when opened, and deliveries go on.
    store.reset();
    damage("DROP TABLE search_pending");
    std::string error;
    store = platform::MessageStore::open_device(error);
    ASSERT_TRUE(store) << error;
    deliver(u"+4915110000002", u"after the repair", 30);
    EXPECT_EQ(found(u"repair"), std::vector<std::u16string> { u"after the repair" });
}

TEST_F(SearchTest, TheBackgroundIndexerFollowsAnotherProgramsChanges)
{
    Bytes entry = deliver(u"+4915110000001", u"first words", 1);
    ChatModel model({ (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER });
    SearchIndexer indexer;
    indexer.follow(model.sms().change_count(), model.update_chats(false));
    ASSERT_TRUE(test::wait_until([&] { return store->search_index().backlog() == 0; }));
    // Another program changes a text: no new message for the chats, yet the index must follow.
    ASSERT_TRUE(store->set_properties(entry, { { Tag::Subject, std::u16string(u"second words") } }));
    ASSERT_EQ(store->search_index().backlog(), 1);
    bool changed = model.update_chats(true);
    EXPECT_FALSE(changed);
    indexer.follow(model.sms().change_count(), changed);
    EXPECT_TRUE(test::wait_until([&] { return store->search_index().backlog() == 0; }));
}

// The background indexer works through a backlog of many transactions on its own connection and
// says how much it did; stopped midway (the program quits), it leaves the rest for the next
// start, and between the two every message is indexed once.
TEST_F(SearchTest, TheIndexerThreadWorksThroughABacklogAndAStoppedOneLeavesTheRestToTheNext)
{
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    constexpr int messages = 10000;
    deliver_many(messages);
    ASSERT_EQ(store->search_index().backlog(), messages);
    {
        SearchIndexer first;
        // Stopped once its first transactions are in, while most of the backlog still waits.
        ASSERT_TRUE(test::wait_until([&] { return store->search_index().backlog().value_or(messages) < messages; }));
    }
    ASSERT_TRUE(store->search_index().backlog().ok());
    {
        SearchIndexer second;
        ASSERT_TRUE(test::wait_until([&] { return store->search_index().backlog() == 0; }));
    }
    auto counts = indexed_counts();
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), int64_t(0)), messages);
    // Nothing was lost between the two: every message is found by its own words.
    ChatModel model({ (device.path() / "cache").u16string(), u"" VELLOQ_TEST_MARKER });
    model.update_chats(false);
    for (int n : { 0, 1000, 7777, messages - 1 })
        EXPECT_EQ(search_now(model, u"apple number " + to_u16_decimal(n), 0, 5).size(), 1u) << n;
}
TEST_F(SearchTest, AnMmsIsFoundByItsText)
{
    deliver(u"+4915110000001", u"an ordinary text", 1);
    ReceivedMms mms { "/service", "/service/1", u"+4915110000002", {}, u"Photos from the harbour", MessageTime::now().filetime(), true,
        { { "image/jpeg", 0, 10, "/nowhere/picture" } } };
    ASSERT_TRUE(file_received_mms(*store, mms));
    EXPECT_EQ(found(u"harb"), std::vector<std::u16string> { u"Photos from the harbour" });
}
