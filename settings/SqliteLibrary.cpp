#include "settings/SqliteLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "platform/LibrarySymbol.h"

namespace hw {
namespace {

constexpr const char* kLibraryName = "libsqlite3.so.0";

struct LoadedSqlite {
  std::mutex mutex;
  void* handle = nullptr;
  int holds = 0;
  SqliteLibrary functions{};
  bool failureSaid = false;
};

LoadedSqlite& State() {
  static LoadedSqlite state;
  return state;
}

bool ResolveAll(void* handle, SqliteLibrary& f) {
  return ResolveSymbol(handle, "sqlite3_open_v2", f.open_v2) && ResolveSymbol(handle, "sqlite3_close", f.close) &&
         ResolveSymbol(handle, "sqlite3_close_v2", f.close_v2) && ResolveSymbol(handle, "sqlite3_exec", f.exec) &&
         ResolveSymbol(handle, "sqlite3_prepare_v2", f.prepare_v2) && ResolveSymbol(handle, "sqlite3_step", f.step) &&
         ResolveSymbol(handle, "sqlite3_finalize", f.finalize) && ResolveSymbol(handle, "sqlite3_bind_text", f.bind_text) &&
         ResolveSymbol(handle, "sqlite3_bind_int", f.bind_int) && ResolveSymbol(handle, "sqlite3_bind_blob", f.bind_blob) &&
         ResolveSymbol(handle, "sqlite3_bind_parameter_count", f.bind_parameter_count) &&
         ResolveSymbol(handle, "sqlite3_column_type", f.column_type) &&
         ResolveSymbol(handle, "sqlite3_column_text", f.column_text) && ResolveSymbol(handle, "sqlite3_column_int", f.column_int) &&
         ResolveSymbol(handle, "sqlite3_column_blob", f.column_blob) &&
         ResolveSymbol(handle, "sqlite3_column_bytes", f.column_bytes) && ResolveSymbol(handle, "sqlite3_changes", f.changes) &&
         ResolveSymbol(handle, "sqlite3_busy_timeout", f.busy_timeout) && ResolveSymbol(handle, "sqlite3_db_config", f.db_config) &&
         ResolveSymbol(handle, "sqlite3_limit", f.limit) && ResolveSymbol(handle, "sqlite3_progress_handler", f.progress_handler) &&
         ResolveSymbol(handle, "sqlite3_shutdown", f.shutdown);
}

}  // namespace

bool TakeSqlite() {
  LoadedSqlite& state = State();
  const std::lock_guard lock(state.mutex);
  if (state.holds == 0) {
    // Lazily bound: of its imports only those its calls use are looked up, at each load.
    void* handle = ::dlopen(kLibraryName, RTLD_LAZY | RTLD_LOCAL);
    if (!handle || !ResolveAll(handle, state.functions)) {
      if (!state.failureSaid) std::fprintf(stderr, "Hostwarden: the settings cannot be read: %s\n", ::dlerror());
      state.failureSaid = true;
      if (handle) ::dlclose(handle);
      return false;
    }
    state.handle = handle;
  }
  ++state.holds;
  return true;
}

void ReleaseSqlite() {
  LoadedSqlite& state = State();
  const std::lock_guard lock(state.mutex);
  if (state.holds == 0 || --state.holds > 0) return;
  state.functions.shutdown();  // every connection is closed: SQLite's own memory goes first
  ::dlclose(state.handle);
  state.handle = nullptr;
}

const SqliteLibrary& Sqlite() { return State().functions; }

}  // namespace hw
