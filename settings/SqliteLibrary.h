#pragma once
#include <sqlite3.h>

namespace hw {

// SQLite, loaded while a settings access is open and unloaded when the last one closes. Both
// programs read their settings at a few moments of lives spent mostly waiting, and the library's
// pages would otherwise stay resident all along.
struct SqliteLibrary {
  decltype(&::sqlite3_open_v2) open_v2;
  decltype(&::sqlite3_close) close;
  decltype(&::sqlite3_close_v2) close_v2;
  decltype(&::sqlite3_exec) exec;
  decltype(&::sqlite3_prepare_v2) prepare_v2;
  decltype(&::sqlite3_step) step;
  decltype(&::sqlite3_finalize) finalize;
  decltype(&::sqlite3_bind_text) bind_text;
  decltype(&::sqlite3_bind_int) bind_int;
  decltype(&::sqlite3_bind_blob) bind_blob;
  decltype(&::sqlite3_bind_parameter_count) bind_parameter_count;
  decltype(&::sqlite3_column_type) column_type;
  decltype(&::sqlite3_column_text) column_text;
  decltype(&::sqlite3_column_int) column_int;
  decltype(&::sqlite3_column_blob) column_blob;
  decltype(&::sqlite3_column_bytes) column_bytes;
  decltype(&::sqlite3_changes) changes;
  decltype(&::sqlite3_busy_timeout) busy_timeout;
  decltype(&::sqlite3_db_config) db_config;
  decltype(&::sqlite3_limit) limit;
  decltype(&::sqlite3_progress_handler) progress_handler;
  decltype(&::sqlite3_shutdown) shutdown;
};

// Takes a hold on the library, loading it for the first; false (said once on standard error) when
// it cannot be loaded. Every successful take is matched by one release.
bool TakeSqlite();
void ReleaseSqlite();
// The library's functions; only while a hold is taken.
const SqliteLibrary& Sqlite();

}  // namespace hw
