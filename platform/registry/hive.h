// The registry hive of the emulated device: registry.db in the device folder,
// an SQLite database in WAL mode shared by every process of the device.
//
// Emulates the store behind the Windows CE registry: keys below
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, named values of any type, names
// that compare without regard to case and keep their case, last-write times.
// Leaves out classes, security descriptors, volatile keys, change
// notification and the other predefined roots.
//
// Every operation runs inside one Transaction, so another process sees a
// value either before or after a write, never half of it, and a process
// killed in the middle of a write loses at most that write.  Within a process
// one mutex serialises all use of the connection.
//
// Readers never wait for writers: the schema is made once, when the hive is
// new, and reads run in WAL read transactions, so a hive that is read-only
// on disk is still read.  A write that cannot get the hive's lock fails
// after a bounded wait, a read held off by a connection that holds the
// hive exclusively after a short one.  A hive that is damaged, locked,
// read-only or on a full disk fails with an error that says so.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace wince::registry {

using KeyId = int64_t;
inline constexpr KeyId local_machine_id = 1;
inline constexpr KeyId current_user_id = 2;
// Below every id a key can be given, so that no key of an older hive is
// mistaken for them.
inline constexpr KeyId classes_root_id = -1;
inline constexpr KeyId users_id = -2;

inline bool is_root(KeyId key)
{
    return key == local_machine_id || key == current_user_id || key == classes_root_id || key == users_id;
}

// A failed hive operation, carrying the Windows error code the API returns
// and, when the hive itself failed, what happened to it ("registry hive
// DIR/registry.db is damaged: ...").
struct HiveError {
    long code;
    std::string message;
};

// How long a write waits for another process's write to end: this much
// device time, but never longer in real time, and never less than
// min_lock_wait_real_ms in real time, which a write of a loaded host may
// take at any clock rate.
inline constexpr double lock_wait_ms = 5000;
inline constexpr double min_lock_wait_real_ms = 200;
// A read never waits for a writer (WAL); it finds the hive locked only
// while another connection holds it whole (exclusive locking mode, or a
// moment's recovery).  It gives up after this much device or real time,
// whichever comes first, so that a program that reads its settings on a
// timer stays on time and takes its defaults instead.
inline constexpr double read_lock_wait_ms = 50;

// Upper-cased UTF-8 form of a name: the hive's comparison key.
std::string fold(std::wstring_view name);

struct KeyInfo {
    uint32_t subkeys = 0;
    uint32_t max_subkey_len = 0;  // characters, no terminator
    uint32_t values = 0;
    uint32_t max_value_name_len = 0; // characters, no terminator
    uint32_t max_data_len = 0;    // bytes
    uint64_t written = 0;         // FILETIME ticks
};

struct Value {
    std::wstring name;
    uint32_t type = 0;
    std::vector<unsigned char> data;
};

struct Subkey {
    std::wstring name;
    uint64_t written = 0;
};

class Transaction;

// The calling process's connection to the current device's hive.
class Hive {
public:
    Hive() = default;
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    ~Hive();

private:
    friend class Transaction;
    sqlite3_stmt* statement(const char* sql);
    void connect(); // (re)opens for the current device folder and process
    void exec(const char* sql);
    void close();

    void set_up_if_new();
    static int wait_for_lock(void* hive, int attempts);

    sqlite3* db_ = nullptr;
    double lock_wait_device_start_ = 0; // when the current wait for the lock began
    double lock_wait_real_start_ = 0;
    bool reading_ = false; // the current transaction only reads
    bool read_only_ = false; // the hive file cannot be written
    std::string root_; // the device folder the connection belongs to
    long generation_ = -1; // fork generation of the process that opened the connection
    std::vector<std::pair<const char*, sqlite3_stmt*>> statements_;
};

// One registry operation: holds the process's hive mutex and an SQLite
// transaction (IMMEDIATE for writes, so two writers never deadlock on an
// upgrade).  Rolled back unless commit() is called.
class Transaction {
public:
    enum class Mode { read, write };
    explicit Transaction(Mode mode);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

    bool key_exists(KeyId key);
    std::optional<KeyId> find_subkey(KeyId parent, std::wstring_view name);
    KeyId create_subkey(KeyId parent, std::wstring_view name);
    // "HKLM\Software\Apps" with every name as stored.
    std::string key_path(KeyId key);
    KeyInfo key_info(KeyId key, bool with_subkeys);
    std::optional<Subkey> subkey_at(KeyId key, uint32_t index);
    // Deletes the key, its values and every key below it.
    void delete_tree(KeyId key);

    // Type and data of a value; nullopt when there is none of that name.
    std::optional<Value> value(KeyId key, std::wstring_view name);
    std::optional<Value> value_at(KeyId key, uint32_t index);
    void set_value(KeyId key, std::wstring_view name, uint32_t type, const unsigned char* data, size_t size);
    bool delete_value(KeyId key, std::wstring_view name);

private:
    void touch(KeyId key);
    std::unique_lock<std::mutex> held_;
    Hive& hive_;
    bool open_ = false;
};

} // namespace wince::registry
