// The hive's SQL as the hive's files use it: cached statements bound and
// stepped, SQLite's failures turned into HiveError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "device/device.h"
#include "registry/hive.h"

namespace wince::registry {

// What happened to the hive, in words, and the Windows error for it.
HiveError hive_error(sqlite3* db, int result);

// Throws hive_error() for a result that is no success.
void check(sqlite3* db, int result);

// A cached statement in use: bound on creation, reset when done.
class Query {
public:
    explicit Query(sqlite3_stmt* statement) : statement_(statement), db_(sqlite3_db_handle(statement)) {}
    ~Query()
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& bind(int index, int64_t number)
    {
        check(db_, sqlite3_bind_int64(statement_, index, number));
        return *this;
    }
    Query& bind(int index, const std::string& text)
    {
        check(db_, sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Query& bind_blob(int index, const unsigned char* data, size_t size)
    {
        // A null pointer would bind SQL NULL; an empty value is an empty blob.
        static const unsigned char empty = 0;
        check(db_, sqlite3_bind_blob64(statement_, index, size ? data : &empty, size, SQLITE_TRANSIENT));
        return *this;
    }
    bool step()
    {
        const int result = sqlite3_step(statement_);
        check(db_, result);
        return result == SQLITE_ROW;
    }
    int64_t number(int column) { return sqlite3_column_int64(statement_, column); }
    std::string utf8(int column)
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return text ? text : "";
    }
    std::wstring text(int column)
    {
        return device::widen(utf8(column));
    }
    std::vector<unsigned char> blob(int column)
    {
        const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(statement_, column));
        const int size = sqlite3_column_bytes(statement_, column);
        return data ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>{};
    }
    int changes() { return sqlite3_changes(db_); }

private:
    sqlite3_stmt* statement_;
    sqlite3* db_;
};

} // namespace wince::registry
