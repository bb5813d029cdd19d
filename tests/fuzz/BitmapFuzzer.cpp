// Feeds arbitrary bytes to the 16-bit bitmap decoder.
#include "platform/Folders.h"
#include "skin/BitmapFile.h"

#include <cstdlib>
#include <filesystem>

using namespace velloq;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string folder = (std::filesystem::temp_directory_path() / "velloq-fuzz-XXXXXX").string();
    if (mkdtemp(folder.data()))
        platform::use_device_folder(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    auto picture = decode_565(u"fuzz", data, size);
    if (picture && picture->height() > 0)
        (void)picture->row(picture->height() - 1)[picture->width() - 1];
    return 0;
}
