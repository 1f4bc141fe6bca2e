// The SQLite functions the archive calls, defined here so that velutron-cli loads libsqlite3 only when a
// command opens the archive: linked at start-up, it cost every short command its loading and
// relocations. A function the archive starts to use and this file lacks is taken from the library as
// linked, which works and only costs the start-up again.

#include <dlfcn.h>
#include <sqlite3.h>

#include <cstdio>

#include "platform/LoadedSymbol.h"

namespace {

using velutron::LoadedSymbol;

struct Sqlite {
  decltype(&::sqlite3_bind_double) bind_double = nullptr;
  decltype(&::sqlite3_bind_int64) bind_int64 = nullptr;
  decltype(&::sqlite3_bind_null) bind_null = nullptr;
  decltype(&::sqlite3_bind_text) bind_text = nullptr;
  decltype(&::sqlite3_busy_timeout) busy_timeout = nullptr;
  decltype(&::sqlite3_changes64) changes64 = nullptr;
  decltype(&::sqlite3_clear_bindings) clear_bindings = nullptr;
  decltype(&::sqlite3_close) close = nullptr;
  decltype(&::sqlite3_column_bytes) column_bytes = nullptr;
  decltype(&::sqlite3_column_double) column_double = nullptr;
  decltype(&::sqlite3_column_int64) column_int64 = nullptr;
  decltype(&::sqlite3_column_text) column_text = nullptr;
  decltype(&::sqlite3_column_type) column_type = nullptr;
  decltype(&::sqlite3_errmsg) errmsg = nullptr;
  decltype(&::sqlite3_exec) exec = nullptr;
  decltype(&::sqlite3_extended_result_codes) extended_result_codes = nullptr;
  decltype(&::sqlite3_finalize) finalize = nullptr;
  decltype(&::sqlite3_get_autocommit) get_autocommit = nullptr;
  decltype(&::sqlite3_open_v2) open_v2 = nullptr;
  decltype(&::sqlite3_prepare_v3) prepare_v3 = nullptr;
  decltype(&::sqlite3_reset) reset = nullptr;
  decltype(&::sqlite3_step) step = nullptr;
};

// Null when the library cannot be had; the reason is said once on standard error, since the archive's
// own message for a failed open cannot know it.
const Sqlite* Load() {
  static Sqlite f;
  void* handle = dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "velutron-cli: %s\n", dlerror());
    return nullptr;
  }
  const bool complete =
      LoadedSymbol(handle, "sqlite3_bind_double", f.bind_double) &&
      LoadedSymbol(handle, "sqlite3_bind_int64", f.bind_int64) &&
      LoadedSymbol(handle, "sqlite3_bind_null", f.bind_null) &&
      LoadedSymbol(handle, "sqlite3_bind_text", f.bind_text) &&
      LoadedSymbol(handle, "sqlite3_busy_timeout", f.busy_timeout) &&
      LoadedSymbol(handle, "sqlite3_changes64", f.changes64) &&
      LoadedSymbol(handle, "sqlite3_clear_bindings", f.clear_bindings) &&
      LoadedSymbol(handle, "sqlite3_close", f.close) &&
      LoadedSymbol(handle, "sqlite3_column_bytes", f.column_bytes) &&
      LoadedSymbol(handle, "sqlite3_column_double", f.column_double) &&
      LoadedSymbol(handle, "sqlite3_column_int64", f.column_int64) &&
      LoadedSymbol(handle, "sqlite3_column_text", f.column_text) &&
      LoadedSymbol(handle, "sqlite3_column_type", f.column_type) &&
      LoadedSymbol(handle, "sqlite3_errmsg", f.errmsg) && LoadedSymbol(handle, "sqlite3_exec", f.exec) &&
      LoadedSymbol(handle, "sqlite3_extended_result_codes", f.extended_result_codes) &&
      LoadedSymbol(handle, "sqlite3_finalize", f.finalize) &&
      LoadedSymbol(handle, "sqlite3_get_autocommit", f.get_autocommit) &&
      LoadedSymbol(handle, "sqlite3_open_v2", f.open_v2) &&
      LoadedSymbol(handle, "sqlite3_prepare_v3", f.prepare_v3) &&
      LoadedSymbol(handle, "sqlite3_reset", f.reset) && LoadedSymbol(handle, "sqlite3_step", f.step);
  if (!complete) {
    std::fputs("velutron-cli: libsqlite3.so.0 lacks a function the archive uses\n", stderr);
    return nullptr;
  }
  return &f;
}

const Sqlite* Library() {
  static const Sqlite* const loaded = Load();
  return loaded;
}

// Every function but the open is called only with a connection that the open made, so after a
// successful load.
const Sqlite& Api() { return *Library(); }

}  // namespace

extern "C" {

int sqlite3_open_v2(const char* filename, sqlite3** db, int flags, const char* vfs) {
  if (Library() == nullptr) {
    *db = nullptr;
    return SQLITE_CANTOPEN;
  }
  return Api().open_v2(filename, db, flags, vfs);
}

int sqlite3_close(sqlite3* db) { return db == nullptr ? SQLITE_OK : Api().close(db); }
int sqlite3_bind_double(sqlite3_stmt* s, int i, double v) { return Api().bind_double(s, i, v); }
int sqlite3_bind_int64(sqlite3_stmt* s, int i, sqlite3_int64 v) { return Api().bind_int64(s, i, v); }
int sqlite3_bind_null(sqlite3_stmt* s, int i) { return Api().bind_null(s, i); }
int sqlite3_bind_text(sqlite3_stmt* s, int i, const char* v, int n, void (*destructor)(void*)) {
  return Api().bind_text(s, i, v, n, destructor);
}
int sqlite3_busy_timeout(sqlite3* db, int ms) { return Api().busy_timeout(db, ms); }
sqlite3_int64 sqlite3_changes64(sqlite3* db) { return Api().changes64(db); }
int sqlite3_clear_bindings(sqlite3_stmt* s) { return Api().clear_bindings(s); }
int sqlite3_column_bytes(sqlite3_stmt* s, int i) { return Api().column_bytes(s, i); }
double sqlite3_column_double(sqlite3_stmt* s, int i) { return Api().column_double(s, i); }
sqlite3_int64 sqlite3_column_int64(sqlite3_stmt* s, int i) { return Api().column_int64(s, i); }
const unsigned char* sqlite3_column_text(sqlite3_stmt* s, int i) { return Api().column_text(s, i); }
int sqlite3_column_type(sqlite3_stmt* s, int i) { return Api().column_type(s, i); }
const char* sqlite3_errmsg(sqlite3* db) { return Api().errmsg(db); }
int sqlite3_exec(sqlite3* db, const char* sql, int (*callback)(void*, int, char**, char**), void* arg,
                 char** error) {
  return Api().exec(db, sql, callback, arg, error);
}
int sqlite3_extended_result_codes(sqlite3* db, int on) { return Api().extended_result_codes(db, on); }
int sqlite3_finalize(sqlite3_stmt* s) { return s == nullptr ? SQLITE_OK : Api().finalize(s); }
int sqlite3_get_autocommit(sqlite3* db) { return Api().get_autocommit(db); }
int sqlite3_prepare_v3(sqlite3* db, const char* sql, int bytes, unsigned int flags, sqlite3_stmt** stmt,
                       const char** tail) {
  return Api().prepare_v3(db, sql, bytes, flags, stmt, tail);
}
int sqlite3_reset(sqlite3_stmt* s) { return Api().reset(s); }
int sqlite3_step(sqlite3_stmt* s) { return Api().step(s); }

}  // extern "C"
