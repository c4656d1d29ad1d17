#include "Realm/Realm.h"

#include <malloc.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unordered_map>

#include <fmt/format.h>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Realm/TextFolding.h"

// ---- schema registry ---------------------------------------------------------

namespace {
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::vector<const ObjectSchema*>& registry() {
    static std::vector<const ObjectSchema*> r;
    return r;
}
}  // namespace

RealmSchemaRegistration::RealmSchemaRegistration(const ObjectSchema& schema) {
    std::lock_guard lock(registryMutex());
    registry().push_back(&schema);
}

// ---- connections -------------------------------------------------------------

namespace {

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

void foldFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int bytes = sqlite3_value_bytes(argv[0]);
    const int mode = argc > 1 ? sqlite3_value_int(argv[1]) : TextFolding::Both;
    std::string folded = TextFolding::fold(std::string_view(text, static_cast<size_t>(bytes)), mode);
    sqlite3_result_text(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

std::string storedText(const RealmValue& v) {
    if (auto s = std::get_if<std::string>(&v)) return *s;
    return {};
}

// A property's value as the database keeps it: a text, a number or nil; a
// list as JSON text; an empty text as nil; a missing number as 0.
RealmValue storedForm(const Property& p, RealmValue v) {
    if (p.type == PropertyType::StringList) {
        const auto* list = std::get_if<StringList>(&v);
        return list && !list->empty() ? nlohmann::json(*list).dump() : std::string("[]");
    }
    if (auto s = std::get_if<std::string>(&v); s && s->empty()) return std::monostate{};
    if (std::holds_alternative<std::monostate>(v) && !p.nullable) return int64_t{0};
    if (auto b = std::get_if<bool>(&v)) return int64_t{*b ? 1 : 0};
    return v;
}
RealmValue foldedForm(const RealmValue& stored) {
    const auto* text = std::get_if<std::string>(&stored);
    return text ? RealmValue(TextFolding::fold(*text, TextFolding::Both)) : RealmValue(std::monostate{});
}

}  // namespace

struct Realm::Connection {
    sqlite3* db = nullptr;
    int64_t cacheKiB = 0;  // the page cache asked for
    std::unordered_map<std::string, sqlite3_stmt*> statements;

    explicit Connection(const std::string& path) {
        int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) {
            std::string message = db ? sqlite3_errmsg(db) : "out of memory";
            sqlite3_close_v2(db);
            db = nullptr;
            throw RealmException("cannot open " + path + ": " + message);
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, 10000);
        sqlite3_create_function_v2(db, "zm_fold", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   foldFunction, nullptr, nullptr, nullptr);
    }
    ~Connection() {
        dropStatements();
        sqlite3_close_v2(db);
    }

    // Only while no statement of this connection is stepping (an idle connection).
    void dropStatements() {
        for (auto& [sql, statement] : statements) sqlite3_finalize(statement);
        statements.clear();
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw RealmException(fmt::format("{}: {} ({})", what, sqlite3_errmsg(db), sqlite3_extended_errcode(db)));
    }

    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "unknown error";
            sqlite3_free(error);
            throw RealmException(fmt::format("{}: {}", sql.substr(0, 80), message));
        }
    }

    sqlite3_stmt* prepare(const std::string& sql) {
        auto it = statements.find(sql);
        if (it != statements.end()) return it->second;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                               nullptr) != SQLITE_OK)
            fail("prepare " + sql.substr(0, 120));
        statements.emplace(sql, statement);
        return statement;
    }
};

namespace {

// A prepared statement in use: bound, stepped, and reset when done.
class Statement {
public:
    Statement(Realm::Connection& connection, const std::string& sql)
        : connection_(connection), statement_(connection.prepare(sql)) {}
    ~Statement() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }

    // Binds a predicate argument.
    void bind(int index, const RealmValue& v) {
        std::visit(
            [&](const auto& x) {
                using V = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<V, std::monostate>) sqlite3_bind_null(statement_, index);
                else if constexpr (std::is_same_v<V, bool>) sqlite3_bind_int64(statement_, index, x ? 1 : 0);
                else if constexpr (std::is_same_v<V, int64_t>) sqlite3_bind_int64(statement_, index, x);
                else if constexpr (std::is_same_v<V, double>) sqlite3_bind_double(statement_, index, x);
                else if constexpr (std::is_same_v<V, std::string>)
                    sqlite3_bind_text(statement_, index, x.data(), static_cast<int>(x.size()), SQLITE_TRANSIENT);
                else {
                    std::string text = nlohmann::json(x).dump();
                    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
                }
            },
            v);
    }
    // Binds a value of a stored row without copying it: the row outlives the step.
    void bindStoredValue(int index, const RealmValue& v) {
        if (auto text = std::get_if<std::string>(&v))
            sqlite3_bind_text(statement_, index, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
        else bind(index, v);
    }
    void bindAll(const std::vector<RealmValue>& values, int first = 1) {
        for (size_t i = 0; i < values.size(); ++i) bind(first + static_cast<int>(i), values[i]);
    }
    // Binds a property value as it is stored: an empty text as NULL.
    void bindStored(int index, const Property& p, const RealmValue& v) { bind(index, storedForm(p, v)); }
    void bindFolded(int index, const RealmValue& v) { bind(index, foldedForm(v)); }

    bool step() {
        int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        connection_.fail("step");
    }

    int64_t int64(int column) const { return sqlite3_column_int64(statement_, column); }

    RealmValue column(int column, const Property& p) const {
        const int type = sqlite3_column_type(statement_, column);
        if (type == SQLITE_NULL) return std::monostate{};
        switch (p.type) {
            case PropertyType::String: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
                return std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
            }
            case PropertyType::Bool: return sqlite3_column_int64(statement_, column) != 0;
            case PropertyType::Int: return static_cast<int64_t>(sqlite3_column_int64(statement_, column));
            case PropertyType::Double:
            case PropertyType::Date: return sqlite3_column_double(statement_, column);
            case PropertyType::StringList: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
                const size_t bytes = static_cast<size_t>(sqlite3_column_bytes(statement_, column));
                StringList list;
                if (bytes > 2) {
                    auto parsed = nlohmann::json::parse(text, text + bytes, nullptr, false);
                    if (parsed.is_array())
                        for (const auto& item : parsed)
                            if (item.is_string()) list.push_back(item.get<std::string>());
                }
                return list;
            }
        }
        return std::monostate{};
    }

    sqlite3_stmt* raw() const { return statement_; }

private:
    Realm::Connection& connection_;
    sqlite3_stmt* statement_;
};

const std::string& columnList(const ObjectSchema& schema) {
    static std::mutex mutex;
    static std::map<const ObjectSchema*, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(&schema);
    if (it != cache.end()) return it->second;
    std::string out;
    for (const auto& p : schema.properties()) {
        if (!out.empty()) out += ", ";
        out += quoted(p.name);
    }
    return cache.emplace(&schema, std::move(out)).first->second;
}

std::string idsJson(const std::vector<int64_t>& ids) { return nlohmann::json(ids).dump(); }

void fillObject(const Statement& statement, const ObjectSchema& schema, void* object, int firstColumn) {
    int column = firstColumn;
    for (const auto& p : schema.properties()) p.set(object, statement.column(column++, p));
}

struct TransactionSlot {
    const Realm* realm;
    void* transaction;
};
thread_local std::vector<TransactionSlot> tlsTransactions;

}  // namespace

// ---- transactions and leases ---------------------------------------------------

struct Realm::Transaction {
    Connection* connection;
    std::set<std::string> changed;
    std::vector<const ObjectSchema*> createdTables;
};

class Realm::Lease {
public:
    explicit Lease(Realm& realm) : realm_(realm) {
        if (Transaction* t = realm.currentTransaction()) {
            connection_ = t->connection;
        } else {
            connection_ = realm.checkout();
            owned_ = true;
        }
    }
    ~Lease() {
        if (owned_) realm_.giveBack(connection_);
    }
    Connection& operator*() const { return *connection_; }
    Connection* operator->() const { return connection_; }

private:
    Realm& realm_;
    Connection* connection_ = nullptr;
    bool owned_ = false;
};

Realm::Transaction* Realm::currentTransaction() const {
    for (const auto& slot : tlsTransactions)
        if (slot.realm == this) return static_cast<Transaction*>(slot.transaction);
    return nullptr;
}

Realm::Transaction& Realm::requireTransaction(const char* operation) {
    Transaction* t = currentTransaction();
    if (!t) throw RealmException(std::string(operation) + " outside a write transaction");
    return *t;
}

bool Realm::isInWriteTransaction() const { return currentTransaction() != nullptr; }

Realm::Connection* Realm::checkout() {
    {
        std::lock_guard lock(poolMutex_);
        if (!freeConnections_.empty()) {
            Connection* c = freeConnections_.back();
            freeConnections_.pop_back();
            return c;
        }
    }
    auto connection = std::make_unique<Connection>(configuration_.path);
    connection->exec(
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA temp_store=MEMORY; PRAGMA journal_size_limit=67108864;");
    setCacheSize(*connection, configuration_.readCacheSizeKiB);
    // Replaces SQLite's automatic checkpoint, which runs inside the COMMIT of
    // the transaction that fills the log: after a refresh that is copying
    // ~100 MB into the database file and syncing it while the caller waits.
    sqlite3_wal_hook(connection->db, &Realm::walCommitted, this);
    std::lock_guard lock(poolMutex_);
    allConnections_.push_back(std::move(connection));
    return allConnections_.back().get();
}

int Realm::walCommitted(void* context, sqlite3*, const char*, int pages) {
    // The same threshold as SQLite's own automatic checkpoint.
    if (pages >= 1000) static_cast<Realm*>(context)->scheduleCheckpoint();
    return SQLITE_OK;
}

void Realm::scheduleCheckpoint() {
    if (checkpointPending_.exchange(true)) return;
    std::weak_ptr<Realm> weak = weak_from_this();
    if (weak.expired()) {  // still opening: nobody waits on this commit
        checkpointPending_ = false;
        return;
    }
    Dispatch::backgroundQueue([weak] {
        auto realm = weak.lock();
        if (!realm) return;
        realm->checkpointPending_ = false;
        realm->checkpoint();
    });
}

void Realm::checkpoint() {
    // One checkpoint at a time: a second one would fail at once (SQLite
    // lets one connection checkpoint at a time, without waiting).
    std::lock_guard checkpointing(checkpointMutex_);
    Lease connection(*this);
    // PASSIVE: never waits for readers or the writer; frames still in use
    // are copied by a later checkpoint.
    if (sqlite3_wal_checkpoint_v2(connection->db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) != SQLITE_OK)
        ZMLOG("checkpoint of {} failed: {}", path(), sqlite3_errmsg(connection->db));
}

Realm::FileSizes Realm::fileSizes() const {
    FileSizes sizes;
    std::error_code ec;
    const auto database = std::filesystem::file_size(path(), ec);
    if (!ec) sizes.database = database;
    const auto log = std::filesystem::file_size(path() + "-wal", ec);
    if (!ec) sizes.log = log;
    return sizes;
}

bool Realm::checkpointAndTruncate() {
    if (currentTransaction()) throw RealmException("a checkpoint inside a write transaction");
    // Most of the log is copied first without keeping the writers waiting;
    // under the write lock only what they added meanwhile is left.
    checkpoint();
    // Our own writers wait here rather than in SQLite's busy loop; the
    // write lock first, as transactions take it before anything else.
    std::lock_guard writeLock(writeMutex_);
    std::lock_guard checkpointing(checkpointMutex_);
    Lease connection(*this);
    int logFrames = -1, copied = -1;
    const int rc = sqlite3_wal_checkpoint_v2(connection->db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &copied);
    if (rc != SQLITE_OK) {
        ZMLOG("checkpoint of {} did not complete: {} ({} of {} frames)", path(), sqlite3_errmsg(connection->db), copied,
              logFrames);
        return false;
    }
    return true;
}

void Realm::setCacheSize(Connection& connection, int64_t kibibytes) const {
    if (connection.cacheKiB == kibibytes) return;
    // A smaller cache gives back the pages beyond it at once.
    connection.exec(fmt::format("PRAGMA cache_size=-{}", kibibytes));
    connection.cacheKiB = kibibytes;
}

void Realm::releaseMemory() {
    {
        std::lock_guard lock(poolMutex_);
        for (Connection* connection : freeConnections_) {
            setCacheSize(*connection, configuration_.readCacheSizeKiB);
            connection->dropStatements();
            sqlite3_db_release_memory(connection->db);
        }
    }
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void Realm::releaseAfterBulkWrite(Connection& connection) {
    // A bulk write (a refresh) leaves tens of megabytes of pages in the
    // writer's cache that nothing reads through this connection soon: the
    // process would keep them for as long as it runs.
    int written = 0, highest = 0;
    if (sqlite3_db_status(connection.db, SQLITE_DBSTATUS_CACHE_WRITE, &written, &highest, 0) != SQLITE_OK ||
        written < kBulkWritePages)
        return;
    sqlite3_db_release_memory(connection.db);
#ifdef __GLIBC__
    malloc_trim(0);  // and the heap gives the freed pages back
#endif
}

namespace {
size_t cacheUsed(sqlite3* db) {
    int used = 0, highest = 0;
    return sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_USED, &used, &highest, 0) == SQLITE_OK ? static_cast<size_t>(used) : 0;
}
}  // namespace

size_t Realm::idleStatementCount() const {
    std::lock_guard lock(poolMutex_);
    size_t total = 0;
    for (Connection* connection : freeConnections_) total += connection->statements.size();
    return total;
}

size_t Realm::idleCacheBytes() const {
    std::lock_guard lock(poolMutex_);
    size_t total = 0;
    for (Connection* connection : freeConnections_) total += cacheUsed(connection->db);
    return total;
}

void Realm::giveBack(Connection* connection, bool keepCache) {
    // Pages a query read stay in this connection's cache for as long as the
    // process runs. The pool grows with the threads that read at once, so
    // the bound holds for the idle connections together: the one handed
    // back drops its pages when they would take the total beyond it (unless
    // a writer of several transactions in a row keeps them until
    // releaseMemory()).
    const size_t used = keepCache ? 0 : cacheUsed(connection->db);
    const size_t idle = used > 0 ? used + idleCacheBytes() : 0;
    // Queries whose text carries their values (a search, a list of names)
    // each leave a prepared statement behind: past the bound they all go.
    const bool manyStatements = connection->statements.size() > kIdleStatements;
    if (manyStatements) connection->dropStatements();
    if (idle > static_cast<size_t>(kIdleCacheBytes)) sqlite3_db_release_memory(connection->db);
    if (manyStatements || idle > static_cast<size_t>(kIdleCacheBytes)) scheduleHeapTrim();
    std::lock_guard lock(poolMutex_);
    freeConnections_.push_back(connection);
}

void Realm::scheduleHeapTrim() {
#ifdef __GLIBC__
    // The freed pages go back to the system only when the heap is trimmed:
    // once, a second after a burst of released caches, off the caller's thread.
    static std::atomic<bool> pending{false};
    if (pending.exchange(true)) return;
    Dispatch::mainAfter(1.0, [] {
        Dispatch::backgroundQueue([] {
            pending = false;
            malloc_trim(0);
        });
    });
#endif
}

void Realm::transactionWithBlock(const std::function<void()>& block) { transactionWithBlock(block, true); }

void Realm::transactionWithBlock(const std::function<void()>& block, bool releaseAfterBulk) {
    runTransaction(block, releaseAfterBulk, configuration_.cacheSizeKiB);
}

void Realm::readMostlyTransactionWithBlock(const std::function<void()>& block) {
    runTransaction(block, true, configuration_.readCacheSizeKiB);
}

void Realm::runTransaction(const std::function<void()>& block, bool releaseAfterBulk, int64_t cacheKiB) {
    if (currentTransaction()) throw RealmException("a write transaction is already open on this thread");
    std::unique_lock writeLock(writeMutex_);
    Transaction transaction{checkout(), {}, {}};
    try {
        setCacheSize(*transaction.connection, cacheKiB);
        transaction.connection->exec("BEGIN IMMEDIATE");
        int written = 0, highest = 0;  // counts the pages this transaction writes (releaseAfterBulkWrite)
        sqlite3_db_status(transaction.connection->db, SQLITE_DBSTATUS_CACHE_WRITE, &written, &highest, 1);
    } catch (...) {
        giveBack(transaction.connection);
        throw;
    }
    tlsTransactions.push_back({this, &transaction});
    auto leave = [&] {
        for (auto it = tlsTransactions.begin(); it != tlsTransactions.end(); ++it)
            if (it->realm == this) {
                tlsTransactions.erase(it);
                break;
            }
    };
    auto abandon = [&] {
        leave();
        try {
            transaction.connection->exec("ROLLBACK");
            setCacheSize(*transaction.connection, configuration_.readCacheSizeKiB);
        } catch (const std::exception& e) {
            ZMLOG("rollback failed: {}", e.what());
        }
        giveBack(transaction.connection);
        writeLock.unlock();
        for (const auto& name : transaction.changed) markChanged(name);  // cached results read again
    };
    try {
        block();
    } catch (...) {
        abandon();
        throw;
    }
    try {
        transaction.connection->exec("COMMIT");
    } catch (...) {
        abandon();
        throw;
    }
    leave();
    ++commits_;
    if (releaseAfterBulk) {
        setCacheSize(*transaction.connection, configuration_.readCacheSizeKiB);
        releaseAfterBulkWrite(*transaction.connection);
    }
    giveBack(transaction.connection, !releaseAfterBulk);
    writeLock.unlock();
    if (!transaction.createdTables.empty()) {
        std::lock_guard lock(tablesMutex_);
        readyTables_.insert(transaction.createdTables.begin(), transaction.createdTables.end());
    }

    std::vector<std::shared_ptr<NotificationToken::Entry>> toNotify;
    {
        std::lock_guard lock(changeMutex_);
        for (const auto& name : transaction.changed) {
            ++versions_[name];
            auto& list = observers_[name];
            for (auto it = list.begin(); it != list.end();) {
                if (auto entry = it->lock()) {
                    toNotify.push_back(std::move(entry));
                    ++it;
                } else {
                    it = list.erase(it);
                }
            }
        }
    }
    for (auto& entry : toNotify) notifyEntry(entry);
}

// ---- notifications -------------------------------------------------------------

struct NotificationToken::Entry {
    std::function<void()> block;
    std::atomic<bool> active{true};
    std::atomic<bool> pending{false};
};

void Realm::notifyEntry(const std::shared_ptr<NotificationToken::Entry>& entry) {
    // Several commits before the main thread runs coalesce into one call.
    if (entry->pending.exchange(true)) return;
    Dispatch::main([entry] {
        entry->pending = false;
        if (entry->active) entry->block();
    });
}

NotificationToken& NotificationToken::operator=(NotificationToken&& other) noexcept {
    if (this != &other) {
        invalidate();
        entry_ = std::move(other.entry_);
    }
    return *this;
}
NotificationToken::~NotificationToken() { invalidate(); }
void NotificationToken::invalidate() {
    if (entry_) entry_->active = false;
    entry_.reset();
}
bool NotificationToken::isActive() const { return entry_ && entry_->active; }

NotificationToken Realm::addNotificationBlock(const std::string& className, std::function<void()> block) {
    auto entry = std::make_shared<NotificationToken::Entry>();
    entry->block = std::move(block);
    std::lock_guard lock(changeMutex_);
    observers_[className].push_back(entry);
    return NotificationToken(entry);
}

void Realm::markChanged(const std::string& className) {
    std::lock_guard lock(changeMutex_);
    ++versions_[className];
}

uint64_t Realm::changeVersion(const std::string& className) {
    std::lock_guard lock(changeMutex_);
    return versions_[className];
}

// ---- opening -------------------------------------------------------------------

Realm::Realm(Configuration configuration) : configuration_(std::move(configuration)) {}

Realm::~Realm() = default;

std::shared_ptr<Realm> Realm::open(const Configuration& configuration) {
    std::shared_ptr<Realm> realm(new Realm(configuration));
    realm->openFile();
    return realm;
}

std::shared_ptr<Realm> Realm::defaultRealm() {
    // Two locks: a transaction may ask for the default database (quick path)
    // while another thread holds the opening lock, which takes write locks.
    static std::mutex currentMutex, openMutex;
    static std::shared_ptr<Realm> current;
    const std::string path = ZMPaths::databaseFile();
    {
        std::lock_guard lock(currentMutex);
        if (current && current->path() == path) return current;
    }
    std::lock_guard opening(openMutex);
    {
        std::lock_guard lock(currentMutex);
        if (current && current->path() == path) return current;
    }
    auto opened = open(Configuration{path, kSchemaVersion});
    std::lock_guard lock(currentMutex);
    current = opened;
    return current;
}

void Realm::openFile() {
    const std::string& path = configuration_.path;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) ZMPaths::createDirectories(parent.string());

    bool needsReset = false;
    try {
        Connection probe(path);
        int64_t version = 0, objects = 0;
        {
            Statement statement(probe, "PRAGMA user_version");
            if (statement.step()) version = statement.int64(0);
        }
        {
            Statement statement(probe, "SELECT count(*) FROM sqlite_master");
            if (statement.step()) objects = statement.int64(0);
        }
        if (version == 0 && objects == 0) {
            probe.exec("PRAGMA page_size=32768");
            probe.exec("PRAGMA journal_mode=WAL");
            probe.exec(fmt::format("PRAGMA user_version = {}", configuration_.schemaVersion));
        } else if (static_cast<uint64_t>(version) != configuration_.schemaVersion) {
            ZMLOG("database {} has schema version {}, expected {}: starting anew", path, version,
                  configuration_.schemaVersion);
            needsReset = true;
        }
    } catch (const RealmException& e) {
        ZMLOG("database {} is unreadable ({}): starting anew", path, e.what());
        needsReset = true;
    }
    if (needsReset) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
        Connection fresh(path);
        fresh.exec("PRAGMA page_size=32768");
        fresh.exec("PRAGMA journal_mode=WAL");
        fresh.exec(fmt::format("PRAGMA user_version = {}", configuration_.schemaVersion));
        wasReset_ = true;
    }
    std::vector<const ObjectSchema*> schemas;
    {
        std::lock_guard lock(registryMutex());
        schemas = registry();
    }
    for (const ObjectSchema* schema : schemas) ensureTable(*schema);
}

void Realm::ensureTable(const ObjectSchema& schema) {
    std::unique_lock lock(tablesMutex_);
    if (readyTables_.count(&schema)) return;
    // Made by this thread's open transaction: there for it, but for other
    // threads only once it commits (the transaction's own view of the file
    // must not mark it ready for them).
    Transaction* open = currentTransaction();
    if (open && std::find(open->createdTables.begin(), open->createdTables.end(), &schema) != open->createdTables.end())
        return;
    Lease connection(*this);
    const std::string table = quoted(schema.className());
    auto columnType = [](const Property& p) -> std::string {
        switch (p.type) {
            case PropertyType::String: return p.isPrimaryKey() ? "TEXT NOT NULL UNIQUE" : "TEXT";
            case PropertyType::Bool:
            case PropertyType::Int: return p.nullable ? "INTEGER" : "INTEGER NOT NULL DEFAULT 0";
            case PropertyType::Double:
            case PropertyType::Date: return p.nullable ? "REAL" : "REAL NOT NULL DEFAULT 0";
            case PropertyType::StringList: return "TEXT NOT NULL DEFAULT '[]'";
        }
        return "TEXT";
    };
    // The statements still needed, from what the file holds now.
    auto missing = [&] {
        std::set<std::string> columns, indexes;
        {
            Statement statement(*connection, "SELECT name FROM pragma_table_info(?)");
            statement.bind(1, schema.className());
            while (statement.step())
                columns.insert(reinterpret_cast<const char*>(sqlite3_column_text(statement.raw(), 0)));
        }
        {
            Statement statement(*connection, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?");
            statement.bind(1, schema.className());
            while (statement.step())
                indexes.insert(reinterpret_cast<const char*>(sqlite3_column_text(statement.raw(), 0)));
        }
        std::vector<std::string> ddl;
        if (columns.empty()) {
            std::string create = "CREATE TABLE IF NOT EXISTS " + table + " (\"_rowid\" INTEGER PRIMARY KEY AUTOINCREMENT";
            // Numbers first, lists last: reading a column means walking the
            // record up to it, and long texts may sit on overflow pages.
            auto rank = [](const Property& p) {
                if (p.type == PropertyType::StringList) return 2;
                return p.type == PropertyType::String ? 1 : 0;
            };
            for (int pass = 0; pass < 3; ++pass) {
                for (const auto& p : schema.properties()) {
                    if (rank(p) != pass) continue;
                    create += ", " + quoted(p.name) + " " + columnType(p);
                    if (p.isFolded()) create += ", " + quoted(p.foldedColumn()) + " TEXT";
                }
            }
            ddl.push_back(create + ")");
        } else {
            for (const auto& p : schema.properties()) {
                if (!columns.count(p.name)) {
                    std::string type = columnType(p);
                    if (p.isPrimaryKey()) type = "TEXT";  // a UNIQUE column cannot be added; the index below enforces it
                    ddl.push_back("ALTER TABLE " + table + " ADD COLUMN " + quoted(p.name) + " " + type);
                }
                if (p.isFolded() && !columns.count(p.foldedColumn())) {
                    ddl.push_back("ALTER TABLE " + table + " ADD COLUMN " + quoted(p.foldedColumn()) + " TEXT");
                    if (columns.count(p.name))
                        ddl.push_back(fmt::format("UPDATE {} SET {} = zm_fold({}, {})", table,
                                                  quoted(p.foldedColumn()), quoted(p.name), int(TextFolding::Both)));
                }
            }
        }
        // Index names are "<Class>_<column>"; the ones of that form the schema
        // no longer declares are dropped, so a changed flag takes effect on
        // the next open.
        const std::string prefix = schema.className() + "_";
        std::set<std::string> declared;
        auto index = [&](const std::string& name, const std::string& columns, bool unique, const std::string& where) {
            declared.insert(name);
            if (indexes.count(name)) return;
            ddl.push_back(fmt::format("CREATE {}INDEX IF NOT EXISTS {} ON {}({}){}", unique ? "UNIQUE " : "",
                                      quoted(name), table, columns, where));
        };
        for (const auto& p : schema.properties()) {
            if (p.isPrimaryKey()) {
                // Made only when the key column came later (an added column
                // cannot be UNIQUE); kept from then on.
                declared.insert(prefix + p.name);
                if (!columns.empty() && !columns.count(p.name)) index(prefix + p.name, quoted(p.name), true, "");
            } else if (p.isIndexed() && p.type == PropertyType::Bool) {
                // Only the YES records: a new name, so a full index of an
                // earlier file is seen as stale.
                index(prefix + p.name + "_yes", quoted(p.name), false, " WHERE " + quoted(p.name) + " = 1");
            } else if (p.isIndexed()) {
                index(prefix + p.name, quoted(p.name), false, "");
            }
            // The folded copy is indexed with the original beside it, so that a
            // search sorted by the property reads the index alone.
            if (p.hasFoldedIndex())
                index(prefix + p.foldedColumn(), quoted(p.foldedColumn()) + ", " + quoted(p.name), false, "");
        }
        std::vector<std::string> drops;
        for (const auto& name : indexes)
            if (name.rfind(prefix, 0) == 0 && name.rfind("sqlite_autoindex_", 0) != 0 && !declared.count(name))
                drops.push_back("DROP INDEX IF EXISTS " + quoted(name));
        ddl.insert(ddl.begin(), drops.begin(), drops.end());
        return ddl;
    };
    if (missing().empty()) {
        readyTables_.insert(&schema);
        return;
    }
    if (open) {
        // Created inside the caller's transaction: ready for others once it commits.
        for (const auto& statement : missing()) connection->exec(statement);
        open->createdTables.push_back(&schema);
        return;
    }
    // Writers take the write lock before the tables lock: same order here.
    lock.unlock();
    std::lock_guard writeLock(writeMutex_);
    lock.lock();
    if (readyTables_.count(&schema)) return;
    connection->exec("BEGIN IMMEDIATE");
    try {
        for (const auto& statement : missing()) connection->exec(statement);
        connection->exec("COMMIT");
    } catch (...) {
        connection->exec("ROLLBACK");
        throw;
    }
    readyTables_.insert(&schema);
}

const Property& Realm::requireProperty(const ObjectSchema& schema, const std::string& key) {
    const Property* p = schema.property(key);
    if (!p) throw RealmException("unknown key path '" + key + "' of " + schema.className());
    return *p;
}

// ---- reading -------------------------------------------------------------------

std::shared_ptr<ResultsCore> Realm::makeResults(const ObjectSchema& schema, const Predicate& predicate) {
    ensureTable(schema);
    return std::make_shared<ResultsCore>(shared_from_this(), schema, predicate.compile(schema));
}

int64_t Realm::rowIdForPrimaryKey(const ObjectSchema& schema, const std::string& key) {
    const Property* pk = schema.primaryKey();
    if (!pk) throw RealmException(schema.className() + " has no primary key");
    if (key.empty()) return 0;
    ensureTable(schema);
    Lease connection(*this);
    Statement statement(*connection,
                        fmt::format("SELECT _rowid FROM {} WHERE {} = ?", quoted(schema.className()), quoted(pk->name)));
    statement.bind(1, key);
    return statement.step() ? statement.int64(0) : 0;
}

bool Realm::loadRow(const ObjectSchema& schema, int64_t rowId, void* object) {
    Lease connection(*this);
    Statement statement(*connection, fmt::format("SELECT {} FROM {} WHERE _rowid = ?", columnList(schema),
                                                 quoted(schema.className())));
    statement.bind(1, rowId);
    if (!statement.step()) return false;
    fillObject(statement, schema, object, 0);
    return true;
}

void Realm::loadRows(const ObjectSchema& schema, const std::string& sql, const std::vector<RealmValue>& bindings,
                     const std::function<void(int64_t, void*)>& each, void* scratch) {
    std::vector<int64_t> rows;
    Lease connection(*this);
    Statement statement(*connection, sql);
    statement.bindAll(bindings);
    while (statement.step()) {
        fillObject(statement, schema, scratch, 1);
        each(statement.int64(0), scratch);
    }
}

bool Realm::rowExists(const ObjectSchema& schema, int64_t rowId) {
    Lease connection(*this);
    Statement statement(*connection, fmt::format("SELECT 1 FROM {} WHERE _rowid = ?", quoted(schema.className())));
    statement.bind(1, rowId);
    return statement.step();
}

std::vector<int64_t> Realm::queryRowIds(const std::string& sql, const std::vector<RealmValue>& bindings) {
    std::vector<int64_t> ids;
    Lease connection(*this);
    Statement statement(*connection, sql);
    statement.bindAll(bindings);
    while (statement.step()) ids.push_back(statement.int64(0));
    return ids;
}

std::vector<RealmValue> Realm::queryColumn(const std::string& sql, const std::vector<RealmValue>& bindings,
                                           const Property& property) {
    std::vector<RealmValue> values;
    Lease connection(*this);
    Statement statement(*connection, sql);
    statement.bindAll(bindings);
    while (statement.step()) values.push_back(statement.column(0, property));
    return values;
}

// ---- writing -------------------------------------------------------------------

namespace {
// The statements that store a whole record, built once per class.
struct WriteStatements {
    std::string insert, upsert, updateByRowId;
};

const WriteStatements& writeStatements(const ObjectSchema& schema) {
    static std::mutex mutex;
    static std::map<const ObjectSchema*, WriteStatements> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(&schema);
    if (it != cache.end()) return it->second;
    const std::string table = quoted(schema.className());
    std::string columns, placeholders, assignments, sets;
    for (const auto& p : schema.properties()) {
        auto add = [&](const std::string& column) {
            if (!columns.empty()) {
                columns += ", ";
                placeholders += ", ";
                assignments += ", ";
                sets += ", ";
            }
            columns += quoted(column);
            placeholders += "?";
            assignments += quoted(column) + " = excluded." + quoted(column);
            sets += quoted(column) + " = ?";
        };
        add(p.name);
        if (p.isFolded()) add(p.foldedColumn());
    }
    WriteStatements statements;
    // A plain insert: OR IGNORE (and no RETURNING) lets SQLite skip its
    // statement journal, which in a long transaction copies every page the
    // insert touches; a conflict is then seen as "no row inserted".
    statements.insert = fmt::format("INSERT OR IGNORE INTO {} ({}) VALUES ({})", table, columns, placeholders);
    if (const Property* pk = schema.primaryKey())
        statements.upsert = fmt::format("INSERT INTO {} ({}) VALUES ({}) ON CONFLICT({}) DO UPDATE SET {} RETURNING _rowid",
                                        table, columns, placeholders, quoted(pk->name), assignments);
    statements.updateByRowId = fmt::format("UPDATE {} SET {} WHERE _rowid = ? RETURNING _rowid", table, sets);
    return cache.emplace(&schema, std::move(statements)).first->second;
}
}  // namespace

void Realm::write(const ObjectSchema& schema, const void* object, RealmObjectBase& base, bool update) {
    Transaction& transaction = requireTransaction("adding a record");
    ensureTable(schema);
    const Property* pk = schema.primaryKey();
    if (pk && storedText(pk->get(object)).empty())
        throw RealmException(schema.className() + ": a record needs its primary key '" + pk->name + "'");

    const WriteStatements& sql = writeStatements(schema);
    auto bindValues = [&](Statement& statement) {
        int index = 1;
        for (const auto& p : schema.properties()) {
            RealmValue v = p.get(object);
            statement.bindStored(index++, p, v);
            if (p.isFolded()) statement.bindFolded(index++, v);
        }
        return index;
    };

    int64_t rowId = 0;
    const bool sameRealm = base.isManaged() && base.realm().get() == this;
    if (!pk && update && sameRealm) {
        Statement statement(*transaction.connection, sql.updateByRowId);
        int index = bindValues(statement);
        statement.bind(index, base.realmRowId());
        if (statement.step()) rowId = statement.int64(0);
    }
    if (rowId == 0 && pk && update) {
        Statement statement(*transaction.connection, sql.upsert);
        bindValues(statement);
        if (!statement.step()) throw RealmException("insert into " + schema.className() + " returned no row");
        rowId = statement.int64(0);
    } else if (rowId == 0) {
        Statement statement(*transaction.connection, sql.insert);
        bindValues(statement);
        statement.step();
        if (sqlite3_changes(transaction.connection->db) != 1)
            throw RealmException(schema.className() +
                                 ": a record with this primary key exists (or a required field is missing)");
        rowId = sqlite3_last_insert_rowid(transaction.connection->db);
    }
    base.attachToRealm(shared_from_this(), &schema, rowId);
    transaction.changed.insert(schema.className());
    markChanged(schema.className());
}

namespace {
// Where each property's value (and its folded copy) sits in a stored row.
const std::vector<int>& storedPositions(const ObjectSchema& schema) {
    static std::mutex mutex;
    static std::map<const ObjectSchema*, std::vector<int>> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(&schema);
    if (it != cache.end()) return it->second;
    std::vector<int> positions;
    int next = 0;
    for (const auto& p : schema.properties()) {
        positions.push_back(next);
        next += p.isFolded() ? 2 : 1;
    }
    return cache.emplace(&schema, std::move(positions)).first->second;
}
}  // namespace


RealmStoredRow Realm::storedRow(const ObjectSchema& schema, const void* object) {
    RealmStoredRow row;
    row.schema = &schema;
    row.values.reserve(schema.properties().size() + 4);
    for (const auto& p : schema.properties()) {
        row.values.push_back(storedForm(p, p.get(object)));
        if (p.isFolded()) row.values.push_back(foldedForm(row.values.back()));
    }
    return row;
}

namespace {
// "INSERT ... VALUES (...), (...)" for `count` records, built once per class and count.
const std::string& multiRowInsert(const ObjectSchema& schema, size_t count) {
    static std::mutex mutex;
    static std::map<std::pair<const ObjectSchema*, size_t>, std::string> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find({&schema, count});
    if (it != cache.end()) return it->second;
    const std::string& single = writeStatements(schema).insert;
    const size_t valuesAt = single.rfind(" VALUES (");
    const std::string tuple = single.substr(valuesAt + 8);  // "(?, ?, ...)"
    std::string sql = single.substr(0, valuesAt + 8) + tuple;
    for (size_t i = 1; i < count; ++i) sql += ", " + tuple;
    return cache.emplace(std::make_pair(&schema, count), std::move(sql)).first->second;
}
}  // namespace

void Realm::insertStoredRows(const std::vector<const RealmStoredRow*>& rows) {
    if (rows.empty()) return;
    Transaction& transaction = requireTransaction("adding records");
    const ObjectSchema* schema = rows.front()->schema;
    if (!schema) throw RealmException("a stored row without its class");
    ensureTable(*schema);
    const Property* pk = schema->primaryKey();
    const size_t keyAt =
        pk ? static_cast<size_t>(storedPositions(*schema)[static_cast<size_t>(pk - schema->properties().data())]) : 0;
    constexpr size_t kPerStatement = 32;
    for (size_t first = 0; first < rows.size(); first += kPerStatement) {
        const size_t count = std::min(kPerStatement, rows.size() - first);
        Statement statement(*transaction.connection, multiRowInsert(*schema, count));
        int index = 1;
        for (size_t i = first; i < first + count; ++i) {
            const RealmStoredRow& row = *rows[i];
            if (row.schema != schema) throw RealmException("stored rows of different classes in one insert");
            if (pk && (keyAt >= row.values.size() || storedText(row.values[keyAt]).empty()))
                throw RealmException(schema->className() + ": a record needs its primary key '" + pk->name + "'");
            for (const auto& value : row.values) statement.bindStoredValue(index++, value);
        }
        statement.step();
        if (sqlite3_changes(transaction.connection->db) != static_cast<int>(count))
            throw RealmException(schema->className() +
                                 ": a record with this primary key exists (or a required field is missing)");
    }
    transaction.changed.insert(schema->className());
    markChanged(schema->className());
}

namespace {
size_t storedPosition(const ObjectSchema& schema, const Property& p) {
    return static_cast<size_t>(storedPositions(schema)[static_cast<size_t>(&p - schema.properties().data())]);
}
}  // namespace

void Realm::setStoredValue(RealmStoredRow& row, const std::string& property, const RealmValue& value) {
    if (!row.schema) throw RealmException("a stored row without its class");
    const Property& p = requireProperty(*row.schema, property);
    const size_t at = storedPosition(*row.schema, p);
    if (at + (p.isFolded() ? 1 : 0) >= row.values.size())
        throw RealmException(row.schema->className() + ": a stored row of another class");
    row.values[at] = storedForm(p, value);
    if (p.isFolded()) row.values[at + 1] = foldedForm(row.values[at]);
}

RealmStoredUpdate Realm::storedUpdate(const ObjectSchema& schema, const std::vector<std::string>& properties) {
    const Property* pk = schema.primaryKey();
    if (!pk) throw RealmException(schema.className() + " has no primary key");
    RealmStoredUpdate update;
    update.schema = &schema;
    // ?N is the value's place in the row plus one.
    std::string sets;
    for (const auto& name : properties) {
        const Property& p = requireProperty(schema, name);
        if (p.isPrimaryKey()) continue;
        const size_t at = storedPosition(schema, p);
        sets += fmt::format("{}{} = ?{}", sets.empty() ? "" : ", ", quoted(p.name), at + 1);
        update.positions.push_back(at);
        if (p.isFolded()) {
            sets += fmt::format(", {} = ?{}", quoted(p.foldedColumn()), at + 2);
            update.positions.push_back(at + 1);
        }
    }
    const size_t keyAt = storedPosition(schema, *pk);
    update.positions.push_back(keyAt);
    update.sql = sets.empty() ? fmt::format("SELECT 1 FROM {} WHERE {} = ?{}", quoted(schema.className()),
                                            quoted(pk->name), keyAt + 1)
                              : fmt::format("UPDATE {} SET {} WHERE {} = ?{}", quoted(schema.className()), sets,
                                            quoted(pk->name), keyAt + 1);
    return update;
}

bool Realm::updateStoredRow(const RealmStoredRow& row, const RealmStoredUpdate& update) {
    Transaction& transaction = requireTransaction("updating a record");
    if (!row.schema || row.schema != update.schema) throw RealmException("a stored row of another class");
    ensureTable(*row.schema);
    Statement statement(*transaction.connection, update.sql);
    for (size_t at : update.positions) {
        if (at >= row.values.size()) throw RealmException(row.schema->className() + ": a stored row of another class");
        statement.bindStoredValue(static_cast<int>(at) + 1, row.values[at]);
    }
    if (update.positions.size() == 1) return statement.step();  // nothing to write: does the record exist?
    statement.step();
    if (sqlite3_changes(transaction.connection->db) == 0) return false;
    transaction.changed.insert(row.schema->className());
    markChanged(row.schema->className());
    return true;
}

void Realm::deleteRow(const ObjectSchema& schema, int64_t rowId) {
    Transaction& transaction = requireTransaction("deleting a record");
    if (rowId == 0) throw RealmException("deleting a record that is not stored");
    Statement statement(*transaction.connection,
                        fmt::format("DELETE FROM {} WHERE _rowid = ?", quoted(schema.className())));
    statement.bind(1, rowId);
    statement.step();
    transaction.changed.insert(schema.className());
    markChanged(schema.className());
}

void Realm::deleteRows(const ResultsCore& results) {
    Transaction& transaction = requireTransaction("deleting records");
    const ObjectSchema& schema = results.schema();
    std::vector<int64_t> ids = results.rowIds();
    Statement statement(*transaction.connection,
                        fmt::format("DELETE FROM {} WHERE _rowid IN (SELECT value FROM json_each(?))",
                                    quoted(schema.className())));
    statement.bind(1, idsJson(ids));
    statement.step();
    transaction.changed.insert(schema.className());
    markChanged(schema.className());
}

namespace {
std::string assignment(const Property& property) {
    if (property.isPrimaryKey()) throw RealmException("the primary key '" + property.name + "' cannot be changed");
    std::string sets = quoted(property.name) + " = ?1";
    if (property.isFolded()) sets += ", " + quoted(property.foldedColumn()) + " = ?2";
    return sets;
}
}  // namespace

void Realm::setRowValue(const ObjectSchema& schema, int64_t rowId, const Property& property, const RealmValue& value) {
    Transaction& transaction = requireTransaction("setting a value");
    if (rowId == 0) throw RealmException("setting a value on a record that is not stored");
    Statement statement(*transaction.connection, fmt::format("UPDATE {} SET {} WHERE _rowid = ?3",
                                                             quoted(schema.className()), assignment(property)));
    statement.bindStored(1, property, value);
    if (property.isFolded()) statement.bindFolded(2, value);
    statement.bind(3, rowId);
    statement.step();
    transaction.changed.insert(schema.className());
    markChanged(schema.className());
}

void Realm::setValues(const ResultsCore& results, const Property& property, const RealmValue& value) {
    Transaction& transaction = requireTransaction("setting values");
    const ObjectSchema& schema = results.schema();
    std::vector<int64_t> ids = results.rowIds();
    Statement statement(*transaction.connection,
                        fmt::format("UPDATE {} SET {} WHERE _rowid IN (SELECT value FROM json_each(?3))",
                                    quoted(schema.className()), assignment(property)));
    statement.bindStored(1, property, value);
    if (property.isFolded()) statement.bindFolded(2, value);
    statement.bind(3, idsJson(ids));
    statement.step();
    transaction.changed.insert(schema.className());
    markChanged(schema.className());
}

// ---- records and results -------------------------------------------------------

bool RealmObjectBase::isInvalidated() const {
    if (!realm_ || !schema_ || rowId_ == 0) return false;
    return !realm_->rowExists(*schema_, rowId_);
}

ResultsCore::ResultsCore(std::shared_ptr<Realm> realm, const ObjectSchema& schema, CompiledPredicate where,
                         std::vector<SortDescriptor> sort, std::vector<std::string> distinct)
    : realm_(std::move(realm)), schema_(schema), where_(std::move(where)), sort_(std::move(sort)),
      distinct_(std::move(distinct)) {
    for (const auto& d : sort_) {
        const Property& p = Realm::requireProperty(schema_, d.keyPath);
        if (p.type == PropertyType::StringList) throw RealmException("cannot sort by the list '" + p.name + "'");
    }
    for (const auto& key : distinct_) Realm::requireProperty(schema_, key);
}

std::string ResultsCore::querySql(const char* what) const {
    // With a condition, sort the matches afterwards ("+" keeps the planner from
    // walking a whole index in sort order and testing every row on the way).
    const bool filtered = where_.sql != "1" || !distinct_.empty();
    std::string order;
    for (const auto& d : sort_)
        order += (filtered ? "+" : "") + quoted(d.keyPath) + (d.ascending ? " ASC, " : " DESC, ");
    return selectionSql(what) + " ORDER BY " + order + "_rowid";
}

std::string ResultsCore::selectionSql(const char* what) const {
    const std::string table = quoted(schema_.className());
    std::string select = what ? std::string(what) : "_rowid, " + columnList(schema_);
    std::string sql;
    if (distinct_.empty()) {
        sql = fmt::format("SELECT {} FROM {} WHERE {}", select, table, where_.sql);
    } else {
        std::string groups;
        for (const auto& key : distinct_) groups += (groups.empty() ? "" : ", ") + quoted(key);
        sql = fmt::format("SELECT {0} FROM {1} WHERE _rowid IN (SELECT min(_rowid) FROM {1} WHERE {2} GROUP BY {3})",
                          select, table, where_.sql, groups);
    }
    return sql;
}

void ResultsCore::refreshIfNeeded() const {
    const uint64_t version = realm_->changeVersion(schema_.className());
    if (version == version_) return;
    ids_ = realm_->queryRowIds(querySql("_rowid"), where_.bindings);
    version_ = version;
}

size_t ResultsCore::count() const {
    std::lock_guard lock(mutex_);
    if (realm_->changeVersion(schema_.className()) == version_) return ids_.size();
    // Counted by the database: the row ids (a vector of every match) are
    // read only when a row is asked for.
    const auto counted = realm_->queryRowIds(selectionSql("count(*)"), where_.bindings);
    return counted.empty() ? 0 : static_cast<size_t>(counted.front());
}

int64_t ResultsCore::rowIdAt(size_t index) const {
    std::lock_guard lock(mutex_);
    refreshIfNeeded();
    if (index >= ids_.size())
        throw std::out_of_range(fmt::format("index {} beyond {} results", index, ids_.size()));
    return ids_[index];
}

std::vector<int64_t> ResultsCore::rowIds() const {
    std::lock_guard lock(mutex_);
    refreshIfNeeded();
    return ids_;
}

std::shared_ptr<ResultsCore> ResultsCore::sorted(std::vector<SortDescriptor> sort) const {
    return std::make_shared<ResultsCore>(realm_, schema_, where_, std::move(sort), distinct_);
}

std::shared_ptr<ResultsCore> ResultsCore::distinct(std::vector<std::string> keyPaths) const {
    return std::make_shared<ResultsCore>(realm_, schema_, where_, sort_, std::move(keyPaths));
}

std::shared_ptr<ResultsCore> ResultsCore::filtered(const Predicate& predicate) const {
    CompiledPredicate extra = predicate.compile(schema_);
    CompiledPredicate combined;
    combined.sql = "(" + where_.sql + ") AND (" + extra.sql + ")";
    combined.bindings = where_.bindings;
    combined.bindings.insert(combined.bindings.end(), extra.bindings.begin(), extra.bindings.end());
    return std::make_shared<ResultsCore>(realm_, schema_, std::move(combined), sort_, distinct_);
}

void ResultsCore::setValueForKey(const std::string& key, const RealmValue& value) const {
    realm_->setValues(*this, Realm::requireProperty(schema_, key), value);
}

std::vector<RealmValue> ResultsCore::valuesForKey(const std::string& key) const {
    const Property& p = Realm::requireProperty(schema_, key);
    return realm_->queryColumn(querySql(quoted(p.name).c_str()), where_.bindings, p);
}

NotificationToken ResultsCore::addNotificationBlock(std::function<void()> block) const {
    return realm_->addNotificationBlock(schema_.className(), std::move(block));
}
