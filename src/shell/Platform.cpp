#include "shell/Platform.h"

#include "platform/Utf.h"
#include "platform/Window.h"
#include "shell/Log.h"

namespace velloq {

namespace {

std::u16string platform_type()
{
    std::string chosen = platform::environment_value("VELLOQ_PLATFORM");
    return chosen.empty() ? u"Linux" : to_utf16(chosen);
}

}

bool is_smartphone()
{
    static bool const smartphone = [] {
        std::u16string type = platform_type();
        log() << u"static_capability_is_smartphone=" << type << u"\n";
        return fold_case(type) == u"smartphone";
    }();
    return smartphone;
}

}
