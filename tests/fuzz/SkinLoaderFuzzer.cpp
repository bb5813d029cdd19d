// Feeds arbitrary bytes to the skin loader as a skin file image and uses everything a form
// would: section lookups, typed records, and a whole element tree laid out and drawn.
#include "platform/Folders.h"
#include "skin/Element.h"
#include "skin/ElementRegistry.h"
#include "skin/Exceptions.h"
#include "skin/Properties.h"

#include <cstdlib>
#include <filesystem>

using namespace velloq;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string folder = (std::filesystem::temp_directory_path() / "velloq-fuzz-XXXXXX").string();
    if (mkdtemp(folder.data()))
        platform::use_device_folder(folder);
    static ElementTypes types;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    Properties skin;
    ScreenInfo screen;
    screen.dpi = size % 2 ? 192 : 96;
    if (!skin.load_skin_image(std::vector<uint8_t>(data, data + size), u"/nonexistent", screen))
        return 0;
    for (char16_t const* name : { u"FormMain", u"Form", u"ItemTest", u"FormTest", u"Empty", u"A" }) {
        auto section = skin.section(name);
        if (!section)
            continue;
        skin.get_int(*section, u"cache", 0);
        skin.get_point(*section, u"design_size", {});
        skin.get_colour(*section, u"outside_color", {});
        skin.get_string(*section, u"id", {});
        skin.get_picture(*section, u"background", {});
        skin.get_font(*section, u"font", nullptr);
        Element root;
        try {
            if (!build_from_section(root, skin, name))
                continue;
        } catch (dravel::NodeNotRegistered const&) {
            continue;
        }
        root.set_horizontal(0, 64);
        root.set_vertical(0, 64);
        auto picture = Bitmap565::create(64, 64);
        root.draw({ { 0, 0, 64, 64 }, picture.get() }, {});
    }
    return 0;
}
