#pragma once

// The little the archive asks of a SQL engine: statements with numbered parameters ($1, $2…), rows
// handed to a callback, transactions. SQLite and PostgreSQL each implement it; the archive's tables and
// queries above it are the same text for both.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velutron::archive {

using SqlValue = std::variant<std::monostate, int64_t, double, std::string>;

class SqlRow {
 public:
  virtual ~SqlRow() = default;
  virtual bool IsNull(int column) const = 0;
  virtual int64_t Int(int column) const = 0;
  virtual double Real(int column) const = 0;
  virtual std::string Text(int column) const = 0;
};

enum class Engine : uint8_t { Sqlite, Postgres };

class Database {
 public:
  virtual ~Database() = default;
  virtual Engine Kind() const = 0;
  // Runs one statement; `each` (may be empty) sees every row. False with `error` set on failure.
  virtual bool Exec(std::string_view sql, std::span<const SqlValue> params,
                    const std::function<void(const SqlRow&)>& each, std::string& error) = 0;
  // Rows the last statement inserted, changed or deleted.
  virtual int64_t Changes() const = 0;
  // A write transaction: SQLite takes the write lock at once, so two writers never deadlock.
  virtual bool Begin(std::string& error) = 0;
  virtual bool Commit(std::string& error) = 0;
  virtual void Rollback() = 0;

  bool Exec(std::string_view sql, std::string& error) { return Exec(sql, {}, {}, error); }
  bool Exec(std::string_view sql, std::initializer_list<SqlValue> params, std::string& error) {
    return Exec(sql, std::span<const SqlValue>(params.begin(), params.size()), {}, error);
  }
};

// `create`: a missing file is made.
std::unique_ptr<Database> OpenSqlite(const std::string& file, std::string& error, bool create = true);
// The file as it is, to look at: read-only, its journal mode left alone, and no file made beside it
// unless another program has it open in WAL mode.
std::unique_ptr<Database> InspectSqlite(const std::string& file, std::string& error);
// Absent from a build without libpq: then it says so in `error`.
std::unique_ptr<Database> OpenPostgres(const std::string& url, std::string& error);

}  // namespace velutron::archive
