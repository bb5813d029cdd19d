#include "AddressBookBridge.h"

#include "service/ServiceLog.h"

#include <algorithm>
#include <string_view>

namespace velloq::contacts {

namespace {

// The registry's name on the session bus (EDS 3.46 and later number it so).
constexpr char const* registry_name = "org.gnome.evolution.dataserver.Sources5";
// The contacts that can name a chat: those with a phone number.
constexpr char const* with_phone = "(exists \"tel\")";
// How long EDS may take to bring a remote book online before it is followed as it is (from its
// cache); the connecting runs beside the main loop, so nothing waits for it. A local book is not
// waited for: without a network it would wait the whole time before its contacts show.
constexpr guint32 remote_connect_seconds = 30;
constexpr guint32 no_waiting = static_cast<guint32>(-1);
constexpr guint retry_seconds = 3;
// The user's own book ("Personal") wins where a number is in several books: its files sort last.
constexpr int personal_rank = 999;

bool is_local(ESource* source)
{
    auto* backend = E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK));
    char const* name = e_source_backend_get_backend_name(backend);
    return name && std::string_view(name) == "local";
}

std::string text_of(gchar* owned)
{
    std::string text = owned ? owned : "";
    g_free(owned);
    return text;
}

}

AddressBookBridge::AddressBookBridge(ContactMirror& mirror, std::function<void()> come_back)
    : m_mirror(mirror)
    , m_come_back(std::move(come_back))
{
    // Starting EDS where it is installed but not yet running (a session that has not used it).
    m_watch = g_bus_watch_name(G_BUS_TYPE_SESSION, registry_name, G_BUS_NAME_WATCHER_FLAGS_AUTO_START, &name_appeared, &name_vanished, this, nullptr);
}

AddressBookBridge::~AddressBookBridge()
{
    for (guint retry : m_retries)
        g_source_remove(retry);
    registry_vanished();
    if (m_watch)
        g_bus_unwatch_name(m_watch);
}

void AddressBookBridge::name_appeared(GDBusConnection*, gchar const*, gchar const*, gpointer data)
{
    auto& self = *static_cast<AddressBookBridge*>(data);
    if (self.m_lost) {
        service::say("Evolution Data Server is back");
        self.m_come_back();
        return;
    }
    self.registry_appeared();
}

void AddressBookBridge::name_vanished(GDBusConnection*, gchar const*, gpointer data)
{
    auto& self = *static_cast<AddressBookBridge*>(data);
    if (!self.m_registry)
        return;
    service::say("Evolution Data Server went away; the mirrored contacts stay until it is back");
    self.m_lost = true;
    self.registry_vanished();
}

void AddressBookBridge::registry_appeared()
{
    service::GErrorHolder error;
    m_registry.reset(e_source_registry_new_sync(nullptr, error.out()));
    if (!m_registry) {
        service::say("cannot read Evolution Data Server's address books: " + error.message());
        return;
    }
    ESourceRegistry* registry = m_registry.get();
    m_registry_signals.emplace_back(registry, g_signal_connect(registry, "source-added", G_CALLBACK(&source_added), this));
    m_registry_signals.emplace_back(registry, g_signal_connect(registry, "source-enabled", G_CALLBACK(&source_added), this));
    m_registry_signals.emplace_back(registry, g_signal_connect(registry, "source-removed", G_CALLBACK(&source_removed), this));
    m_registry_signals.emplace_back(registry, g_signal_connect(registry, "source-disabled", G_CALLBACK(&source_removed), this));
    GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_ADDRESS_BOOK);
    for (GList* item = sources; item; item = item->next)
        open_book(E_SOURCE(item->data));
    g_list_free_full(sources, g_object_unref);
}

void AddressBookBridge::registry_vanished()
{
    std::vector<std::string> uids;
    for (auto const& [uid, book] : m_books)
        uids.push_back(uid);
    for (auto const& uid : uids)
        close_book(uid, false);
    m_registry_signals.clear();
    m_registry.reset();
}

// The personal book first; the others in the order the registry first listed them (the earlier,
// the higher).
int AddressBookBridge::rank_of(ESource* source)
{
    std::string uid = e_source_get_uid(source);
    auto known = m_ranks.find(uid);
    if (known != m_ranks.end())
        return known->second;
    service::GRef<ESource> personal(e_source_registry_ref_builtin_address_book(m_registry.get()));
    int others = static_cast<int>(std::count_if(m_ranks.begin(), m_ranks.end(), [](auto const& known) { return known.second != personal_rank; }));
    int rank = personal && uid == e_source_get_uid(personal.get()) ? personal_rank : std::max(1, personal_rank - 1 - others);
    m_ranks[uid] = rank;
    return rank;
}

// The book is connected to without waiting: a remote book that takes long to come online holds
// up neither the others nor the service's stop.
void AddressBookBridge::open_book(ESource* source)
{
    std::string uid = e_source_get_uid(source);
    if (!e_source_has_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK) || !e_source_registry_check_enabled(m_registry.get(), source) || m_books.contains(uid))
        return;
    auto book = std::make_unique<Book>();
    book->bridge = this;
    book->uid = uid;
    book->name = e_source_get_display_name(source);
    book->rank = rank_of(source);
    book->cancellable.reset(g_cancellable_new());
    // The callback holds a name, not the book, which may be gone by then.
    auto* pending = new std::pair<AddressBookBridge*, std::string>(this, uid);
    e_book_client_connect(source, is_local(source) ? no_waiting : remote_connect_seconds, book->cancellable.get(), &book_connected, pending);
    m_books[uid] = std::move(book);
}

void AddressBookBridge::book_connected(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::pair<AddressBookBridge*, std::string>> pending(static_cast<std::pair<AddressBookBridge*, std::string>*>(data));
    service::GErrorHolder error;
    EClient* client = e_book_client_connect_finish(result, error.out());
    if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return;
    auto& [self, uid] = *pending;
    auto found = self->m_books.find(uid);
    if (found == self->m_books.end()) {
        if (client)
            g_object_unref(client);
        return;
    }
    if (!client) {
        service::say("cannot open the address book " + uid + " (" + found->second->name + "): " + error.message());
        self->m_books.erase(found);
        self->retry_later(uid);
        return;
    }
    self->start_view(*found->second, client);
}

void AddressBookBridge::retry_later(std::string const& uid)
{
    auto* pending = new std::pair<AddressBookBridge*, std::string>(this, uid);
    guint id = g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, retry_seconds, &retry, pending,
        [](gpointer data) { delete static_cast<std::pair<AddressBookBridge*, std::string>*>(data); });
    m_retries.insert(id);
}

gboolean AddressBookBridge::retry(gpointer data)
{
    auto& [self, uid] = *static_cast<std::pair<AddressBookBridge*, std::string>*>(data);
    self->m_retries.erase(g_source_get_id(g_main_current_source()));
    if (!self->m_registry || self->m_books.contains(uid))
        return G_SOURCE_REMOVE;
    service::GRef<ESource> source(e_source_registry_ref_source(self->m_registry.get(), uid.c_str()));
    if (source)
        self->open_book(source.get());
    return G_SOURCE_REMOVE;
}

void AddressBookBridge::start_view(Book& book, EClient* client)
{
    book.client.reset(E_BOOK_CLIENT(client));
    service::GErrorHolder error;
    EBookClientView* view = nullptr;
    if (!e_book_client_get_view_sync(book.client.get(), with_phone, &view, book.cancellable.get(), error.out())) {
        service::say("cannot follow the address book " + book.uid + ": " + error.message());
        std::string uid = book.uid;
        m_books.erase(uid);
        retry_later(uid);
        return;
    }
    book.view.reset(view);
    book.signals.emplace_back(view, g_signal_connect(view, "objects-added", G_CALLBACK(&objects_added), &book));
    book.signals.emplace_back(view, g_signal_connect(view, "objects-modified", G_CALLBACK(&objects_added), &book));
    book.signals.emplace_back(view, g_signal_connect(view, "objects-removed", G_CALLBACK(&objects_removed), &book));
    book.signals.emplace_back(view, g_signal_connect(view, "complete", G_CALLBACK(&view_complete), &book));
    book.signals.emplace_back(client, g_signal_connect(client, "backend-died", G_CALLBACK(&backend_died), &book));
    e_book_client_view_start(view, error.out());
    if (error) {
        service::say("cannot follow the address book " + book.uid + ": " + error.message());
        std::string uid = book.uid;
        m_books.erase(uid);
        retry_later(uid);
        return;
    }
    service::say("following the address book " + book.uid + " (" + book.name + ")");
}

void AddressBookBridge::close_book(std::string const& uid, bool forget_files)
{
    auto found = m_books.find(uid);
    if (found != m_books.end()) {
        Book& book = *found->second;
        g_cancellable_cancel(book.cancellable.get());
        book.signals.clear();
        if (book.view) {
            service::GErrorHolder error;
            e_book_client_view_stop(book.view.get(), error.out());
        }
        m_books.erase(found);
    }
    if (forget_files) {
        int removed = m_mirror.remove_book(uid);
        service::say("the address book " + uid + " is gone: " + std::to_string(removed) + " contacts removed");
    }
}

// The address-book factory ended while the registry stayed (a crash): the view is dead and hears
// of no change. The book is opened again, from a factory the bus starts anew.
// The client is let go after the signal's emission, not inside it.
void AddressBookBridge::backend_died(EClient*, gpointer data)
{
    auto& book = *static_cast<Book*>(data);
    service::say("the address book " + book.uid + " lost its service; opening it again");
    auto* pending = new std::pair<AddressBookBridge*, std::string>(book.bridge, book.uid);
    guint id = g_idle_add_full(G_PRIORITY_DEFAULT, &reopen, pending, [](gpointer data) { delete static_cast<std::pair<AddressBookBridge*, std::string>*>(data); });
    book.bridge->m_retries.insert(id);
}

gboolean AddressBookBridge::reopen(gpointer data)
{
    auto& [self, uid] = *static_cast<std::pair<AddressBookBridge*, std::string>*>(data);
    self->m_retries.erase(g_source_get_id(g_main_current_source()));
    self->close_book(uid, false);
    self->retry_later(uid);
    return G_SOURCE_REMOVE;
}

void AddressBookBridge::source_added(ESourceRegistry*, ESource* source, gpointer data)
{
    static_cast<AddressBookBridge*>(data)->open_book(source);
}

void AddressBookBridge::source_removed(ESourceRegistry*, ESource* source, gpointer data)
{
    if (e_source_has_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK))
        static_cast<AddressBookBridge*>(data)->close_book(e_source_get_uid(source), true);
}

void AddressBookBridge::mirror(Book& book, GSList const* contacts)
{
    for (GSList const* item = contacts; item; item = item->next) {
        EContact* contact = E_CONTACT(item->data);
        auto const* uid = static_cast<char const*>(e_contact_get_const(contact, E_CONTACT_UID));
        if (!uid)
            continue;
        std::string card = text_of(e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30));
        if (!m_mirror.write(book.rank, book.uid, uid, card))
            service::say("cannot write the contact " + std::string(uid) + " into " + m_mirror.folder());
        book.shown.insert(uid);
    }
}

void AddressBookBridge::unmirror(Book& book, GSList const* uids)
{
    for (GSList const* item = uids; item; item = item->next) {
        auto const* uid = static_cast<char const*>(item->data);
        m_mirror.remove(book.rank, book.uid, uid);
        book.shown.erase(uid);
    }
}

void AddressBookBridge::objects_added(EBookClientView*, GSList const* contacts, gpointer data)
{
    auto& book = *static_cast<Book*>(data);
    book.bridge->mirror(book, contacts);
}

void AddressBookBridge::objects_removed(EBookClientView*, GSList const* uids, gpointer data)
{
    auto& book = *static_cast<Book*>(data);
    book.bridge->unmirror(book, uids);
}

// The view has shown every contact the book had: files of contacts deleted while the bridge was
// not running go.
void AddressBookBridge::view_complete(EBookClientView*, GError const* error, gpointer data)
{
    auto& book = *static_cast<Book*>(data);
    if (error) {
        service::say("the address book " + book.uid + " was not read whole: " + error->message);
        return;
    }
    // The view completes again after later changes; the book was read whole the first time.
    if (book.mirrored)
        return;
    book.mirrored = true;
    int removed = book.bridge->m_mirror.remove_others(book.rank, book.uid, book.shown);
    service::say("the address book " + book.uid + " is mirrored: " + std::to_string(book.shown.size()) + " contacts with a number"
        + (removed > 0 ? ", " + std::to_string(removed) + " gone since" : ""));
}

}
