#pragma once

#include "platform/FileDescriptor.h"
#include "shell/KeyCode.h"

#include <concepts>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace velloq {

// Where log lines go: a file in the device's temporary folder, or nowhere.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(char16_t const* first, char16_t const* last) = 0;
    virtual void flush() = 0;
    // Ends writing: later writes go nowhere.
    virtual void close() { }
};

// Writes UTF-16LE code units unchanged, each insertion at once and under the sink's lock, so
// lines from several threads never interleave within one insertion. The file is replaced when
// the sink is made and starts with the byte-order mark FF FE.
class FileLogSink final : public LogSink {
public:
    explicit FileLogSink(std::u16string const& path);
    void write(char16_t const* first, char16_t const* last) override;
    void flush() override;
    void close() override;
    bool is_open() const { return m_file.is_valid(); }

private:
    std::mutex m_mutex;
    platform::FileDescriptor m_file;
};

class NullLogSink final : public LogSink {
public:
    void write(char16_t const*, char16_t const*) override { }
    void flush() override { }
};

// The process-wide log. The switch "Log" under "HKEY_CURRENT_USER\Software\Ketra" is read at
// every call, so logging can be turned on and off while the program runs; turning it on starts
// a fresh file.
LogSink& log();

// Text from outside (a command line, a link, a sender's name, a message) as one log line may
// hold it: control characters, line and paragraph separators and the marks that reorder a line
// escaped ("\\n", "\\x1b", "\\u{2028}"), so no text forges a line or drives a terminal, and at
// most `longest` characters of it, the rest counted.
std::u16string log_safe(std::u16string_view text, size_t longest = 256);

LogSink& operator<<(LogSink&, char16_t const* text);
LogSink& operator<<(LogSink&, std::u16string_view text);
LogSink& operator<<(LogSink&, std::u16string const& text);
LogSink& operator<<(LogSink&, char16_t character);
LogSink& operator<<(LogSink&, KeyCode key);
LogSink& operator<<(LogSink&, void const* pointer);
LogSink& write_signed(LogSink&, long long number);
LogSink& write_unsigned(LogSink&, unsigned long long number);

// Numbers are written in decimal; unsigned ones as unsigned, so a tick count never turns negative.
template<std::integral Number>
    requires(!std::same_as<Number, bool> && !std::same_as<Number, char16_t> && !std::same_as<Number, char>)
LogSink& operator<<(LogSink& sink, Number number)
{
    if constexpr (std::is_signed_v<Number>)
        return write_signed(sink, number);
    else
        return write_unsigned(sink, number);
}

}
