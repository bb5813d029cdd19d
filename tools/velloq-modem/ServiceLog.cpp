#include "ServiceLog.h"

#include "platform/Utf.h"
#include "shell/Log.h"

#include <cstdio>

namespace velloq::modem {

void say(std::string const& line)
{
    log() << to_utf16(line) << u"\n";
    std::fprintf(stderr, "velloq-modem: %s\n", line.c_str());
}

}
