#include "platform/StoreValues.h"

#include "platform/Utf.h"

namespace velloq::platform {

namespace {

bool is_text(uint32_t tag)
{
    return (tag & 0xFFFF) == 0x001F;
}

bool is_binary(uint32_t tag)
{
    return (tag & 0xFFFF) == 0x0102;
}

}

std::optional<int64_t> number_of(PropertySet const& properties, uint32_t tag)
{
    auto found = properties.find(tag);
    if (found == properties.end() || !std::holds_alternative<int64_t>(found->second))
        return std::nullopt;
    return std::get<int64_t>(found->second);
}

std::optional<std::u16string> text_of(PropertySet const& properties, uint32_t tag)
{
    auto found = properties.find(tag);
    if (found == properties.end() || !std::holds_alternative<std::u16string>(found->second))
        return std::nullopt;
    return std::get<std::u16string>(found->second);
}

void bind_value(SqliteStatement& statement, int index, PropertyValue const& value)
{
    if (auto const* number = std::get_if<int64_t>(&value))
        statement.bind(index, *number);
    else if (auto const* text = std::get_if<std::u16string>(&value))
        statement.bind(index, to_utf8(*text));
    else
        statement.bind_blob(index, std::get<Bytes>(value).data(), std::get<Bytes>(value).size());
}

PropertyValue read_value(SqliteStatement const& statement, int column, uint32_t tag)
{
    if (is_text(tag))
        return to_utf16(statement.column_view(column));
    if (is_binary(tag)) {
        std::string_view bytes = statement.column_view(column);
        return Bytes(bytes.begin(), bytes.end());
    }
    return statement.column_int(column);
}

}
