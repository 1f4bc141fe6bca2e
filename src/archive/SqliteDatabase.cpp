#include <sqlite3.h>

#include <filesystem>
#include <map>

#include "archive/Database.h"
#include "platform/Utf8Path.h"

namespace velutron::archive {

namespace {

// Another process writing the same file holds its lock for one transaction; wait that long rather
// than fail.
constexpr int kBusyTimeoutMs = 30000;

class SqliteRow final : public SqlRow {
 public:
  explicit SqliteRow(sqlite3_stmt* stmt) : stmt_(stmt) {}
  bool IsNull(int column) const override { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  int64_t Int(int column) const override { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const override { return sqlite3_column_double(stmt_, column); }
  std::string Text(int column) const override {
    const auto* text = sqlite3_column_text(stmt_, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
  }

 private:
  sqlite3_stmt* stmt_;
};

class SqliteDatabase final : public Database {
 public:
  explicit SqliteDatabase(sqlite3* db) : db_(db) {}
  ~SqliteDatabase() override {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  using Database::Exec;
  Engine Kind() const override { return Engine::Sqlite; }

  bool Exec(std::string_view sql, std::span<const SqlValue> params,
            const std::function<void(const SqlRow&)>& each, std::string& error) override {
    sqlite3_stmt* stmt = Prepare(sql, error);
    if (stmt == nullptr) return false;
    for (size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      const SqlValue& p = params[i];
      if (const auto* n = std::get_if<int64_t>(&p)) {
        sqlite3_bind_int64(stmt, at, *n);
      } else if (const auto* d = std::get_if<double>(&p)) {
        sqlite3_bind_double(stmt, at, *d);
      } else if (const auto* s = std::get_if<std::string>(&p)) {
        sqlite3_bind_text(stmt, at, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(stmt, at);
      }
    }
    SqliteRow row(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (each) each(row);
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok) error = sqlite3_errmsg(db_);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return ok;
  }

  int64_t Changes() const override { return sqlite3_changes64(db_); }

  bool Begin(std::string& error) override { return Exec("BEGIN IMMEDIATE", error); }
  bool Commit(std::string& error) override { return Exec("COMMIT", error); }
  void Rollback() override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

 private:
  // Statements are prepared once per connection; the archive uses a handful of texts.
  sqlite3_stmt* Prepare(std::string_view sql, std::string& error) {
    std::string text(sql);
    // The shared texts number their parameters as PostgreSQL does; SQLite's form is ?N.
    for (char& c : text) {
      if (c == '$') c = '?';
    }
    auto it = statements_.find(text);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, text.c_str(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK) {
      error = sqlite3_errmsg(db_);
      return nullptr;
    }
    statements_.emplace(std::move(text), stmt);
    return stmt;
  }

  sqlite3* db_;
  std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};

}  // namespace

std::unique_ptr<Database> InspectSqlite(const std::string& file, std::string& error) {
  // A read-only connection to a file in WAL mode makes its -wal and -shm files and cannot remove them:
  // with no -wal file, nobody has the file open in WAL mode, and it is read as it stands.
  std::string uri = file.starts_with('/') ? "file://" : "file:";
  for (const char c : file) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += {'%', kHex[static_cast<unsigned char>(c) >> 4], kHex[c & 15]};
    } else {
      uri += c;
    }
  }
  std::error_code ec;
  if (!std::filesystem::exists(PathFromUtf8(file + "-wal"), ec)) uri += "?immutable=1";
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  return std::make_unique<SqliteDatabase>(db);
}

std::unique_ptr<Database> OpenSqlite(const std::string& file, std::string& error, bool create) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  auto database = std::make_unique<SqliteDatabase>(db);
  // WAL lets readers go on while one writer commits; FULL syncs the log at every commit, so a reading
  // acknowledged survives a power cut, and the file always opens whole.
  if (!database->Exec("PRAGMA journal_mode=WAL", error) ||
      !database->Exec("PRAGMA synchronous=FULL", error) || !database->Exec("PRAGMA foreign_keys=ON", error)) {
    error = file + ": " + error;
    return nullptr;
  }
  return database;
}

}  // namespace velutron::archive
