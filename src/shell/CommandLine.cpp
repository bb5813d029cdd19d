#include "shell/CommandLine.h"

#include "platform/Utf.h"

namespace velloq {

namespace {

void append_quoted(std::u16string& line, std::u16string const& argument)
{
    line += u'"';
    size_t backslashes = 0;
    for (char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            line += c;
            continue;
        }
        // Backslashes in front of a quote are doubled, and the quote is escaped.
        if (c == u'"')
            line.append(backslashes + 1, u'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes, u'\\');
    line += u'"';
}

}

std::u16string command_line_from_arguments(int argc, char const* const* argv)
{
    // A single argument is the device's command line as the user wrote it ("open:+49 170 1234567").
    if (argc == 2)
        return to_utf16(argv[1]);
    std::u16string line;
    for (int i = 1; i < argc; ++i) {
        std::u16string argument = to_utf16(argv[i]);
        if (i > 1)
            line += u' ';
        if (!argument.empty() && argument.find_first_of(u" \t\n\r\"") == std::u16string::npos)
            line += argument;
        else
            append_quoted(line, argument);
    }
    return line;
}

}
