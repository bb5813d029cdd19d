#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace velloq {

class Element;
class Properties;

using ElementFactory = std::unique_ptr<Element> (*)();

// The process-wide map from a skin section's "type" to the element made for it.
class ElementRegistry {
public:
    // Throws dravel::NodeAlreadyRegistered when the name is taken.
    static void register_type(std::u16string const& name, ElementFactory);
    static void unregister_type(std::u16string const& name);
    // Throws dravel::NodeNotRegistered for an unknown name (the empty name included).
    static std::unique_ptr<Element> create(std::u16string const& name);
    static bool is_registered(std::u16string const& name);
};

// Registers the skin engine's element types for as long as it lives (the application's own
// types, made before any skin is loaded, removed at the end).
class ElementTypes {
public:
    ElementTypes();
    ~ElementTypes();
    ElementTypes(ElementTypes const&) = delete;
    ElementTypes& operator=(ElementTypes const&) = delete;
};

// Builds the tree of a top-level section under `root`: the root's children are replaced, the
// root loads the section, and its layout is invalidated. False when the skin has no such section.
bool build_from_section(Element& root, Properties const& skin, std::u16string_view section_name);

}
