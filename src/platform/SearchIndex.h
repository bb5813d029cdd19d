#pragma once

#include "platform/MessageTypes.h"
#include "platform/SqliteDatabase.h"
#include "platform/StorePart.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velloq::platform {

class MessageTables;

// The message store's search index: SQLite's full-text index, made on first use, kept up by the
// reading program from the notes every writer's statements leave (plain SQL runs in a writer's
// transaction, so no writer, another program's too, depends on the index).
class SearchIndex : StorePart {
public:
    static StoreResult<std::unique_ptr<SearchIndex>> open(MessageTables&);
    ~SearchIndex();

    // What is indexed beside a text (its numbers).
    using SearchTerms = std::function<std::string(std::u16string const& text)>;
    // Indexes up to `limit` of the messages noted since, in one short transaction: the number
    // indexed. An error where SQLite lacks the full-text index.
    StoreResult<size_t> index_for_search(size_t limit, SearchTerms const& terms_of);
    StoreResult<int64_t> backlog();
    // Checks the index cheaply (its rows against the store's messages and notes) and, when it is
    // missing, damaged or does not fit the store, drops it and notes every message, to be indexed
    // again. True when it does so.
    StoreResult<bool> rebuild_if_needed();
    // Drops the index and notes every message: for an index a search found damaged.
    StoreResult<void> rebuild();
    // The entry ids of the messages that match an FTS5 query, newest first: `limit` of them from
    // the `offset`th on.
    StoreResult<std::vector<Bytes>> search(std::string const& match, size_t offset, size_t limit);

private:
    template<typename Part, typename... Extra>
    friend StoreResult<std::unique_ptr<Part>> open_store_part(SqliteDatabase&, std::span<char const* const>, MessageTables&, Extra&&...);
    SearchIndex(MessageTables&, StatementSet);
    StoreResult<void> make_table();
    StoreResult<std::vector<int64_t>> pending(size_t limit);
    StoreResult<void> index_one(int64_t message, SearchTerms const& terms_of);
    std::optional<int64_t> count_of(char const* sql);

    // The statements of the index (those of the store's own tables are the part's), prepared once it exists (it may be made, dropped and made again).
    std::optional<StatementSet> m_index_statements;
};

}
