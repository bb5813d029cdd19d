#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velloq {

// Values made from texts, kept for the texts drawn again and again (every frame draws the same
// lines). When full, the half used longest ago goes; what `find` or `insert` returned stays
// valid until the next `insert`.
template<typename Value>
class TextCache {
public:
    explicit TextCache(size_t capacity)
        : m_capacity(std::max<size_t>(capacity, 2))
    {
    }

    Value const* find(std::u16string const& key)
    {
        auto found = m_entries.find(key);
        if (found == m_entries.end())
            return nullptr;
        found->second.used = ++m_clock;
        return &found->second.value;
    }

    Value const& insert(std::u16string key, Value value)
    {
        if (m_entries.size() >= m_capacity)
            drop_oldest_half();
        auto& entry = m_entries[std::move(key)];
        entry.value = std::move(value);
        entry.used = ++m_clock;
        return entry.value;
    }

    size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        Value value;
        uint64_t used { 0 };
    };

    void drop_oldest_half()
    {
        std::vector<uint64_t> uses;
        uses.reserve(m_entries.size());
        for (auto const& [key, entry] : m_entries)
            uses.push_back(entry.used);
        auto middle = uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2);
        std::nth_element(uses.begin(), middle, uses.end());
        uint64_t oldest_kept = *middle;
        std::erase_if(m_entries, [&](auto const& item) { return item.second.used < oldest_kept; });
    }

    size_t m_capacity;
    uint64_t m_clock { 0 };
    std::unordered_map<std::u16string, Entry> m_entries;
};

}
