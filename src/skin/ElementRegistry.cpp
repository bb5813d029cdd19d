#include "skin/ElementRegistry.h"

#include "skin/BasicElements.h"
#include "skin/ButtonElement.h"
#include "skin/Element.h"
#include "skin/ElementTypeNames.h"
#include "skin/Exceptions.h"
#include "skin/Properties.h"
#include "skin/Table.h"
#include "skin/TextEdit.h"
#include "skin/TextElement.h"
#include "skin/VList.h"

#include <map>

namespace velloq {

namespace {

std::map<std::u16string, ElementFactory>& factories()
{
    static std::map<std::u16string, ElementFactory> registered;
    return registered;
}

// The elements of the skin engine's own types (`engine_element_types` names them all).
struct TypeEntry {
    char16_t const* name;
    ElementFactory factory;
};
template<typename Type>
std::unique_ptr<Element> make()
{
    return std::make_unique<Type>();
}

TypeEntry const engine_types[] = {
    { u"node", make<Element> },
    { u"text", make<TextElement> },
    { u"color", make<ColorElement> },
    { u"image", make<ImageElement> },
    { u"edit", make<TextEdit> },
    { u"htable", []() -> std::unique_ptr<Element> { return std::make_unique<Table>(Axis::Horizontal); } },
    { u"vtable", []() -> std::unique_ptr<Element> { return std::make_unique<Table>(Axis::Vertical); } },
    { u"button", make<ButtonElement> },
    { u"vlist", make<VList> },
    { u"checkbox", make<CheckboxElement> },
    { u"progress", make<ProgressElement> },
    // The older text type draws as a text does.
    { u"oldtext", make<TextElement> },
    { u"label_edit", make<LabelEdit> },
    { u"clip", make<ClipElement> },
    { u"snake", make<SnakeElement> },
};

ElementFactory factory_of(std::u16string_view name)
{
    for (auto const& type : engine_types) {
        if (name == type.name)
            return type.factory;
    }
    return nullptr;
}

}

void ElementRegistry::register_type(std::u16string const& name, ElementFactory factory)
{
    if (!factories().emplace(name, factory).second)
        throw dravel::NodeAlreadyRegistered { name };
}

void ElementRegistry::unregister_type(std::u16string const& name)
{
    factories().erase(name);
}

bool ElementRegistry::is_registered(std::u16string const& name)
{
    return factories().contains(name);
}

std::unique_ptr<Element> ElementRegistry::create(std::u16string const& name)
{
    auto found = factories().find(name);
    if (found == factories().end())
        throw dravel::NodeNotRegistered { name };
    return found->second();
}

ElementTypes::ElementTypes()
{
    for (char16_t const* name : engine_element_types()) {
        if (auto factory = factory_of(name))
            ElementRegistry::register_type(name, factory);
    }
}

ElementTypes::~ElementTypes()
{
    for (char16_t const* name : engine_element_types())
        ElementRegistry::unregister_type(name);
}

bool build_from_section(Element& root, Properties const& skin, std::u16string_view section_name)
{
    auto section = skin.section(section_name);
    if (!section)
        return false;
    root.clear_children();
    root.load(skin, *section);
    root.invalidate_layout();
    return true;
}

}
