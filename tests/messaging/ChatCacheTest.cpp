#include "messaging/ChatCache.h"

#include "shell/Registry.h"
#include "support/TempDevice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace velloq;

namespace {

CachedChat chat(std::u16string name, std::u16string address, std::vector<std::vector<uint8_t>> ids, FolderKind folder = FolderKind::Incoming)
{
    CachedChat made;
    made.name = std::move(name);
    made.address = std::move(address);
    made.unread = 2;
    for (auto& id : ids)
        made.messages.push_back({ folder, EntryId(std::move(id)) });
    return made;
}

// A file of those chats, of version 1 (every message of each chat) unless asked.
ChatCacheFile file(std::vector<CachedChat> chats, int32_t version = 1)
{
    ChatCacheFile made;
    made.version = version;
    made.chats = std::move(chats);
    return made;
}

void put32(std::vector<uint8_t>& bytes, size_t at, int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

}

TEST(ChatCache, BytesOfAChatBlock)
{
    auto bytes = encode_chat_cache(file({ chat(u"Anna", u"+49 151 2345678", { { 0xAB, 0xCD } }, FolderKind::Sent) }));
    std::vector<uint8_t> expected { 1, 0, 0, 0, 4, 'A', 0, 'n', 0, 'n', 0, 'a', 0, 15 };
    for (char16_t c : std::u16string(u"+49 151 2345678")) {
        expected.push_back(static_cast<uint8_t>(c));
        expected.push_back(0);
    }
    for (uint8_t b : { 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 0, 0xAB, 0xCD })
        expected.push_back(b);
    EXPECT_EQ(bytes, expected);
}

TEST(ChatCache, StringLengthsOf127And128AndMore)
{
    std::vector<uint8_t> out;
    append_string_length(out, 127);
    EXPECT_EQ(out, (std::vector<uint8_t> { 127 }));
    out.clear();
    append_string_length(out, 128);
    EXPECT_EQ(out, (std::vector<uint8_t> { 0xFE, 128, 0 }));
    out.clear();
    append_string_length(out, 32768);
    EXPECT_EQ(out, (std::vector<uint8_t> { 0xFD, 0, 0x80, 0 }));
    auto round = decode_chat_cache(encode_chat_cache(file({ chat(std::u16string(128, u'n'), u"1234567", { { 1 } }),
        chat(std::u16string(127, u'm'), u"7654321", { { 2 } }) })));
    ASSERT_TRUE(round);
    EXPECT_EQ(round->chats[0].name.size(), 128u);
    EXPECT_EQ(round->chats[1].name.size(), 127u);
}

TEST(ChatCache, LoaderKeysAndRoundTrip)
{
    auto round = decode_chat_cache(encode_chat_cache(file({ chat(u"Anna", u"+49 151 2345678", { { 1, 2 }, { 3 } }), chat(u"Bank", u"BANK", { { 4 } }) })));
    ASSERT_TRUE(round);
    ASSERT_EQ(round->chats.size(), 2u);
    EXPECT_EQ(round->chats[0].key, u"2345678");
    EXPECT_EQ(round->chats[0].messages.size(), 2u);
    EXPECT_TRUE(round->chats[0].messages[1].id == EntryId(std::vector<uint8_t> { 3 }));
    // Keyed as a chat built from a message: an address without digits is its own key, whatever the name.
    EXPECT_EQ(round->chats[1].key, u"BANK");
    EXPECT_EQ(decode_chat_cache(encode_chat_cache(file({ chat(u"Bank", u"", { { 5 } }) })))->chats[0].key, u"Bank");
    EXPECT_EQ(decode_chat_cache({ 1, 0, 0, 0 })->chats.size(), 0u);
}

TEST(ChatCache, MalformedFilesFailToLoad)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    auto good = encode_chat_cache(file({ chat(u"Anna", u"1234567", { { 1, 2, 3 } }) }));
    EXPECT_FALSE(decode_chat_cache({ 3, 0, 0, 0 }));
    EXPECT_FALSE(decode_chat_cache({ 3, 0, 0, 0 })) << "a version 3 file without its folders";
    EXPECT_FALSE(decode_chat_cache({ 1, 0 }));
    for (size_t cut = 5; cut < good.size(); ++cut)
        EXPECT_FALSE(decode_chat_cache(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<ptrdiff_t>(cut)))) << cut;
    size_t count_at = 4 + 1 + 8 + 1 + 14 + 4;
    for (int32_t bad : { 0, 20001 }) {
        auto broken = good;
        put32(broken, count_at, bad);
        EXPECT_FALSE(decode_chat_cache(broken));
    }
    EXPECT_NE(test::read_utf16_file(device.log_file()).find(u"load_cache counter:20001\n"), std::u16string::npos);
    auto bad_folder = good;
    bad_folder[count_at + 4] = 4;
    EXPECT_FALSE(decode_chat_cache(bad_folder));
    auto long_string = good;
    long_string[4] = 0xFE;
    EXPECT_FALSE(decode_chat_cache(long_string));
    // Without an address and without a name a chat has no key.
    EXPECT_FALSE(decode_chat_cache(encode_chat_cache(file({ chat(u"", u"", { { 1 } }) }))));
}

TEST(ChatCache, MessagesWithoutIdsAreLeftOutAndSoAreChatsWithNone)
{
    CachedChat empty_ids = chat(u"Ghost", u"1111111", {});
    empty_ids.messages.push_back({ FolderKind::Incoming, EntryId() });
    auto bytes = encode_chat_cache(file({ empty_ids, chat(u"Real", u"2222222", { { 9 } }) }));
    auto loaded = decode_chat_cache(bytes);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->chats.size(), 1u);
    EXPECT_EQ(loaded->chats[0].name, u"Real");
}

TEST(ChatCache, SaveReplacesTheFileOnlyWhenComplete)
{
    test::TempDevice device;
    ASSERT_TRUE(reg_set_int(u"HKEY_CURRENT_USER\\Software\\Ketra", u"Log", 1));
    std::u16string path = (device.path() / "cache").u16string();
    ASSERT_TRUE(save_chat_cache(path, file({ chat(u"Anna", u"1234567", { { 1 } }) }, chat_cache_version)));
    auto loaded = load_chat_cache(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->chats.size(), 1u);
    EXPECT_EQ(loaded->version, chat_cache_version);
    // A save that cannot write its temporary file leaves the good cache in place.
    std::filesystem::create_directory(device.path() / "cache.part");
    EXPECT_FALSE(save_chat_cache(path, file({ chat(u"Other", u"7654321", { { 2 } }) }, chat_cache_version)));
    EXPECT_EQ(load_chat_cache(path)->chats.front().name, u"Anna");
    std::filesystem::remove(device.path() / "cache.part");
    EXPECT_TRUE(save_chat_cache(path, file({}, chat_cache_version)));
    EXPECT_FALSE(std::filesystem::exists(device.path() / "cache"));
    EXPECT_FALSE(load_chat_cache(path));
    std::u16string log_text = test::read_utf16_file(device.log_file());
    EXPECT_NE(log_text.find(u"save_cache:1 chats\nsave_cache success:1 chats\n"), std::u16string::npos);
    EXPECT_NE(log_text.find(u"load_cache success:1 chats time:"), std::u16string::npos);
}

// Versions 2 and 3 begin with how far the chats took each folder: its last id, its count then and
// the ids to read again; an older reader (which wants version 1) refuses it.
TEST(ChatCache, TheFoldersOfTheCurrentFile)
{
    ChatCacheFile cache = file({ chat(u"Anna", u"1234567", { { 0xAB } }) }, chat_cache_version);
    cache.folders[0] = { EntryId(std::vector<uint8_t> { 1, 2 }), 5, { EntryId(std::vector<uint8_t> { 7 }) } };
    cache.folders[1].counted = 3;
    auto bytes = encode_chat_cache(cache);
    std::vector<uint8_t> expected { 3, 0, 0, 0, 2, 0, 1, 2, 5, 0, 0, 0, 1, 0, 0, 0, 1, 0, 7, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0 };
    for (int folder = 2; folder < 4; ++folder)
        expected.insert(expected.end(), { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 });
    ASSERT_GT(bytes.size(), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(expected.size())), expected);
    auto round = decode_chat_cache(bytes);
    ASSERT_TRUE(round);
    EXPECT_EQ(round->version, chat_cache_version);
    EXPECT_TRUE(round->folders[0].last == EntryId(std::vector<uint8_t> { 1, 2 }));
    EXPECT_EQ(round->folders[0].counted, 5);
    ASSERT_EQ(round->folders[0].retry.size(), 1u);
    EXPECT_TRUE(round->folders[0].retry[0] == EntryId(std::vector<uint8_t> { 7 }));
    EXPECT_EQ(round->folders[1].counted, 3);
    EXPECT_TRUE(round->folders[2].last.is_empty());
    ASSERT_EQ(round->chats.size(), 1u);
    EXPECT_EQ(round->chats[0].key, u"1234567");
    for (size_t cut = 5; cut < expected.size(); ++cut)
        EXPECT_FALSE(decode_chat_cache(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)))) << cut;
    auto negative = bytes;
    put32(negative, 8, -1);
    EXPECT_FALSE(decode_chat_cache(negative)) << "a negative count";
}
