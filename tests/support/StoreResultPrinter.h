#pragma once

#include "platform/MessageTypes.h"

#include <gtest/gtest.h>

#include <ostream>

namespace velloq::platform {

// A failed expectation on a store's result shows the store's error, not the object's bytes.
template<typename T>
void PrintTo(Result<T, StoreError> const& result, std::ostream* out)
{
    if (result)
        *out << ::testing::PrintToString(result.value());
    else
        *out << "store error: " << result.error().text;
}

inline void PrintTo(Result<void, StoreError> const& result, std::ostream* out)
{
    *out << (result ? std::string("done") : "store error: " + result.error().text);
}

}
