#include "forms/SkinBinding.h"

#include <exception>

namespace velloq {

std::optional<Section> find_section_by_id(Properties const& skin, Section const& root, std::u16string_view id)
{
    if (skin.get_string(root, u"id", {}) == id)
        return root;
    for (uint16_t index = 0; index < root.child_count; ++index) {
        auto child = skin.child(root, index);
        if (!child)
            continue;
        if (auto found = find_section_by_id(skin, *child, id))
            return found;
    }
    return std::nullopt;
}

std::u16string skin_error_text(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (dravel::NodeNotFoundInSkin const& missing) {
        return u"section " + missing.section + u" not found in skin";
    } catch (dravel::NodeNotFound const& missing) {
        return u"element " + missing.missing + u" not found in " + missing.searched_in;
    } catch (dravel::NodeNotRegistered const& unknown) {
        return u"element type " + unknown.type + u" not registered";
    } catch (dravel::NodeAlreadyRegistered const& twice) {
        return u"element type " + twice.type + u" registered twice";
    } catch (...) {
        return u"unknown error";
    }
}

}
