#include "settings/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "BuildConfig.h"
#include "common/AppError.h"
#include "settings/SqliteLibrary.h"

namespace hw {
namespace {

// Registry type numbers, as the file stores them.
constexpr int kTypeText = 1;
constexpr int kTypeExpandText = 2;
constexpr int kTypeNumber = 4;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys (\"path\" TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS \"values\" (\"path\" TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY (\"path\", name));";

std::string& SettingsFileOverride() {
  static std::string path;
  return path;
}

unsigned& WritesMade() {
  static unsigned count = 0;
  return count;
}

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;  // the loaded finalize

Statement Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (Sqlite().prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) statement = nullptr;
  return Statement(statement, Sqlite().finalize);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  Sqlite().bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Runs a statement with the key path as its first parameter and an optional name as its second.
bool RunOnKey(sqlite3* db, const char* sql, const std::string& name = {}) {
  Statement statement = Prepare(db, sql);
  if (!statement) return false;
  BindText(statement.get(), 1, kSettingsKey);
  if (Sqlite().bind_parameter_count(statement.get()) > 1) BindText(statement.get(), 2, name);
  const int step = Sqlite().step(statement.get());
  return step == SQLITE_ROW || step == SQLITE_DONE;
}

bool KeyExists(sqlite3* db) {
  Statement statement = Prepare(db, "SELECT 1 FROM keys WHERE \"path\" = ?1");
  if (!statement) return false;
  BindText(statement.get(), 1, kSettingsKey);
  return Sqlite().step(statement.get()) == SQLITE_ROW;
}

// SQLite writes the journal that makes each change atomic beside the file, so a write needs the
// folder as well as the file. The folder itself is never made here: it belongs to the installation.
bool FolderWritable(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
}

// A folder that a group shares (group-writable, new files keep its group, as the installation makes
// the machine's settings folder): a file made there is for the whole group, or the first member to
// start the client would lock the others out of the machine's one account.
mode_t NewFileMode(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  struct stat status {};
  const bool shared = ::stat(folder.empty() ? "." : folder.c_str(), &status) == 0 &&
                      (status.st_mode & S_ISGID) && (status.st_mode & S_IWGRP);
  return shared ? 0660 : 0600;
}

// A new file is created private to its owner (or its group, above); an existing one must be readable
// and writable.
bool PrepareFile(const std::string& path, bool createIfMissing) {
  if (!FolderWritable(path)) return false;
  if (::access(path.c_str(), F_OK) == 0) return ::access(path.c_str(), R_OK | W_OK) == 0;
  if (!createIfMissing) return false;
  const mode_t mode = NewFileMode(path);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return false;
  ::fchmod(fd, mode);  // whatever the user's umask took away
  ::close(fd);
  return true;
}

// Each schema object of a database, as type, name, table and the SQL text that made it (NULL for
// the indexes SQLite makes itself, kept apart from every text by a leading marker).
using SchemaRows = std::set<std::string>;

std::optional<SchemaRows> SchemaOf(sqlite3* db) {
  Statement statement = Prepare(db, "SELECT type, name, tbl_name, sql FROM sqlite_master");
  if (!statement) return std::nullopt;
  SchemaRows rows;
  int step;
  while ((step = Sqlite().step(statement.get())) == SQLITE_ROW) {
    std::string row;
    for (int column = 0; column < 4; ++column) {
      const auto* text = reinterpret_cast<const char*>(Sqlite().column_text(statement.get(), column));
      row += text ? std::string("=") + text : std::string("NULL");
      row += '\x1f';
    }
    rows.insert(std::move(row));
  }
  if (step != SQLITE_DONE) return std::nullopt;
  return rows;
}

// The objects exactly as the store creates them, learnt once from a database in memory.
const SchemaRows& OwnSchema() {
  static const SchemaRows own = [] {
    sqlite3* db = nullptr;
    SchemaRows rows;
    if (Sqlite().open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        Sqlite().exec(db, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK)
      rows = SchemaOf(db).value_or(SchemaRows{});
    Sqlite().close(db);
    return rows;
  }();
  return own;
}

// Only the store's own tables (and their key indexes), each exactly as the store writes it, may be in
// the file: a view or a trigger would run whatever it holds at every access, a computed column or
// another text whatever it computes, and another program's objects mean it is not our file.
bool SchemaIsOwn(sqlite3* db) {
  const std::optional<SchemaRows> rows = SchemaOf(db);
  if (!rows || OwnSchema().empty()) return false;
  return std::includes(OwnSchema().begin(), OwnSchema().end(), rows->begin(), rows->end());
}

// Far above any value the store keeps; no text or blob that a statement makes may grow past it.
constexpr int kLongestValue = 1024 * 1024;
// SQLite's steps between two looks at the time bound: a few, as no step is long within these limits.
constexpr int kStepsBetweenChecks = 100;

// No statement of one operation may run longer than this: the file is input, and a crafted one
// must not hang the handler that reads it.
constexpr auto kStatementBound = std::chrono::seconds(1);

}  // namespace

struct SettingsAccess::StoredValue {
  int type = 0;
  std::string data;
  int storage = SQLITE_BLOB;  // how SQLite holds the data: the program writes blobs
};

std::string SettingsFile() {
  const std::string& path = SettingsFileOverride();
  return path.empty() ? build::kSettingsDb : path;
}

void SetSettingsFile(std::string path) {
  SettingsFileOverride() = std::move(path);
  ++WritesMade();  // another file: nothing read from the last one holds
}

unsigned SettingsWriteCount() { return WritesMade(); }

std::optional<unsigned> SettingsChangeCounter() {
  const int fd = ::open(SettingsFile().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  unsigned char counter[4] = {};
  const bool read = ::pread(fd, counter, sizeof counter, 24) == static_cast<ssize_t>(sizeof counter);  // big-endian
  ::close(fd);
  if (!read) return std::nullopt;
  return static_cast<unsigned>(counter[0]) << 24 | counter[1] << 16 | counter[2] << 8 | counter[3];
}

SettingsAccess::~SettingsAccess() { CloseSettings(); }

bool SettingsAccess::OpenSettings(bool createIfMissing) {
  CloseSettings();
  const std::string path = SettingsFile();
  if (path.empty()) return false;  // a test build that was given no file of its own
  if (createIfMissing) ++WritesMade();  // it may make the file, its tables or the key
  if (!PrepareFile(path, createIfMissing) || !TakeSqlite()) return false;
  holdsSqlite_ = true;
  if (Sqlite().open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    CloseSettings();
    return false;
  }
  // Other accesses may hold the file at the same moment (a handler nested in another's request).
  Sqlite().busy_timeout(db_, 5000);
  Sqlite().db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  Sqlite().db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  Sqlite().limit(db_, SQLITE_LIMIT_LENGTH, kLongestValue);
  Sqlite().progress_handler(
      db_, kStepsBetweenChecks,
      [](void* self) {
        return std::chrono::steady_clock::now() > static_cast<SettingsAccess*>(self)->deadline_ ? 1 : 0;
      },
      this);
  Arm();
  if (!SchemaIsOwn(db_)) {
    CloseSettings();
    return false;
  }
  // Opening only never writes: an existing file without the tables (or someone else's database)
  // is left exactly as it was, and simply holds no key.
  const bool ready = (!createIfMissing || (Sqlite().exec(db_, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK &&
                                           RunOnKey(db_, "INSERT OR IGNORE INTO keys (\"path\") VALUES (?1)"))) &&
                     KeyExists(db_) && SchemaIsOwn(db_);
  if (!ready) CloseSettings();
  return ready;
}

void SettingsAccess::Arm() { deadline_ = std::chrono::steady_clock::now() + kStatementBound; }

bool SettingsAccess::ReadValue(const std::string& name, StoredValue& value) {
  if (!db_) return false;
  Arm();
  Statement statement = Prepare(db_, "SELECT type, data FROM \"values\" WHERE \"path\" = ?1 AND name = ?2");
  if (!statement) return false;
  BindText(statement.get(), 1, kSettingsKey);
  BindText(statement.get(), 2, name);
  if (Sqlite().step(statement.get()) != SQLITE_ROW) return false;
  value.type = Sqlite().column_int(statement.get(), 0);
  value.storage = Sqlite().column_type(statement.get(), 1);
  const auto* data = static_cast<const char*>(Sqlite().column_blob(statement.get(), 1));
  value.data.assign(data ? data : "", static_cast<std::size_t>(Sqlite().column_bytes(statement.get(), 1)));
  return true;
}

bool SettingsAccess::SettingExists(const std::string& name) {
  StoredValue value;
  return ReadValue(name, value);
}

// The error texts below are the settings errors users and administrators know, quoting and all.
bool SettingsAccess::ReadFlag(const std::string& name) {
  StoredValue value;
  // The number is read into a 4-byte buffer: longer data does not fit and the read fails.
  if (!ReadValue(name, value) || value.data.size() > 4)
    throw SettingsError(FormatMessage("Failed to get data for '%s'", name));
  // A number is exactly four bytes of blob. Anything else under its type number (an SQL integer
  // written by another tool reads back as its digits) is not a number of ours.
  if (value.type != kTypeNumber || value.storage != SQLITE_BLOB || value.data.size() != 4)
    throw SettingsError(FormatMessage("Invalid data type for '%s'", name));
  for (char byte : value.data)
    if (byte != 0) return true;
  return false;
}

std::string SettingsAccess::ReadText(const std::string& name) {
  StoredValue value;
  if (!ReadValue(name, value) || value.data.empty()) return {};
  const bool bytes = value.storage == SQLITE_BLOB || value.storage == SQLITE_TEXT;
  if ((value.type != kTypeText && value.type != kTypeExpandText) || !bytes)
    throw SettingsError(FormatMessage("Invalid data type for '%s'", name));
  return value.data.substr(0, value.data.find('\0'));
}

void SettingsAccess::WriteValue(const std::string& name, int type, const std::string& data) {
  Arm();
  ++WritesMade();
  Statement statement =
      // Like a handle to a deleted registry key, an access whose key another access deleted
      // meanwhile cannot write: the value would otherwise come back when the key is made again.
      db_ ? Prepare(db_,
                    "INSERT OR REPLACE INTO \"values\" (\"path\", name, type, data) SELECT ?1, ?2, ?3, ?4"
                    " WHERE EXISTS (SELECT 1 FROM keys WHERE \"path\" = ?1)")
          : Statement(nullptr, Sqlite().finalize);
  bool written = false;
  if (statement) {
    BindText(statement.get(), 1, kSettingsKey);
    BindText(statement.get(), 2, name);
    Sqlite().bind_int(statement.get(), 3, type);
    Sqlite().bind_blob(statement.get(), 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    written = Sqlite().step(statement.get()) == SQLITE_DONE && Sqlite().changes(db_) > 0;
  }
  if (!written) throw SettingsError(FormatMessage("Failed to set data for '%s'", name));
}

void SettingsAccess::WriteFlag(const std::string& name, bool value) {
  WriteValue(name, kTypeNumber, std::string(value ? "\x01\x00\x00\x00" : "\x00\x00\x00\x00", 4));
}

void SettingsAccess::WriteText(const std::string& name, const std::string& text) {
  WriteValue(name, kTypeText, text + '\0');
}

bool SettingsAccess::DeleteSettingsTree() {
  Arm();
  ++WritesMade();
  if (!db_ || !KeyExists(db_)) return false;
  // Subkeys are the paths that begin with the key's path and a backslash. Paths ignore letter case;
  // a substring loses its column's collation, so the comparison names it.
  constexpr const char* kUnderKey =
      "(\"path\" = ?1 OR substr(\"path\", 1, length(?1) + 1) COLLATE NOCASE = ?1 || '\\')";
  const std::string deleteValues = std::string("DELETE FROM \"values\" WHERE ") + kUnderKey;
  const std::string deleteKeys = std::string("DELETE FROM keys WHERE ") + kUnderKey;
  const bool deleted = Sqlite().exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK &&
                       RunOnKey(db_, deleteValues.c_str()) && RunOnKey(db_, deleteKeys.c_str()) &&
                       Sqlite().exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!deleted) Sqlite().exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return deleted && !KeyExists(db_);
}

void SettingsAccess::CloseSettings() {
  if (db_) Sqlite().close_v2(db_);
  db_ = nullptr;
  if (holdsSqlite_) ReleaseSqlite();
  holdsSqlite_ = false;
}

}  // namespace hw
