#include "shell/Fatal.h"

#include "platform/Process.h"
#include "shell/Log.h"

namespace velloq {

void fatal(std::u16string_view where, std::u16string_view what)
{
    log() << u"Gluck: " << what << u" @ " << where << u"\n";
    log().flush();
    platform::end_process_now(fatal_exit_code);
}

}
