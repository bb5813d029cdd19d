#pragma once

#include <string>

namespace velloq {

// The device hands a program its command line as one text. A single argument is that text as
// it stands; several arguments are joined back into it with blanks; an argument holding blanks or quotes is quoted
// (quotes escaped with a backslash), so that splitting it again gives the same arguments.
std::u16string command_line_from_arguments(int argc, char const* const* argv);

}
