#include <libpq-fe.h>

#include "service/SqlDatabase.h"

namespace hw::service {
namespace {

class PostgresDatabase : public SqlDatabase {
 public:
  explicit PostgresDatabase(const std::string& connection) : conn_(PQconnectdb(connection.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw DatabaseError("cannot connect to PostgreSQL: " + message);
    }
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);  // "relation exists, skipping" and the like
  }
  ~PostgresDatabase() override { PQfinish(conn_); }

  std::vector<SqlRow> Query(const std::string& sql, const std::vector<std::string>& params) override {
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
        &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
      throw DatabaseError(std::string(PQerrorMessage(conn_)) + " in: " + sql);
    std::vector<SqlRow> rows;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      SqlRow values;
      for (int column = 0; column < PQnfields(result.get()); ++column)
        values.emplace_back(PQgetvalue(result.get(), row, column));
      rows.push_back(std::move(values));
    }
    return rows;
  }

  void RunScript(const std::string& script) override {
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn_, script.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw DatabaseError(PQerrorMessage(conn_));
  }

  bool HasTable(const std::string& name) override {
    return !Query("SELECT to_regclass($1)", {name}).at(0).at(0).empty();
  }

  bool HasColumn(const std::string& table, const std::string& column) override {
    return !Query("SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema()"
                  " AND table_name = $1 AND column_name = $2",
                  {table, column})
                .empty();
  }

  std::string Kind() const override { return "postgresql"; }

 private:
  PGconn* conn_;
};

}  // namespace

std::unique_ptr<SqlDatabase> OpenPostgresDatabase(const std::string& connection) {
  return std::make_unique<PostgresDatabase>(connection);
}

}  // namespace hw::service
