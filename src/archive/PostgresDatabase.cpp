#include <dlfcn.h>
#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <string>

#include "archive/Database.h"
#include "platform/LoadedSymbol.h"

namespace velutron::archive {

namespace {

// libpq brings Kerberos, LDAP and TLS with it, which cost every start of velutron-cli milliseconds; it is
// loaded only when a PostgreSQL archive is opened.
struct Libpq {
  decltype(&::PQclear) clear = nullptr;
  decltype(&::PQcmdTuples) cmdTuples = nullptr;
  decltype(&::PQconnectdb) connectdb = nullptr;
  decltype(&::PQerrorMessage) errorMessage = nullptr;
  decltype(&::PQexec) exec = nullptr;
  decltype(&::PQexecParams) execParams = nullptr;
  decltype(&::PQfinish) finish = nullptr;
  decltype(&::PQgetisnull) getisnull = nullptr;
  decltype(&::PQgetlength) getlength = nullptr;
  decltype(&::PQgetvalue) getvalue = nullptr;
  decltype(&::PQntuples) ntuples = nullptr;
  decltype(&::PQreset) reset = nullptr;
  decltype(&::PQresultStatus) resultStatus = nullptr;
  decltype(&::PQsetNoticeProcessor) setNoticeProcessor = nullptr;
  decltype(&::PQstatus) status = nullptr;
  decltype(&::PQtransactionStatus) transactionStatus = nullptr;
};

struct LoadedLibpq {
  Libpq functions;
  std::string failure;  // empty when every function was found
};

LoadedLibpq Load() {
  LoadedLibpq loaded;
  void* handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    loaded.failure = dlerror();
    return loaded;
  }
  Libpq& f = loaded.functions;
  const bool complete =
      LoadedSymbol(handle, "PQclear", f.clear) && LoadedSymbol(handle, "PQcmdTuples", f.cmdTuples) &&
      LoadedSymbol(handle, "PQconnectdb", f.connectdb) &&
      LoadedSymbol(handle, "PQerrorMessage", f.errorMessage) && LoadedSymbol(handle, "PQexec", f.exec) &&
      LoadedSymbol(handle, "PQexecParams", f.execParams) && LoadedSymbol(handle, "PQfinish", f.finish) &&
      LoadedSymbol(handle, "PQgetisnull", f.getisnull) && LoadedSymbol(handle, "PQgetlength", f.getlength) &&
      LoadedSymbol(handle, "PQgetvalue", f.getvalue) && LoadedSymbol(handle, "PQntuples", f.ntuples) &&
      LoadedSymbol(handle, "PQreset", f.reset) && LoadedSymbol(handle, "PQresultStatus", f.resultStatus) &&
      LoadedSymbol(handle, "PQsetNoticeProcessor", f.setNoticeProcessor) &&
      LoadedSymbol(handle, "PQstatus", f.status) &&
      LoadedSymbol(handle, "PQtransactionStatus", f.transactionStatus);
  if (!complete) loaded.failure = "libpq.so.5 lacks a function the archive uses";
  return loaded;
}

// The library's functions, or null (with the reason) when it cannot be loaded.
const Libpq* LoadLibpq(std::string& error) {
  static const LoadedLibpq loaded = Load();
  if (!loaded.failure.empty()) {
    error = loaded.failure;
    return nullptr;
  }
  return &loaded.functions;
}

// Called only once LoadLibpq has succeeded.
const Libpq& Pq() {
  std::string unused;
  return *LoadLibpq(unused);
}

template <typename T>
T Parse(const char* text) {
  T value{};
  std::from_chars(text, text + std::char_traits<char>::length(text), value);
  return value;
}

class PostgresRow final : public SqlRow {
 public:
  PostgresRow(const PGresult* result, int row) : result_(result), row_(row) {}
  bool IsNull(int column) const override { return Pq().getisnull(result_, row_, column) != 0; }
  int64_t Int(int column) const override { return Parse<int64_t>(Pq().getvalue(result_, row_, column)); }
  double Real(int column) const override { return Parse<double>(Pq().getvalue(result_, row_, column)); }
  std::string Text(int column) const override {
    return std::string(Pq().getvalue(result_, row_, column),
                       static_cast<size_t>(Pq().getlength(result_, row_, column)));
  }

 private:
  const PGresult* result_;
  int row_;
};

struct ResultDeleter {
  void operator()(PGresult* r) const { Pq().clear(r); }
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
  ~PostgresDatabase() override { Pq().finish(conn_); }
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
    // A server restarted, or a connection cut, is connected to again; never inside a transaction,
    // whose earlier statements the server has forgotten.
    if (Pq().status(conn_) == CONNECTION_BAD) {
      if (!inTransaction_) Pq().reset(conn_);
      if (inTransaction_ || Pq().status(conn_) != CONNECTION_OK) {
        error = Message(Pq().errorMessage(conn_));
        changes_ = 0;
        return false;
      }
      if (!Exec("SET client_min_messages TO warning", error)) return false;
    }
    const std::string text(sql);
    Result result(Pq().execParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr,
                                  values.data(), nullptr, nullptr, 0));
    const ExecStatusType status = Pq().resultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error = Message(Pq().errorMessage(conn_));
      changes_ = 0;
      return false;
    }
    const char* tuples = Pq().cmdTuples(result.get());
    changes_ = *tuples != 0 ? Parse<int64_t>(tuples) : 0;
    if (each) {
      const int rows = Pq().ntuples(result.get());
      for (int r = 0; r < rows; ++r) each(PostgresRow(result.get(), r));
    }
    return true;
  }

  int64_t Changes() const override { return changes_; }

  bool Begin(std::string& error) override {
    inTransaction_ = Exec("BEGIN", error);
    return inTransaction_;
  }
  bool Commit(std::string& error) override {
    const bool committed = Exec("COMMIT", error);
    inTransaction_ = false;
    return committed;
  }
  void Rollback() override {
    inTransaction_ = false;
    if (Pq().transactionStatus(conn_) != PQTRANS_IDLE) Result(Pq().exec(conn_, "ROLLBACK"));
  }

 private:
  PGconn* conn_;
  int64_t changes_ = 0;
  bool inTransaction_ = false;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& url, std::string& error) {
  if (LoadLibpq(error) == nullptr) return nullptr;
  PGconn* conn = Pq().connectdb(url.c_str());
  if (Pq().status(conn) != CONNECTION_OK) {
    error = Message(Pq().errorMessage(conn));
    Pq().finish(conn);
    return nullptr;
  }
  auto db = std::make_unique<PostgresDatabase>(conn);
  // Notices of "already exists" and the like are not for the user.
  Pq().setNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  if (!db->Exec("SET client_min_messages TO warning", error)) return nullptr;
  return db;
}

}  // namespace velutron::archive
