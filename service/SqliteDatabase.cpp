#include <sqlite3.h>

#include "service/SqlDatabase.h"

namespace hw::service {
namespace {

class SqliteDatabase : public SqlDatabase {
 public:
  explicit SqliteDatabase(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw DatabaseError("cannot open " + file + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    // The DNS server reads while the service writes. In WAL mode NORMAL still keeps the file whole
    // after a crash; a power loss may cost the last few address updates, which the next check repeats.
    RunScript("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = 1;");
  }
  ~SqliteDatabase() override { sqlite3_close(db_); }

  std::vector<SqlRow> Query(const std::string& sql, const std::vector<std::string>& params) override {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) Fail(sql);
    const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> owned(statement, &sqlite3_finalize);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const std::string name = "$" + std::to_string(i + 1);
      const int index = sqlite3_bind_parameter_index(statement, name.c_str());
      if (index > 0)
        sqlite3_bind_text(statement, index, params[i].data(), static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
    }
    std::vector<SqlRow> rows;
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      SqlRow row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* text = sqlite3_column_text(statement, column);
        row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
      }
      rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE) Fail(sql);
    return rows;
  }

  void RunScript(const std::string& script) override {
    char* message = nullptr;
    if (sqlite3_exec(db_, script.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "unknown error";
      sqlite3_free(message);
      throw DatabaseError(text);
    }
  }

  bool HasTable(const std::string& name) override {
    return !Query("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = $1", {name}).empty();
  }

  bool HasColumn(const std::string& table, const std::string& column) override {
    return !Query("SELECT 1 FROM pragma_table_info($1) WHERE name = $2", {table, column}).empty();
  }

  std::string Kind() const override { return "sqlite"; }

 private:
  [[noreturn]] void Fail(const std::string& sql) {
    throw DatabaseError(std::string(sqlite3_errmsg(db_)) + " in: " + sql);
  }

  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<SqlDatabase> OpenSqliteDatabase(const std::string& file) {
  return std::make_unique<SqliteDatabase>(file);
}

}  // namespace hw::service
