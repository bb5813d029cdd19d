#pragma once

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace velloq::platform {

// libjpeg reports a fatal error by calling its error manager, which must not return: this one
// keeps the library's message and jumps back to the decoder's setjmp point.
struct JpegFailure {
    jpeg_error_mgr manager {};
    std::jmp_buf jump {};
    char message[JMSG_LENGTH_MAX] {};
};

inline void jpeg_failed(j_common_ptr info)
{
    auto* failure = reinterpret_cast<JpegFailure*>(info->err);
    info->err->format_message(info, failure->message);
    std::longjmp(failure->jump, 1);
}

}
