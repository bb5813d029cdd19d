#pragma once

#include <string>

// The skin engine's four exceptions, thrown by value when a required node is missing.
namespace dravel {

// A form or item is built from a section that is not in the skin's section tree.
struct NodeNotFoundInSkin {
    std::u16string section;
};

// A required child element is not found under an element.
struct NodeNotFound {
    std::u16string searched_in;
    std::u16string missing;
};

// A section's "type" names no registered element type.
struct NodeNotRegistered {
    std::u16string type;
};

// An element type is registered twice.
struct NodeAlreadyRegistered {
    std::u16string type;
};

}
