// Registry hive on SQLite: the schema, the connection of each process to
// its device's hive, the wait for another process's lock, and the life of a
// transaction; the hive's errors in the API's codes.  The operations on
// keys and values are in hive_keys.cpp.  Leaves out SQLite's own shared
// cache and connection pooling: one connection a process.
#include "hive.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>

#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <unistd.h>

#include "device/clock.h"
#include "device/device.h"
#include "device/files.h"
#include "registry/hive_query.h"
#include "winerror.h"

namespace wince::registry {
namespace {

constexpr const char* schema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    name_len INTEGER NOT NULL,
    written INTEGER NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, fold);
CREATE TABLE IF NOT EXISTS vals(
    id INTEGER PRIMARY KEY,
    key INTEGER NOT NULL,
    name TEXT NOT NULL,
    fold TEXT NOT NULL,
    name_len INTEGER NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, fold);
INSERT OR IGNORE INTO keys(id, parent, name, fold, name_len, written) VALUES
    (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE', 18, 0),
    (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER', 17, 0),
    (-1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT', 17, 0),
    (-2, 0, 'HKEY_USERS', 'HKEY_USERS', 10, 0);
)sql";

std::mutex hive_mutex;
std::atomic<long> forks{0};
Hive the_hive;

double real_ms()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

HiveError hive_error(sqlite3* db, int result)
{
    const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
    const std::string hive =
        "registry hive " + (file && *file ? std::string(file) : device::registry_file().string());
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(result);
    const int system_error = db ? sqlite3_system_errno(db) : 0;
    switch (result & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return {ERROR_BADDB, hive + " is damaged: " + detail};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {ERROR_LOCK_VIOLATION, hive + " is locked by another process"};
    case SQLITE_READONLY:
        return {ERROR_CANTWRITE, hive + " is read-only"};
    case SQLITE_FULL:
        return {ERROR_DISK_FULL, hive + " cannot grow: the disk is full"};
    case SQLITE_NOMEM:
        return {ERROR_OUTOFMEMORY, hive + ": out of memory"};
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return {ERROR_CANTOPEN, hive + " cannot be opened: " + detail};
    case SQLITE_IOERR:
        if (system_error == ENOSPC || system_error == EDQUOT)
            return {ERROR_DISK_FULL, hive + " cannot grow: the disk is full"};
        return {ERROR_REGISTRY_IO_FAILED, hive + " could not be read or written: " +
                                              (system_error ? std::strerror(system_error) : detail)};
    default:
        return {ERROR_BADDB, hive + " failed: " + detail};
    }
}

void check(sqlite3* db, int result)
{
    if (result != SQLITE_OK && result != SQLITE_DONE && result != SQLITE_ROW)
        throw hive_error(db, result);
}

// ---- Hive -------------------------------------------------------------------

Hive::~Hive() { close(); }

void Hive::close()
{
    for (auto& entry : statements_)
        sqlite3_finalize(entry.second);
    statements_.clear();
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

void Hive::exec(const char* sql) { check(db_, sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

void Hive::connect()
{
    // getpid() costs a system call on every operation; a fork handler that
    // counts forks tells a child from its parent for free.
    static const bool fork_handler = [] {
        ::pthread_atfork(nullptr, nullptr, [] { forks.fetch_add(1); });
        return true;
    }();
    (void)fork_handler;
    const long generation = forks.load();
    const std::filesystem::path root = device::root();
    if (db_ && generation_ == generation && root_ == root.native())
        return;
    const std::string file = device::registry_file().string();
    if (db_ && generation_ != generation) {
        // A connection inherited over fork() belongs to the parent: using or
        // closing it here could disturb the parent's locks, so it is dropped.
        statements_.clear();
        db_ = nullptr;
    }
    close();

    // SQLite makes the hive with the umask's bits and gives its WAL and
    // shared-memory files the hive's own; the device's owner alone may
    // read any of them.
    // The hive must be a regular file of the device's: a link is not
    // followed, and a FIFO or folder in its place is never handed to SQLite.
    if (const int fd = device::open_private(file, O_RDWR | O_CREAT); fd >= 0)
        ::close(fd);
    else if (errno == ELOOP || errno == ENXIO || errno == EISDIR || errno == ENOTDIR)
        throw HiveError{ERROR_CANTOPEN, "registry hive " + device::refusal(file, errno)};
    // SQLite follows no link either, unless the device folder's own path
    // has one: the user may name the folder through a link.
    std::error_code error;
    const bool path_without_links = std::filesystem::canonical(root, error) == std::filesystem::absolute(root);
    sqlite3* db = nullptr;
    // A hive that cannot be written is opened for reading.
    const int opened = sqlite3_open_v2(file.c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX |
                                           (path_without_links ? SQLITE_OPEN_NOFOLLOW : 0),
                                       nullptr);
    if (opened != SQLITE_OK) {
        const HiveError error = hive_error(db, opened);
        sqlite3_close_v2(db);
        throw error;
    }
    db_ = db;
    root_ = root.native();
    generation_ = generation;
    read_only_ = sqlite3_db_readonly(db_, "main") == 1;
    try {
        sqlite3_busy_handler(db_, &Hive::wait_for_lock, this);
        // A write that returned has reached the WAL file, which survives the
        // writer's death; only a power failure could still lose it.
        exec("PRAGMA synchronous=NORMAL");
        set_up_if_new();
    } catch (...) {
        close();
        throw;
    }
}

// Only a new hive is written to here: every other connection, the
// monitor's above all, must not wait for another process's write just to
// open the hive.
void Hive::set_up_if_new()
{
    static constexpr const char* tables_sql =
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('keys', 'vals')";
    {
        Query tables(statement(tables_sql));
        tables.step();
        if (tables.number(0) == 2)
            return;
    }
    if (read_only_)
        throw hive_error(db_, SQLITE_READONLY);
    // Making the hive is a write, and waits as one.
    reading_ = false;
    exec("PRAGMA journal_mode=WAL");
    exec("BEGIN IMMEDIATE");
    try {
        exec(schema);
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int Hive::wait_for_lock(void* hive, int attempts)
{
    auto& self = *static_cast<Hive*>(hive);
    if (attempts == 0) {
        self.lock_wait_device_start_ = clock::now();
        self.lock_wait_real_start_ = real_ms();
    }
    const double device_waited = clock::now() - self.lock_wait_device_start_;
    const double real_waited = real_ms() - self.lock_wait_real_start_;
    if (self.reading_ && (real_waited >= read_lock_wait_ms || device_waited >= read_lock_wait_ms))
        return 0;
    if (real_waited >= lock_wait_ms || (device_waited >= lock_wait_ms && real_waited >= min_lock_wait_real_ms))
        return 0;
    // SQLite offers no blocking wait for its file locks: back off as its
    // own busy handler does.
    static constexpr int backoff_ms[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int steps = static_cast<int>(std::size(backoff_ms));
    sqlite3_sleep(backoff_ms[std::min(attempts, steps - 1)]);
    return 1;
}

sqlite3_stmt* Hive::statement(const char* sql)
{
    for (auto& entry : statements_)
        if (entry.first == sql)
            return entry.second;
    sqlite3_stmt* prepared = nullptr;
    check(db_, sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr));
    statements_.emplace_back(sql, prepared);
    return prepared;
}

// ---- Transaction ------------------------------------------------------------

Transaction::Transaction(Mode mode) : held_(hive_mutex), hive_(the_hive)
{
    static constexpr const char* begin_read = "BEGIN";
    static constexpr const char* begin_write = "BEGIN IMMEDIATE";
    hive_.reading_ = mode == Mode::read;
    hive_.connect();
    if (mode == Mode::write && hive_.read_only_)
        throw hive_error(hive_.db_, SQLITE_READONLY);
    Query(hive_.statement(mode == Mode::write ? begin_write : begin_read)).step();
    open_ = true;
}

Transaction::~Transaction()
{
    static constexpr const char* rollback = "ROLLBACK";
    if (!open_)
        return;
    // A failed rollback leaves nothing to undo: SQLite has already ended
    // the transaction.
    sqlite3_stmt* statement = nullptr;
    try {
        statement = hive_.statement(rollback);
    } catch (const HiveError&) {
        return;
    }
    sqlite3_step(statement);
    sqlite3_reset(statement);
}

void Transaction::commit()
{
    static constexpr const char* commit_sql = "COMMIT";
    Query(hive_.statement(commit_sql)).step();
    open_ = false;
}

} // namespace wince::registry
