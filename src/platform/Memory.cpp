#include "platform/Memory.h"

#include <malloc.h>

namespace velloq::platform {

void return_free_memory()
{
    malloc_trim(0);
}

}
