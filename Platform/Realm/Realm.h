#pragma once
// The object store: records kept in SQLite (WAL mode), queried with predicate
// formats, read through lazy live results, written in write transactions, with
// change notifications delivered on the main thread.
//
//   auto realm = Realm::defaultRealm();
//   auto updates = ZMRPackage::objectsWhere("isUpdated = 1 && isHeld = 0")
//                      .sortedResultsUsingKeyPath("name", true);
//   realm->transactionWithBlock([&] { updates.setValueForKey("isInTheQueue", true); });
//
// Threads: any thread may read and write. Each operation borrows a connection
// from a pool (a write transaction keeps its own for its duration), so readers
// never wait for a writer. Write transactions are serialised; starting one
// inside another on the same thread throws RealmException instead of deadlocking.
// Records are plain values: a change is written back with addOrUpdate() or
// setValueForKey() inside a transaction.
//
// Storage: one table per record class with a hidden "_rowid"; texts as TEXT (an
// empty text is stored as NULL, so nil and "" are the same), Booleans and
// integers as INTEGER (NULL when absent), dates as REAL seconds since 1970 UTC,
// lists of texts as JSON array text (order kept).
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Realm/Predicate.h"
#include "Realm/RealmSchema.h"

struct sqlite3;
struct sqlite3_stmt;
class Realm;

struct SortDescriptor {
    std::string keyPath;
    bool ascending = true;
};

// Ends a change observation when destroyed.
class NotificationToken {
public:
    struct Entry;
    NotificationToken() = default;
    explicit NotificationToken(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    NotificationToken(NotificationToken&&) noexcept = default;
    NotificationToken& operator=(NotificationToken&& other) noexcept;
    NotificationToken(const NotificationToken&) = delete;
    NotificationToken& operator=(const NotificationToken&) = delete;
    ~NotificationToken();
    void invalidate();
    bool isActive() const;

private:
    std::shared_ptr<Entry> entry_;
};

// What every record struct derives from (through RealmObject<T>).
class RealmObjectBase {
public:
    // True once the record's row has been deleted (by any thread) since it was
    // fetched or added. A record never stored is not invalidated.
    bool isInvalidated() const;
    bool isManaged() const { return rowId_ != 0; }
    int64_t realmRowId() const { return rowId_; }
    const std::shared_ptr<Realm>& realm() const { return realm_; }

    // Used by the store.
    void attachToRealm(std::shared_ptr<Realm> realm, const ObjectSchema* schema, int64_t rowId) {
        realm_ = std::move(realm);
        schema_ = schema;
        rowId_ = rowId;
    }

private:
    std::shared_ptr<Realm> realm_;
    const ObjectSchema* schema_ = nullptr;
    int64_t rowId_ = 0;
};

// The untyped part of a query result: the predicate, sort and distinct keys,
// and the row ids, read again lazily after a change of the class.
class ResultsCore {
public:
    ResultsCore(std::shared_ptr<Realm> realm, const ObjectSchema& schema, CompiledPredicate where,
                std::vector<SortDescriptor> sort = {}, std::vector<std::string> distinct = {});

    size_t count() const;
    int64_t rowIdAt(size_t index) const;  // throws std::out_of_range
    std::vector<int64_t> rowIds() const;
    std::shared_ptr<ResultsCore> sorted(std::vector<SortDescriptor> sort) const;
    std::shared_ptr<ResultsCore> distinct(std::vector<std::string> keyPaths) const;
    // The records of this result that also match the predicate.
    std::shared_ptr<ResultsCore> filtered(const Predicate& predicate) const;
    // Inside a write transaction: sets the property on every record of the result.
    void setValueForKey(const std::string& key, const RealmValue& value) const;
    std::vector<RealmValue> valuesForKey(const std::string& key) const;
    // Calls `block` on the main thread after each committed write transaction
    // that touched the class.
    NotificationToken addNotificationBlock(std::function<void()> block) const;

    const std::shared_ptr<Realm>& realm() const { return realm_; }
    const ObjectSchema& schema() const { return schema_; }
    std::string querySql(const char* what) const;  // SELECT <what> FROM ... WHERE ... ORDER BY ...
    std::string selectionSql(const char* what) const;  // the same without the order
    const CompiledPredicate& where() const { return where_; }

private:
    void refreshIfNeeded() const;

    std::shared_ptr<Realm> realm_;
    const ObjectSchema& schema_;
    CompiledPredicate where_;
    std::vector<SortDescriptor> sort_;
    std::vector<std::string> distinct_;
    mutable std::mutex mutex_;
    mutable std::vector<int64_t> ids_;
    mutable uint64_t version_ = UINT64_MAX;
};

template <typename T> class Results {
public:
    explicit Results(std::shared_ptr<ResultsCore> core) : core_(std::move(core)) {}

    size_t count() const { return core_->count(); }
    bool empty() const { return count() == 0; }
    // The record at `index` (throws std::out_of_range past the end).
    T operator[](size_t index) const;
    std::optional<T> firstObject() const { return count() ? std::optional<T>((*this)[0]) : std::nullopt; }
    std::optional<T> lastObject() const {
        size_t n = count();
        return n ? std::optional<T>((*this)[n - 1]) : std::nullopt;
    }
    // All records at once, in order (one query).
    std::vector<T> toVector() const;
    // One value per record (nil as JSON null): cheaper than loading records.
    std::vector<nlohmann::json> valueForKey(const std::string& key) const {
        std::vector<nlohmann::json> out;
        for (const auto& v : core_->valuesForKey(key)) out.push_back(realmValueToJson(v));
        return out;
    }

    Results sortedResultsUsingKeyPath(const std::string& keyPath, bool ascending) const {
        return Results(core_->sorted({{keyPath, ascending}}));
    }
    Results sortedResultsUsingDescriptors(std::vector<SortDescriptor> descriptors) const {
        return Results(core_->sorted(std::move(descriptors)));
    }
    // One record per distinct combination of the key paths (the first one stored).
    Results distinctResultsUsingKeyPaths(std::vector<std::string> keyPaths) const {
        return Results(core_->distinct(std::move(keyPaths)));
    }
    // Narrows the result further (same sort and distinct keys).
    template <typename... Args> Results objectsWhere(const std::string& format, Args&&... args) const {
        std::vector<RealmValue> values{RealmArg(std::forward<Args>(args)).value...};
        return Results(core_->filtered(Predicate(format, std::move(values))));
    }
    // Inside a write transaction.
    void setValueForKey(const std::string& key, RealmArg value) const { core_->setValueForKey(key, value.value); }

    [[nodiscard]] NotificationToken addNotificationBlock(std::function<void(const Results&)> block) const {
        Results self = *this;
        return core_->addNotificationBlock([self, block = std::move(block)] { block(self); });
    }
    // Skips the call once the owner is gone.
    [[nodiscard]] NotificationToken addNotificationBlock(std::weak_ptr<void> owner,
                                                         std::function<void(const Results&)> block) const {
        Results self = *this;
        return core_->addNotificationBlock([self, owner = std::move(owner), block = std::move(block)] {
            if (auto alive = owner.lock()) block(self);
        });
    }

    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = T;
        iterator(const Results* results, size_t index) : results_(results), index_(index) {}
        T operator*() const { return (*results_)[index_]; }
        iterator& operator++() { ++index_; return *this; }
        iterator operator++(int) { iterator old = *this; ++index_; return old; }
        bool operator==(const iterator& o) const { return index_ == o.index_; }
        bool operator!=(const iterator& o) const { return index_ != o.index_; }

    private:
        const Results* results_;
        size_t index_;
    };
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, count()); }

    const std::shared_ptr<ResultsCore>& core() const { return core_; }

private:
    std::shared_ptr<ResultsCore> core_;
};

// A record in the form the database stores it (texts, numbers or nil; lists
// as JSON text; folded copies beside their texts), in the column order of the
// class's writes. Made on any thread, so that a bulk writer only binds and
// steps inside its transaction.
struct RealmStoredRow {
    const ObjectSchema* schema = nullptr;
    std::vector<RealmValue> values;
};

// An update of some fields of stored records, prepared once for many rows.
struct RealmStoredUpdate {
    const ObjectSchema* schema = nullptr;
    std::string sql;
    std::vector<size_t> positions;  // values of the row to bind, the primary key last
};

class Realm : public std::enable_shared_from_this<Realm> {
public:
    static constexpr uint64_t kSchemaVersion = 27;

    struct Configuration {
        std::string path;
        uint64_t schemaVersion = kSchemaVersion;
        // Page cache of a connection in a write transaction. A write
        // transaction larger than this starts writing pages to the log
        // before it commits.
        int64_t cacheSizeKiB = 65536;
        // Page cache of a connection otherwise: the indexes of the screens'
        // queries fit, and reads of the whole table (the rebuilds after a
        // refresh, several at once) go through the system's file cache
        // instead of each keeping a copy.
        int64_t readCacheSizeKiB = 16384;
    };

    // The database of ZMPaths::databaseFile() (reopened when that path changes).
    static std::shared_ptr<Realm> defaultRealm();
    // Opens or creates the file; a file that cannot be read as a database or
    // that has another schema version is replaced by an empty database
    // (databaseWasReset() then answers true). Throws RealmException when no
    // database can be created at the path.
    static std::shared_ptr<Realm> open(const Configuration& configuration);

    ~Realm();
    Realm(const Realm&) = delete;
    Realm& operator=(const Realm&) = delete;

    const std::string& path() const { return configuration_.path; }
    bool databaseWasReset() const { return wasReset_; }
    // The idle connections together keep at most this much page cache: the
    // one handed back beyond it drops its pages (and the heap is trimmed soon
    // after). A query that read most of the file would otherwise leave a copy
    // of it in every connection that ran one.
    static constexpr int kIdleCacheBytes = 8 << 20;
    // Bytes of page cache held by the connections no thread is using.
    size_t idleCacheBytes() const;
    // A connection handed back with more prepared statements than this
    // finalizes them all (each holds its compiled program).
    static constexpr size_t kIdleStatements = 64;
    // Prepared statements kept by the connections no thread is using.
    size_t idleStatementCount() const;

    // Runs `block` as one write transaction on the calling thread and commits it;
    // when the block throws, the transaction is rolled back and the exception
    // rethrown. Throws RealmException when called inside a transaction.
    void transactionWithBlock(const std::function<void()>& block);
    // The same; a writer that commits bulk writes one after the other
    // passes false to keep its page cache between them (and calls
    // releaseMemory() when it is done).
    void transactionWithBlock(const std::function<void()>& block, bool releaseAfterBulkWrite);
    // The same for a transaction that reads much (a whole table) and writes
    // little: its page cache keeps the size of a reading connection's
    // instead of holding every page it read until it commits.
    void readMostlyTransactionWithBlock(const std::function<void()>& block);
    bool isInWriteTransaction() const;
    // Write transactions committed since the database was opened. Read
    // inside a transaction, it cannot change before that one commits.
    uint64_t commitCount() const { return commits_.load(); }

    // The sizes of the database file and of its write-ahead log.
    struct FileSizes {
        uint64_t database = 0, log = 0;
    };
    FileSizes fileSizes() const;
    // Copies the whole log into the database and empties the log file,
    // waiting for the writers (and, up to the busy time-out, the readers) to
    // let it. Not inside a transaction. False when it could not complete.
    bool checkpointAndTruncate();
    // Gives back the page caches and prepared statements of the connections
    // not in use, and the heap's free memory to the system.
    void releaseMemory();

    template <typename T> Results<T> objects() { return objectsWhere<T>(""); }
    template <typename T, typename... Args> Results<T> objectsWhere(const std::string& format, Args&&... args) {
        std::vector<RealmValue> values{RealmArg(std::forward<Args>(args)).value...};
        return Results<T>(makeResults(T::schema(), Predicate(format, std::move(values))));
    }
    template <typename T> std::optional<T> objectForPrimaryKey(const std::string& key) {
        int64_t rowId = rowIdForPrimaryKey(T::schema(), key);
        if (rowId == 0) return std::nullopt;
        return loadObject<T>(rowId);
    }

    // Inside a write transaction. add() fails when the primary key exists;
    // addOrUpdate() replaces that record (which keeps its identity).
    template <typename T> void add(T& object) { write(T::schema(), &object, object, false); }
    template <typename T> void addOrUpdate(T& object) { write(T::schema(), &object, object, true); }
    template <typename T> void deleteObject(T& object) {
        requireOwnRecord(object);
        deleteRow(T::schema(), object.realmRowId());
    }
    template <typename T> void deleteObjects(const Results<T>& results) { deleteRows(*results.core()); }
    // Sets one property of a stored record (and of the given struct).
    template <typename T> void setValueForKey(T& object, const std::string& key, RealmArg value) {
        const Property& p = requireProperty(T::schema(), key);
        requireOwnRecord(object);
        setRowValue(T::schema(), object.realmRowId(), p, value.value);
        p.set(&object, value.value);
    }

    // The stored form of a record (pure: any thread, no database needed).
    template <typename T> static RealmStoredRow storedRow(const T& object) { return storedRow(T::schema(), &object); }
    static RealmStoredRow storedRow(const ObjectSchema& schema, const void* object);
    // Inside a write transaction: inserts the rows as new records of one
    // class, several to a statement (a bulk write then pays SQLite's
    // per-statement work once per batch). Fails when a primary key exists.
    void insertStoredRows(const std::vector<const RealmStoredRow*>& rows);
    // An update of the named properties, prepared once for many rows.
    static RealmStoredUpdate storedUpdate(const ObjectSchema& schema, const std::vector<std::string>& properties);
    // Inside a write transaction: writes only the update's properties of the
    // record with the row's primary key, leaving its other fields as they
    // are. False when no record has that key.
    bool updateStoredRow(const RealmStoredRow& row, const RealmStoredUpdate& update);
    // Sets one property of a stored row (and its folded copy) from a record's value.
    static void setStoredValue(RealmStoredRow& row, const std::string& property, const RealmValue& value);

    // ---- untyped interface, used by the templates above ---------------------
    std::shared_ptr<ResultsCore> makeResults(const ObjectSchema& schema, const Predicate& predicate);
    int64_t rowIdForPrimaryKey(const ObjectSchema& schema, const std::string& key);
    bool loadRow(const ObjectSchema& schema, int64_t rowId, void* object);
    std::vector<int64_t> queryRowIds(const std::string& sql, const std::vector<RealmValue>& bindings);
    std::vector<RealmValue> queryColumn(const std::string& sql, const std::vector<RealmValue>& bindings,
                                        const Property& property);
    // Loads many rows of a SELECT of the schema's columns (plus _rowid first).
    void loadRows(const ObjectSchema& schema, const std::string& sql, const std::vector<RealmValue>& bindings,
                  const std::function<void(int64_t rowId, void* scratch)>& each, void* scratch);
    void write(const ObjectSchema& schema, const void* object, RealmObjectBase& base, bool update);
    void deleteRow(const ObjectSchema& schema, int64_t rowId);
    void deleteRows(const ResultsCore& results);
    void setRowValue(const ObjectSchema& schema, int64_t rowId, const Property& property, const RealmValue& value);
    void setValues(const ResultsCore& results, const Property& property, const RealmValue& value);
    bool rowExists(const ObjectSchema& schema, int64_t rowId);
    uint64_t changeVersion(const std::string& className);
    NotificationToken addNotificationBlock(const std::string& className, std::function<void()> block);
    // Creates the table, its missing columns and indexes the first time.
    void ensureTable(const ObjectSchema& schema);
    static const Property& requireProperty(const ObjectSchema& schema, const std::string& key);
    // Throws unless the record was fetched from or added to this database.
    void requireOwnRecord(const RealmObjectBase& object) const {
        if (!object.isManaged() || object.realm().get() != this)
            throw RealmException("the record is not stored in " + path());
    }

    struct Connection;

private:
    explicit Realm(Configuration configuration);
    template <typename T> T loadObject(int64_t rowId) {
        T object;
        if (loadRow(T::schema(), rowId, &object)) object.attachToRealm(shared_from_this(), &T::schema(), rowId);
        else object.attachToRealm(shared_from_this(), &T::schema(), rowId);  // gone: invalidated
        return object;
    }
    friend class ResultsCore;
    template <typename> friend class Results;

    class Lease;
    struct Transaction;
    Connection* checkout();
    void giveBack(Connection* connection, bool keepCache = false);
    Transaction* currentTransaction() const;
    Transaction& requireTransaction(const char* operation);
    void markChanged(const std::string& className);
    void notifyEntry(const std::shared_ptr<NotificationToken::Entry>& entry);
    void openFile();
    static int walCommitted(void* context, sqlite3* db, const char* database, int pages);
    void scheduleCheckpoint();
    void checkpoint();
    // After a transaction that wrote this many pages, the connection gives
    // its cache back (about 8 MiB of the 32 KiB pages of new databases).
    static constexpr int kBulkWritePages = 256;
    static void scheduleHeapTrim();
    void runTransaction(const std::function<void()>& block, bool releaseAfterBulk, int64_t cacheKiB);
    static void releaseAfterBulkWrite(Connection& connection);
    void setCacheSize(Connection& connection, int64_t kibibytes) const;

    Configuration configuration_;
    bool wasReset_ = false;
    mutable std::mutex poolMutex_;
    std::vector<std::unique_ptr<Connection>> allConnections_;
    std::vector<Connection*> freeConnections_;
    std::mutex writeMutex_;
    std::atomic<uint64_t> commits_{0};
    std::atomic<bool> checkpointPending_{false};
    std::mutex checkpointMutex_;
    std::mutex tablesMutex_;
    std::set<const ObjectSchema*> readyTables_;
    std::mutex changeMutex_;
    std::map<std::string, uint64_t> versions_;
    std::map<std::string, std::vector<std::weak_ptr<NotificationToken::Entry>>> observers_;
};

// Declares a record class's schema at start-up so that opening a database
// creates every table before the first query (one static object per record).
struct RealmSchemaRegistration {
    explicit RealmSchemaRegistration(const ObjectSchema& schema);
};

// The base of every record struct: class-level queries on the default database
// and generic access to properties by name.
template <typename T> class RealmObject : public RealmObjectBase {
public:
    static std::optional<T> objectForPrimaryKey(const std::string& key) {
        return Realm::defaultRealm()->objectForPrimaryKey<T>(key);
    }
    template <typename... Args> static Results<T> objectsWhere(const std::string& format, Args&&... args) {
        return Realm::defaultRealm()->objectsWhere<T>(format, std::forward<Args>(args)...);
    }
    static Results<T> allObjects() { return Realm::defaultRealm()->objects<T>(); }
    static std::vector<std::string> propertyNames() { return T::schema().propertyNames(); }

    // The property's value as JSON (texts, numbers, Booleans, arrays; nil as null).
    // Throws RealmException for an unknown key.
    nlohmann::json valueForKey(const std::string& key) const {
        return realmValueToJson(Realm::requireProperty(T::schema(), key).get(static_cast<const T*>(this)));
    }
    // Every property under its own name.
    nlohmann::json dictionaryValue() const {
        nlohmann::json out = nlohmann::json::object();
        for (const auto& p : T::schema().properties()) out[p.name] = realmValueToJson(p.get(static_cast<const T*>(this)));
        return out;
    }
    // Sets a property by name on this struct only (not the database).
    void setValueForKey(const std::string& key, RealmArg value) {
        Realm::requireProperty(T::schema(), key).set(static_cast<T*>(this), value.value);
    }
};

template <typename T> T Results<T>::operator[](size_t index) const {
    return core_->realm()->template loadObject<T>(core_->rowIdAt(index));
}

template <typename T> std::vector<T> Results<T>::toVector() const {
    std::vector<T> out;
    auto realm = core_->realm();
    T scratch;
    realm->loadRows(T::schema(), core_->querySql(nullptr), core_->where().bindings,
                    [&](int64_t rowId, void* object) {
                        T& record = *static_cast<T*>(object);
                        record.attachToRealm(realm, &T::schema(), rowId);
                        out.push_back(record);
                    },
                    &scratch);
    return out;
}
