#pragma once

#include "skin/Element.h"
#include "skin/ElementRegistry.h"
#include "skin/Exceptions.h"
#include "skin/Properties.h"

#include <optional>

#include <string>

namespace velloq {

// A required element of a program form: the element with this id under `root`, of type T, or
// the skin error NodeNotFound naming the section that lacks it.
template<typename T = Element>
T& bind_element(Element& root, std::u16string_view section, std::u16string_view id)
{
    auto* element = dynamic_cast<T*>(root.find_by_id(id));
    if (!element)
        throw dravel::NodeNotFound { std::u16string(section), std::u16string(id) };
    return *element;
}

// Builds a form or item from its skin section, or raises the skin error NodeNotFoundInSkin.
inline void build_required(Element& root, Properties const& skin, std::u16string_view section)
{
    if (!build_from_section(root, skin, section))
        throw dravel::NodeNotFoundInSkin { std::u16string(section) };
}

// The section of the element with this id inside a section's tree (a template the form builds
// elements from, such as the ruler's letter buttons), or nullopt.
std::optional<Section> find_section_by_id(Properties const& skin, Section const& root, std::u16string_view id);

// The text of a skin error, for the log.
std::u16string skin_error_text(std::exception_ptr);

}
