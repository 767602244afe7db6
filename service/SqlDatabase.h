#pragma once
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace hw::service {

// A database failure, with the database's own message.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using SqlRow = std::vector<std::string>;

// The one database that the service writes and the DNS server reads. Statements use $1, $2, ...
// for their parameters, which both SQLite and PostgreSQL understand; values travel as text.
class SqlDatabase {
 public:
  virtual ~SqlDatabase() = default;
  // Runs one statement; the rows it yields (NULL reads as empty text). Throws DatabaseError.
  virtual std::vector<SqlRow> Query(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
  // Runs a script of several statements without parameters (a schema).
  virtual void RunScript(const std::string& script) = 0;
  virtual bool HasTable(const std::string& name) = 0;
  virtual bool HasColumn(const std::string& table, const std::string& column) = 0;
  // "sqlite" or "postgresql": which schema of the DNS server's backend fits.
  virtual std::string Kind() const = 0;
};

// "sqlite:<file>" opens (or creates) an SQLite file; anything else is a PostgreSQL connection string
// ("postgresql://..." or "host=... dbname=...").
std::unique_ptr<SqlDatabase> OpenDatabase(const std::string& target);

}  // namespace hw::service
