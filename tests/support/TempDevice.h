#pragma once

#include "support/StoreResultPrinter.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velloq::test {

// A fresh device folder for one test: the process uses it until the object goes, and it is
// removed with everything in it afterwards.
class TempDevice {
public:
    TempDevice();
    ~TempDevice();

    TempDevice(TempDevice const&) = delete;
    TempDevice& operator=(TempDevice const&) = delete;

    std::filesystem::path const& path() const { return m_path; }
    // The log is named after the running program: "<program file>.txt" in the device's Temp.
    std::filesystem::path log_file() const;
    // The log's lines that begin with `prefix`, in order.
    std::vector<std::u16string> log_lines(std::u16string_view prefix) const;

private:
    std::filesystem::path m_path;
    // The device the process used before, given back when this one goes.
    std::optional<std::string> m_previous;
};

// The whole content of a file as bytes; empty when it cannot be read.
std::string read_file(std::filesystem::path const&);
// Writes a file whole; false when it cannot be written.
bool write_file(std::filesystem::path const&, std::string const& content);

// The text of a UTF-16LE file behind its two-byte byte-order mark, such as the log.
std::u16string read_utf16_file(std::filesystem::path const&);

}
