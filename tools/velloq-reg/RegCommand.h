#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velloq::tools {

// The exit codes of velloq-reg.
enum class RegExit : int {
    Ok = 0,
    Missing = 1,
    BadArguments = 2,
    Unavailable = 3,
};

// Runs one velloq-reg command on the registry of the current device folder.
RegExit run_reg_command(std::vector<std::string> const& arguments, std::ostream& out, std::ostream& err);

// A DWORD as a person writes it: decimal (negative numbers as their 32-bit pattern) or 0x hex.
std::optional<uint32_t> parse_dword(std::string const& text);

}
