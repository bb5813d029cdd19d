#include "shell/Log.h"

#include "platform/FileSystem.h"
#include "platform/Folders.h"
#include "platform/Utf.h"
#include "shell/Paths.h"
#include "shell/Registry.h"
#include "shell/StateNotification.h"

#include <bit>
#include <vector>

namespace velloq {

namespace {

constexpr unsigned char byte_order_mark[] = { 0xFF, 0xFE };

struct LogState {
    std::mutex mutex;
    std::unique_ptr<LogSink> sink;
    bool switched_on { false };
    // The log file lies in the device folder: a process that moves to another device folder
    // (a test that makes a fresh one) writes its lines there from then on.
    std::string device;
    // A sink handed out may still be written by another thread after it is replaced, so it is
    // closed, not destroyed: a write to it then goes nowhere.
    std::vector<std::unique_ptr<LogSink>> retired;
};

LogState& state()
{
    static LogState log_state;
    return log_state;
}

bool log_switch()
{
    int32_t value = 0;
    reg_get_int(registry_key::vendor, u"Log", value);
    return value != 0;
}

std::unique_ptr<LogSink> make_sink(bool switched_on)
{
    if (!switched_on)
        return std::make_unique<NullLogSink>();
    std::u16string path = u"/Temp/" + expand_path(u"%app_name%.txt");
    return std::make_unique<FileLogSink>(path);
}

}

FileLogSink::FileLogSink(std::u16string const& path)
    : m_file(platform::open_exclusive_log_file(to_utf8(expand_path(path))))
{
    if (m_file.is_valid())
        platform::write_all(m_file.get(), byte_order_mark, sizeof byte_order_mark);
}

void FileLogSink::write(char16_t const* first, char16_t const* last)
{
    std::lock_guard lock(m_mutex);
    if (!m_file.is_valid() || first == last)
        return;
    size_t count = static_cast<size_t>(last - first);
    if constexpr (std::endian::native == std::endian::little) {
        platform::write_all(m_file.get(), first, count * sizeof(char16_t));
    } else {
        std::vector<unsigned char> bytes;
        bytes.reserve(count * 2);
        for (auto const* unit = first; unit != last; ++unit) {
            bytes.push_back(static_cast<unsigned char>(*unit & 0xFF));
            bytes.push_back(static_cast<unsigned char>(*unit >> 8));
        }
        platform::write_all(m_file.get(), bytes.data(), bytes.size());
    }
}

void FileLogSink::close()
{
    std::lock_guard lock(m_mutex);
    m_file.reset();
}

void FileLogSink::flush()
{
    std::lock_guard lock(m_mutex);
    if (m_file.is_valid())
        platform::sync_file(m_file.get());
}

LogSink& log()
{
    // Every process that logs also logs what the broker decides on its registry writes.
    log_broker_decisions();
    bool switched_on = log_switch();
    auto& log_state = state();
    std::string device = switched_on ? platform::device_folder() : std::string();
    std::lock_guard lock(log_state.mutex);
    if (!log_state.sink || log_state.switched_on != switched_on || log_state.device != device) {
        if (log_state.sink) {
            log_state.sink->close();
            log_state.retired.push_back(std::move(log_state.sink));
        }
        log_state.switched_on = switched_on;
        log_state.device = device;
        log_state.sink = make_sink(switched_on);
    }
    return *log_state.sink;
}

LogSink& operator<<(LogSink& sink, char16_t const* text)
{
    return sink << std::u16string_view(text ? text : u"");
}

std::u16string log_safe(std::u16string_view text, size_t longest)
{
    std::u16string shown = to_utf16(terminal_text(text.substr(0, longest)));
    if (text.size() > longest)
        shown += u"… (" + to_u16_decimal(static_cast<long long>(text.size() - longest)) + u" more)";
    return shown;
}

LogSink& operator<<(LogSink& sink, std::u16string_view text)
{
    sink.write(text.data(), text.data() + text.size());
    return sink;
}

LogSink& operator<<(LogSink& sink, std::u16string const& text)
{
    return sink << std::u16string_view(text);
}

LogSink& operator<<(LogSink& sink, char16_t character)
{
    sink.write(&character, &character + 1);
    return sink;
}

LogSink& operator<<(LogSink& sink, KeyCode key)
{
    return sink << key_name(key);
}

LogSink& operator<<(LogSink& sink, void const* pointer)
{
    return write_unsigned(sink, reinterpret_cast<uintptr_t>(pointer));
}

LogSink& write_signed(LogSink& sink, long long number)
{
    return sink << to_u16_decimal(number);
}

LogSink& write_unsigned(LogSink& sink, unsigned long long number)
{
    return sink << to_u16_decimal_unsigned(number);
}

}
