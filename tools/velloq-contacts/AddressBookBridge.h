#pragma once

#include "ContactMirror.h"
#include "service/GObjectRef.h"

#include <libebook/libebook.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace velloq::contacts {

// Keeps the mirror in step with the user's Evolution Data Server: every enabled address book, its
// contacts that have a phone number, followed through a client view (added, changed, deleted,
// numbers given or taken away). Books coming and going are followed through the source registry,
// and EDS itself through its name on the session bus: when it goes, the mirrored contacts stay
// and the bridge waits for it to come back.
class AddressBookBridge {
public:
    // `come_back` runs when EDS is back after it went away: its client library does not follow a
    // restarted EDS, so the caller starts the bridge anew.
    AddressBookBridge(ContactMirror&, std::function<void()> come_back);
    ~AddressBookBridge();
    AddressBookBridge(AddressBookBridge const&) = delete;
    AddressBookBridge& operator=(AddressBookBridge const&) = delete;

private:
    struct Book {
        AddressBookBridge* bridge { nullptr };
        std::string uid;
        std::string name;
        int rank { 0 };
        // Ends the connecting and reading when the book goes first.
        service::GRef<GCancellable> cancellable;
        service::GRef<EBookClient> client;
        service::GRef<EBookClientView> view;
        std::vector<service::SignalConnection> signals;
        // The contacts the view has shown, for the files of contacts deleted meanwhile.
        std::set<std::string> shown;
        bool mirrored { false };
    };

    void registry_appeared();
    void registry_vanished();
    void open_book(ESource*);
    void start_view(Book&, EClient*);
    void close_book(std::string const& uid, bool forget_files);
    int rank_of(ESource*);
    void mirror(Book&, GSList const* contacts);
    void unmirror(Book&, GSList const* uids);

    static void name_appeared(GDBusConnection*, gchar const*, gchar const*, gpointer);
    static void name_vanished(GDBusConnection*, gchar const*, gpointer);
    static void source_added(ESourceRegistry*, ESource*, gpointer);
    static void source_removed(ESourceRegistry*, ESource*, gpointer);
    static void objects_added(EBookClientView*, GSList const*, gpointer);
    static void objects_removed(EBookClientView*, GSList const*, gpointer);
    static void view_complete(EBookClientView*, GError const*, gpointer);
    static void book_connected(GObject*, GAsyncResult*, gpointer);
    static void backend_died(EClient*, gpointer);
    static gboolean reopen(gpointer);
    // A book that could not be opened is tried again a while later (EDS may be starting).
    void retry_later(std::string const& uid);
    static gboolean retry(gpointer);

    ContactMirror& m_mirror;
    std::function<void()> m_come_back;
    bool m_lost { false };
    guint m_watch { 0 };
    service::GRef<ESourceRegistry> m_registry;
    std::vector<service::SignalConnection> m_registry_signals;
    std::map<std::string, std::unique_ptr<Book>> m_books;
    // Ranks given so far, kept while the bridge runs so a book's files keep their names.
    std::map<std::string, int> m_ranks;
    std::set<guint> m_retries;
};

}
