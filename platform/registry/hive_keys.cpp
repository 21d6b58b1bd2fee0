// The registry's keys and values in the hive: each operation of a
// Transaction as the SQL that does it.  Names compare upper-cased in the
// C.UTF-8 locale, as the hive's fold column holds them; a key's last-write
// time is the FILETIME of its last change.  Subkeys are enumerated by
// their folded names, values in the order they were first set.  Leaves
// out what hive.h leaves out: classes, security, volatile keys.
#include <algorithm>
#include <chrono>
#include <cwctype>
#include <iterator>
#include <utility>

#include <locale.h>
#include <sqlite3.h>

#include "registry/hive.h"
#include "registry/hive_query.h"
#include "winerror.h"

namespace wince::registry {
namespace {

uint64_t filetime_now()
{
    // 100 ns ticks since 1601-01-01, as FILETIME counts.
    constexpr uint64_t unix_epoch_ticks = 116444736000000000ull;
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return unix_epoch_ticks + static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100);
}

[[noreturn]] void fail(long code) { throw HiveError{code, {}}; }

locale_t utf8_locale()
{
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return made ? made : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return locale;
}

} // namespace

std::string fold(std::wstring_view name)
{
    std::wstring upper(name);
    const locale_t locale = utf8_locale();
    for (wchar_t& c : upper)
        c = locale ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale))
                   : static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return device::narrow(upper);
}

bool Transaction::key_exists(KeyId key)
{
    static constexpr const char* sql = "SELECT 1 FROM keys WHERE id = ?1";
    Query query(hive_.statement(sql));
    return query.bind(1, key).step();
}

std::optional<KeyId> Transaction::find_subkey(KeyId parent, std::wstring_view name)
{
    static constexpr const char* sql = "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2";
    Query query(hive_.statement(sql));
    if (query.bind(1, parent).bind(2, fold(name)).step())
        return query.number(0);
    return std::nullopt;
}

KeyId Transaction::create_subkey(KeyId parent, std::wstring_view name)
{
    static constexpr const char* sql =
        "INSERT INTO keys(parent, name, fold, name_len, written) VALUES (?1, ?2, ?3, ?4, ?5)";
    {
        Query query(hive_.statement(sql));
        query.bind(1, parent).bind(2, device::narrow(name)).bind(3, fold(name));
        query.bind(4, static_cast<int64_t>(name.size())).bind(5, static_cast<int64_t>(filetime_now()));
        query.step();
    }
    touch(parent);
    return sqlite3_last_insert_rowid(hive_.db_);
}

std::string Transaction::key_path(KeyId key)
{
    static constexpr const char* sql = "SELECT parent, name FROM keys WHERE id = ?1";
    static constexpr std::pair<KeyId, const char*> roots[] = {
        {local_machine_id, "HKLM"}, {current_user_id, "HKCU"}, {classes_root_id, "HKCR"}, {users_id, "HKU"}};
    std::vector<std::string> names;
    while (key != 0) {
        const auto root = std::find_if(std::begin(roots), std::end(roots), [key](const auto& r) { return r.first == key; });
        if (root != std::end(roots)) {
            names.push_back(root->second);
            break;
        }
        Query query(hive_.statement(sql));
        if (!query.bind(1, key).step())
            fail(ERROR_KEY_DELETED);
        names.push_back(query.utf8(1));
        key = query.number(0);
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty())
            path += '\\';
        path += *it;
    }
    return path;
}

KeyInfo Transaction::key_info(KeyId key, bool with_subkeys)
{
    static constexpr const char* written_sql = "SELECT written FROM keys WHERE id = ?1";
    static constexpr const char* subkeys_sql =
        "SELECT count(*), coalesce(max(name_len), 0) FROM keys WHERE parent = ?1";
    static constexpr const char* values_sql =
        "SELECT count(*), coalesce(max(name_len), 0), coalesce(max(length(data)), 0) FROM vals WHERE key = ?1";
    KeyInfo info;
    {
        Query query(hive_.statement(written_sql));
        if (!query.bind(1, key).step())
            fail(ERROR_KEY_DELETED);
        info.written = static_cast<uint64_t>(query.number(0));
    }
    if (with_subkeys) {
        Query query(hive_.statement(subkeys_sql));
        query.bind(1, key).step();
        info.subkeys = static_cast<uint32_t>(query.number(0));
        info.max_subkey_len = static_cast<uint32_t>(query.number(1));
    }
    Query query(hive_.statement(values_sql));
    query.bind(1, key).step();
    info.values = static_cast<uint32_t>(query.number(0));
    info.max_value_name_len = static_cast<uint32_t>(query.number(1));
    info.max_data_len = static_cast<uint32_t>(query.number(2));
    return info;
}

std::optional<Subkey> Transaction::subkey_at(KeyId key, uint32_t index)
{
    static constexpr const char* sql =
        "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2";
    Query query(hive_.statement(sql));
    if (!query.bind(1, key).bind(2, static_cast<int64_t>(index)).step())
        return std::nullopt;
    return Subkey{query.text(0), static_cast<uint64_t>(query.number(1))};
}

void Transaction::delete_tree(KeyId key)
{
    static constexpr const char* values_sql =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
        "DELETE FROM vals WHERE key IN tree";
    static constexpr const char* keys_sql =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
        "DELETE FROM keys WHERE id IN tree";
    static constexpr const char* parent_sql = "SELECT parent FROM keys WHERE id = ?1";
    KeyId parent = 0;
    {
        Query query(hive_.statement(parent_sql));
        if (query.bind(1, key).step())
            parent = query.number(0);
    }
    Query(hive_.statement(values_sql)).bind(1, key).step();
    Query(hive_.statement(keys_sql)).bind(1, key).step();
    if (parent)
        touch(parent);
}

std::optional<Value> Transaction::value(KeyId key, std::wstring_view name)
{
    static constexpr const char* sql = "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2";
    Query query(hive_.statement(sql));
    if (!query.bind(1, key).bind(2, fold(name)).step())
        return std::nullopt;
    return Value{std::wstring(name), static_cast<uint32_t>(query.number(0)), query.blob(1)};
}

std::optional<Value> Transaction::value_at(KeyId key, uint32_t index)
{
    static constexpr const char* sql =
        "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2";
    Query query(hive_.statement(sql));
    if (!query.bind(1, key).bind(2, static_cast<int64_t>(index)).step())
        return std::nullopt;
    return Value{query.text(0), static_cast<uint32_t>(query.number(1)), query.blob(2)};
}

void Transaction::set_value(KeyId key, std::wstring_view name, uint32_t type, const unsigned char* data, size_t size)
{
    // A value that exists keeps its name's case and its place in the order.
    static constexpr const char* sql =
        "INSERT INTO vals(key, name, fold, name_len, type, data) VALUES (?1, ?2, ?3, ?4, ?5, ?6) "
        "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";
    {
        Query query(hive_.statement(sql));
        query.bind(1, key).bind(2, device::narrow(name)).bind(3, fold(name));
        query.bind(4, static_cast<int64_t>(name.size())).bind(5, type).bind_blob(6, data, size);
        query.step();
    }
    touch(key);
}

bool Transaction::delete_value(KeyId key, std::wstring_view name)
{
    static constexpr const char* sql = "DELETE FROM vals WHERE key = ?1 AND fold = ?2";
    Query query(hive_.statement(sql));
    query.bind(1, key).bind(2, fold(name)).step();
    const bool deleted = query.changes() > 0;
    if (deleted)
        touch(key);
    return deleted;
}

void Transaction::touch(KeyId key)
{
    static constexpr const char* sql = "UPDATE keys SET written = ?2 WHERE id = ?1";
    Query(hive_.statement(sql)).bind(1, key).bind(2, static_cast<int64_t>(filetime_now())).step();
}

} // namespace wince::registry
