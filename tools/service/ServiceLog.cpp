#include "ServiceLog.h"

#include "platform/Utf.h"
#include "shell/Log.h"

#include <cerrno>
#include <cstdio>

namespace velloq::service {

void say(std::string const& line)
{
    log() << to_utf16(line) << u"\n";
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
}

}
