#pragma once
// A disk that fails under the object store, for tests: an SQLite file layer
// (VFS) put in front of the system's one as the process's default, passing
// everything through until a test turns a fault on for the files under a
// path (the database, its log and its shared memory).
//
//   FailingStore::install();                      // before the database is opened
//   FailingStore::Scope full(dbPath, FailingStore::Fault::DiskFull);
//   ...writes now fail as on a full disk (SQLITE_FULL); reads still work...
//   FailingStore::Scope broken(dbPath, FailingStore::Fault::ReadError);
//   ...every read transaction fails with an I/O error (SQLITE_IOERR)...
//
// Connections opened before install() keep the system's layer and never fail.
#include <string>

namespace FailingStore {

enum class Fault {
    None,
    DiskFull,   // writes and syncs answer SQLITE_FULL
    ReadError,  // reads and the log's read locks answer SQLITE_IOERR (writes too: a write reads first)
};

// Makes the failing layer the default one (once per process; later calls do nothing).
void install();

// The fault for files whose path starts with `pathPrefix` until the scope
// ends (one scope at a time).
class Scope {
public:
    Scope(std::string pathPrefix, Fault fault);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// Operations refused since install().
int refusals();

}  // namespace FailingStore
