#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>

#include "archive/Database.h"

namespace velutron::archive {

namespace {

template <typename T>
T Parse(const char* text) {
  T value{};
  std::from_chars(text, text + std::char_traits<char>::length(text), value);
  return value;
}

class PostgresRow final : public SqlRow {
 public:
  PostgresRow(const PGresult* result, int row) : result_(result), row_(row) {}
  bool IsNull(int column) const override { return PQgetisnull(result_, row_, column) != 0; }
  int64_t Int(int column) const override { return Parse<int64_t>(PQgetvalue(result_, row_, column)); }
  double Real(int column) const override { return Parse<double>(PQgetvalue(result_, row_, column)); }
  std::string Text(int column) const override {
    return std::string(PQgetvalue(result_, row_, column),
                       static_cast<size_t>(PQgetlength(result_, row_, column)));
  }

 private:
  const PGresult* result_;
  int row_;
};

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// libpq's message ends in a line break.
std::string Message(const char* text) {
  std::string message(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  return message;
}

class PostgresDatabase final : public Database {
 public:
  explicit PostgresDatabase(PGconn* conn) : conn_(conn) {}
  ~PostgresDatabase() override { PQfinish(conn_); }
  PostgresDatabase(const PostgresDatabase&) = delete;
  PostgresDatabase& operator=(const PostgresDatabase&) = delete;

  using Database::Exec;
  Engine Kind() const override { return Engine::Postgres; }

  bool Exec(std::string_view sql, std::span<const SqlValue> params,
            const std::function<void(const SqlRow&)>& each, std::string& error) override {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (size_t i = 0; i < params.size(); ++i) {
      const SqlValue& p = params[i];
      if (const auto* n = std::get_if<int64_t>(&p)) {
        texts[i] = std::to_string(*n);
      } else if (const auto* d = std::get_if<double>(&p)) {
        char buffer[32];
        texts[i].assign(buffer, std::to_chars(buffer, buffer + sizeof buffer, *d).ptr);
      } else if (const auto* s = std::get_if<std::string>(&p)) {
        texts[i] = *s;
      } else {
        continue;
      }
      values[i] = texts[i].c_str();
    }
    const std::string text(sql);
    Result result(PQexecParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr, values.data(),
                               nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error = Message(PQerrorMessage(conn_));
      changes_ = 0;
      return false;
    }
    const char* tuples = PQcmdTuples(result.get());
    changes_ = *tuples != 0 ? Parse<int64_t>(tuples) : 0;
    if (each) {
      const int rows = PQntuples(result.get());
      for (int r = 0; r < rows; ++r) each(PostgresRow(result.get(), r));
    }
    return true;
  }

  int64_t Changes() const override { return changes_; }

  bool Begin(std::string& error) override { return Exec("BEGIN", error); }
  bool Commit(std::string& error) override { return Exec("COMMIT", error); }
  void Rollback() override {
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) Result(PQexec(conn_, "ROLLBACK"));
  }

 private:
  PGconn* conn_;
  int64_t changes_ = 0;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& url, std::string& error) {
  PGconn* conn = PQconnectdb(url.c_str());
  if (PQstatus(conn) != CONNECTION_OK) {
    error = Message(PQerrorMessage(conn));
    PQfinish(conn);
    return nullptr;
  }
  auto db = std::make_unique<PostgresDatabase>(conn);
  // Notices of "already exists" and the like are not for the user.
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  if (!db->Exec("SET client_min_messages TO warning", error)) return nullptr;
  return db;
}

}  // namespace velutron::archive
