#include "service/SqlDatabase.h"

namespace hw::service {

std::unique_ptr<SqlDatabase> OpenSqliteDatabase(const std::string& file);
std::unique_ptr<SqlDatabase> OpenPostgresDatabase(const std::string& connection);

std::unique_ptr<SqlDatabase> OpenDatabase(const std::string& target) {
  if (target.starts_with("sqlite:")) return OpenSqliteDatabase(target.substr(7));
  return OpenPostgresDatabase(target);
}

}  // namespace hw::service
