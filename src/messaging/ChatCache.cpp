#include "messaging/ChatCache.h"

#include "messaging/Chat.h"
#include "platform/FileSystem.h"
#include "platform/Ticks.h"
#include "platform/Utf.h"
#include "shell/Log.h"
#include "shell/Paths.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velloq {

namespace {

constexpr uintmax_t largest_cache = 512 * 1024 * 1024;

void append_u16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void append_i32(std::vector<uint8_t>& out, int32_t value)
{
    auto bits = static_cast<uint32_t>(value);
    append_u16(out, static_cast<uint16_t>(bits));
    append_u16(out, static_cast<uint16_t>(bits >> 16));
}

void append_string(std::vector<uint8_t>& out, std::u16string const& text)
{
    append_string_length(out, static_cast<uint32_t>(text.size()));
    for (char16_t unit : text)
        append_u16(out, unit);
}

void append_id(std::vector<uint8_t>& out, EntryId const& id)
{
    auto length = static_cast<uint16_t>(std::min<size_t>(id.length(), 32767));
    append_u16(out, length);
    if (length > 0)
        out.insert(out.end(), id.data(), id.data() + length);
}

// Reads the file's fields in order; every read checks what is left.
class Reader {
public:
    explicit Reader(std::vector<uint8_t> const& bytes)
        : m_bytes(bytes)
    {
    }
    bool at_end() const { return m_at >= m_bytes.size(); }
    std::optional<int64_t> number(size_t size)
    {
        if (m_bytes.size() - m_at < size)
            return std::nullopt;
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= uint64_t(m_bytes[m_at + i]) << (8 * i);
        m_at += size;
        // Sign-extend from the field's width.
        uint64_t sign = uint64_t(1) << (8 * size - 1);
        return static_cast<int64_t>((value ^ sign) - sign);
    }
    std::optional<std::u16string> string()
    {
        auto first = number(1);
        if (!first)
            return std::nullopt;
        int64_t length = *first;
        if (length < 0) {
            auto wide = -length <= 4 ? number(static_cast<size_t>(-length)) : std::nullopt;
            if (!wide || *wide <= 0)
                return std::nullopt;
            length = *wide;
        }
        if (uint64_t(length) * 2 > m_bytes.size() - m_at)
            return std::nullopt;
        std::u16string text;
        text.reserve(static_cast<size_t>(length));
        for (int64_t i = 0; i < length; ++i)
            text.push_back(static_cast<char16_t>(*number(2)));
        return text;
    }
    // The offset of `size` bytes, which the caller takes by reference to the whole file.
    std::optional<size_t> skip(size_t size)
    {
        if (m_bytes.size() - m_at < size)
            return std::nullopt;
        size_t start = m_at;
        m_at += size;
        return start;
    }

private:
    std::vector<uint8_t> const& m_bytes;
    size_t m_at { 0 };
};

// An id as a 2-byte length (0: none, where `may_be_empty`) and its bytes, sharing the file's buffer.
std::optional<EntryId> read_id(Reader& reader, std::shared_ptr<std::vector<uint8_t> const> const& file, bool may_be_empty)
{
    auto length = reader.number(2);
    if (!length || *length < (may_be_empty ? 0 : 1))
        return std::nullopt;
    auto at = reader.skip(static_cast<size_t>(*length));
    if (!at)
        return std::nullopt;
    return *length == 0 ? EntryId() : EntryId(file, *at, static_cast<size_t>(*length));
}

bool read_folder(Reader& reader, std::shared_ptr<std::vector<uint8_t> const> const& file, CachedFolder& folder)
{
    auto last = read_id(reader, file, true);
    auto counted = last ? reader.number(4) : std::nullopt;
    auto retries = counted ? reader.number(4) : std::nullopt;
    if (!retries || *counted < 0 || *retries < 0 || *retries > most_cached_messages_per_chat)
        return false;
    folder.last = std::move(*last);
    folder.counted = static_cast<int32_t>(*counted);
    for (int64_t i = 0; i < *retries; ++i) {
        auto id = read_id(reader, file, false);
        if (!id)
            return false;
        folder.retry.push_back(std::move(*id));
    }
    return true;
}

// Every entry id shares the one buffer of the file, so a load makes no allocation per message.
std::optional<CachedChat> read_chat(Reader& reader, std::shared_ptr<std::vector<uint8_t> const> const& file, int32_t version)
{
    CachedChat chat;
    auto name = reader.string();
    auto address = name ? reader.string() : std::nullopt;
    if (!address)
        return std::nullopt;
    chat.name = *name;
    chat.address = *address;
    // Keyed exactly as the model keys a chat built from a message, so a loaded chat and the
    // store's next message from the same sender meet in one chat.
    chat.key = chat_key(chat.address, chat.name);
    auto unread = chat.key.empty() ? std::nullopt : reader.number(4);
    if (!unread)
        return std::nullopt;
    chat.unread = static_cast<int32_t>(*unread);
    if (version >= 2) {
        auto named = reader.number(1);
        if (!named || (*named != 0 && *named != 1))
            return std::nullopt;
        chat.named_by_contact = *named == 1;
    }
    auto count = reader.number(4);
    if (!count || *count < 1 || *count > most_cached_messages_per_chat) {
        log() << u"load_cache counter:" << (count ? static_cast<int32_t>(*count) : 0) << u"\n";
        return std::nullopt;
    }
    chat.messages.reserve(static_cast<size_t>(*count));
    for (int64_t i = 0; i < *count; ++i) {
        auto folder = reader.number(2);
        if (!folder || *folder < 0 || *folder > 3)
            return std::nullopt;
        auto id = read_id(reader, file, false);
        if (!id)
            return std::nullopt;
        chat.messages.push_back({ static_cast<FolderKind>(*folder), std::move(*id) });
    }
    return chat;
}

}

void append_string_length(std::vector<uint8_t>& out, uint32_t length)
{
    if (length < 128) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint32_t shifts = 0;
    for (uint32_t rest = length; rest > 32767; rest >>= 8)
        ++shifts;
    out.push_back(static_cast<uint8_t>(~(shifts + 1)));
    for (uint32_t i = 0; i < shifts + 2; ++i)
        out.push_back(static_cast<uint8_t>(length >> (8 * i)));
}

std::vector<uint8_t> encode_chat_cache(ChatCacheFile const& file)
{
    std::vector<uint8_t> out;
    append_i32(out, file.version);
    if (file.version >= 2) {
        for (auto const& folder : file.folders) {
            append_id(out, folder.last);
            append_i32(out, folder.counted);
            append_i32(out, static_cast<int32_t>(folder.retry.size()));
            for (auto const& id : folder.retry)
                append_id(out, id);
        }
    }
    for (auto const& chat : file.chats) {
        int32_t count = 0;
        for (auto const& message : chat.messages)
            count += message.id.is_empty() ? 0 : 1;
        if (count == 0)
            continue;
        append_string(out, chat.name);
        append_string(out, chat.address);
        append_i32(out, chat.unread);
        if (file.version >= 2)
            out.push_back(chat.named_by_contact ? 1 : 0);
        append_i32(out, std::min(count, most_cached_messages_per_chat));
        int32_t written = 0;
        for (auto const& message : chat.messages) {
            if (message.id.is_empty() || written == most_cached_messages_per_chat)
                continue;
            append_u16(out, static_cast<uint16_t>(message.folder));
            append_id(out, message.id);
            ++written;
        }
    }
    return out;
}

std::optional<ChatCacheFile> decode_chat_cache(std::vector<uint8_t> bytes)
{
    auto file = std::make_shared<std::vector<uint8_t> const>(std::move(bytes));
    Reader reader(*file);
    auto version = reader.number(4);
    if (!version || (*version != 1 && *version != chat_cache_version))
        return std::nullopt;
    ChatCacheFile cache;
    cache.version = static_cast<int32_t>(*version);
    for (auto& folder : cache.folders) {
        if (cache.version >= 2 && !read_folder(reader, file, folder))
            return std::nullopt;
    }
    while (!reader.at_end()) {
        auto chat = read_chat(reader, file, cache.version);
        if (!chat)
            return std::nullopt;
        cache.chats.push_back(std::move(*chat));
    }
    return cache;
}

bool save_chat_cache(std::u16string const& path, ChatCacheFile const& cache)
{
    auto const& chats = cache.chats;
    log() << u"save_cache:" << static_cast<uint64_t>(chats.size()) << u" chats\n";
    std::filesystem::path file(to_utf8(expand_path(path)));
    std::error_code error;
    if (chats.empty()) {
        std::filesystem::remove(file, error);
        return true;
    }
    std::vector<uint8_t> bytes = encode_chat_cache(cache);
    std::filesystem::path temporary = file;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, file, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    log() << u"save_cache success:" << static_cast<uint64_t>(chats.size()) << u" chats\n";
    return true;
}

std::optional<ChatCacheFile> load_chat_cache(std::u16string const& path)
{
    uint32_t started = platform::tick_count();
    std::string file = to_utf8(expand_path(path));
    std::error_code error;
    auto size = std::filesystem::file_size(file, error);
    if (error || size > largest_cache)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != size)
        return std::nullopt;
    auto cache = decode_chat_cache(std::move(bytes));
    if (cache)
        log() << u"load_cache success:" << static_cast<uint64_t>(cache->chats.size()) << u" chats time:" << (platform::tick_count() - started) << u"\n";
    return cache;
}

bool is_chat_cache_file(std::string const& path)
{
    std::error_code error;
    auto status = std::filesystem::symlink_status(path, error);
    return !error && std::filesystem::is_regular_file(status) && load_chat_cache(to_utf16(path)).has_value();
}

}
