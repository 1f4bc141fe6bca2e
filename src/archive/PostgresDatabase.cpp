#include <dlfcn.h>
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "archive/Database.h"
#include "archive/Location.h"
#include "platform/LoadedSymbol.h"
#include "platform/Process.h"

namespace velutron::archive {

namespace {

// libpq brings Kerberos, LDAP and TLS with it, which cost every start of velutron-cli milliseconds; it is
// loaded only when a PostgreSQL archive is opened.
struct Libpq {
  decltype(&::PQcancel) cancel = nullptr;
  decltype(&::PQclear) clear = nullptr;
  decltype(&::PQcmdTuples) cmdTuples = nullptr;
  decltype(&::PQconnectPoll) connectPoll = nullptr;
  decltype(&::PQconnectStart) connectStart = nullptr;
  decltype(&::PQconninfo) conninfo = nullptr;
  decltype(&::PQconninfoFree) conninfoFree = nullptr;
  decltype(&::PQconsumeInput) consumeInput = nullptr;
  decltype(&::PQerrorMessage) errorMessage = nullptr;
  decltype(&::PQfinish) finish = nullptr;
  decltype(&::PQflush) flush = nullptr;
  decltype(&::PQfreeCancel) freeCancel = nullptr;
  decltype(&::PQgetCancel) getCancel = nullptr;
  decltype(&::PQgetResult) getResult = nullptr;
  decltype(&::PQgetisnull) getisnull = nullptr;
  decltype(&::PQgetlength) getlength = nullptr;
  decltype(&::PQgetvalue) getvalue = nullptr;
  decltype(&::PQisBusy) isBusy = nullptr;
  decltype(&::PQntuples) ntuples = nullptr;
  decltype(&::PQresetPoll) resetPoll = nullptr;
  decltype(&::PQresetStart) resetStart = nullptr;
  decltype(&::PQresultStatus) resultStatus = nullptr;
  decltype(&::PQsendQueryParams) sendQueryParams = nullptr;
  decltype(&::PQsetNoticeProcessor) setNoticeProcessor = nullptr;
  decltype(&::PQsetnonblocking) setnonblocking = nullptr;
  decltype(&::PQsocket) socket = nullptr;
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
      LoadedSymbol(handle, "PQcancel", f.cancel) && LoadedSymbol(handle, "PQclear", f.clear) &&
      LoadedSymbol(handle, "PQcmdTuples", f.cmdTuples) &&
      LoadedSymbol(handle, "PQconnectPoll", f.connectPoll) &&
      LoadedSymbol(handle, "PQconnectStart", f.connectStart) &&
      LoadedSymbol(handle, "PQconninfo", f.conninfo) &&
      LoadedSymbol(handle, "PQconninfoFree", f.conninfoFree) &&
      LoadedSymbol(handle, "PQconsumeInput", f.consumeInput) &&
      LoadedSymbol(handle, "PQerrorMessage", f.errorMessage) && LoadedSymbol(handle, "PQfinish", f.finish) &&
      LoadedSymbol(handle, "PQflush", f.flush) && LoadedSymbol(handle, "PQfreeCancel", f.freeCancel) &&
      LoadedSymbol(handle, "PQgetCancel", f.getCancel) && LoadedSymbol(handle, "PQgetResult", f.getResult) &&
      LoadedSymbol(handle, "PQgetisnull", f.getisnull) && LoadedSymbol(handle, "PQgetlength", f.getlength) &&
      LoadedSymbol(handle, "PQgetvalue", f.getvalue) && LoadedSymbol(handle, "PQisBusy", f.isBusy) &&
      LoadedSymbol(handle, "PQntuples", f.ntuples) && LoadedSymbol(handle, "PQresetPoll", f.resetPoll) &&
      LoadedSymbol(handle, "PQresetStart", f.resetStart) &&
      LoadedSymbol(handle, "PQresultStatus", f.resultStatus) &&
      LoadedSymbol(handle, "PQsendQueryParams", f.sendQueryParams) &&
      LoadedSymbol(handle, "PQsetNoticeProcessor", f.setNoticeProcessor) &&
      LoadedSymbol(handle, "PQsetnonblocking", f.setnonblocking) &&
      LoadedSymbol(handle, "PQsocket", f.socket) && LoadedSymbol(handle, "PQstatus", f.status) &&
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

using Clock = std::chrono::steady_clock;

constexpr const char* kInterrupted = "interrupted";

// What ended a wait for the server.
enum class Waited : uint8_t { Ready, Interrupted, TimedOut };

// Blocks until the connection's socket is ready for `events`, the user interrupts (Ctrl+C or SIGTERM
// write to the interrupt's pipe, which wakes the wait), or `deadline` passes.
Waited WaitForServer(PGconn* conn, short events, std::optional<Clock::time_point> deadline) {
  for (;;) {
    if (InterruptRequested()) return Waited::Interrupted;
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return Waited::TimedOut;
      timeout = static_cast<int>(std::min<int64_t>(left, std::numeric_limits<int>::max()));
    }
    pollfd fds[2] = {{Pq().socket(conn), events, 0}, {InterruptNotifierFd(), POLLIN, 0}};
    // Without a socket libpq has failed already, and says why on its next step.
    if (fds[0].fd < 0) return Waited::Ready;
    const int ready = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
    if (ready > 0 && fds[0].revents != 0) return Waited::Ready;
    if (ready < 0 && errno != EINTR) return Waited::Ready;
  }
}

// libpq keeps to connect_timeout only in its blocking connect; the waits here keep to it themselves.
// As libpq reads it: none at 0 or below, at least 2 s.
int ConnectTimeoutSeconds(PGconn* conn) {
  PQconninfoOption* options = Pq().conninfo(conn);
  int seconds = 0;
  for (const PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o) {
    if (std::string_view(o->keyword) == "connect_timeout" && o->val != nullptr) seconds = Parse<int>(o->val);
  }
  if (options != nullptr) Pq().conninfoFree(options);
  return seconds <= 0 ? 0 : std::max(seconds, 2);
}

// Takes a connection through libpq's steps (those of PQconnectStart, or of PQresetStart) to its end.
bool Establish(PGconn* conn, decltype(&::PQconnectPoll) step, std::string& error) {
  if (Pq().status(conn) == CONNECTION_BAD) {
    error = Message(Pq().errorMessage(conn));
    return false;
  }
  const int seconds = ConnectTimeoutSeconds(conn);
  std::optional<Clock::time_point> deadline;
  if (seconds > 0) deadline = Clock::now() + std::chrono::seconds(seconds);
  // Before the first step libpq waits to write.
  for (PostgresPollingStatusType status = PGRES_POLLING_WRITING; status != PGRES_POLLING_OK;
       status = step(conn)) {
    if (status == PGRES_POLLING_FAILED) {
      error = Message(Pq().errorMessage(conn));
      return false;
    }
    switch (WaitForServer(conn, status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
      case Waited::Ready:
        break;
      case Waited::Interrupted:
        error = kInterrupted;
        return false;
      case Waited::TimedOut:
        error = "the server did not answer within " + std::to_string(seconds) + " s (connect_timeout)";
        return false;
    }
  }
  // Statements are sent and answered through the same waits, so that an interrupt ends them too.
  Pq().setnonblocking(conn, 1);
  return true;
}

// Asks the server to stop the statement in progress. PQcancel blocks until the server has taken the
// request, and a server that stopped answering never does: it gets half a second, then the program goes
// on without it (the server drops the statement once it finds the connection closed).
void CancelStatement(PGconn* conn) {
  PGcancel* request = Pq().getCancel(conn);
  if (request == nullptr) return;
  struct Done {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  std::thread([request, done, cancel = Pq().cancel, release = Pq().freeCancel] {
    char why[256];
    cancel(request, why, sizeof why);
    release(request);
    std::lock_guard lock(done->mutex);
    done->done = true;
    done->changed.notify_all();
  }).detach();
  std::unique_lock lock(done->mutex);
  done->changed.wait_for(lock, std::chrono::milliseconds(500), [&done] { return done->done; });
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
    // After an interrupt nothing more is sent: the command is ending.
    if (InterruptRequested() || interrupted_) {
      error = kInterrupted;
      changes_ = 0;
      return false;
    }
    // A server restarted, or a connection cut, is connected to again; never inside a transaction,
    // whose earlier statements the server has forgotten.
    std::string why;
    if (Pq().status(conn_) == CONNECTION_BAD) {
      if (inTransaction_ || !Pq().resetStart(conn_) || !Establish(conn_, Pq().resetPoll, why)) {
        error = why.empty() ? Message(Pq().errorMessage(conn_)) : why;
        changes_ = 0;
        return false;
      }
      if (!Exec("SET client_min_messages TO warning", error)) return false;
    }
    const std::string text(sql);
    Result result;
    if (!Pq().sendQueryParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr, values.data(),
                              nullptr, nullptr, 0) ||
        !Answer(result, why)) {
      error = why.empty() ? Message(Pq().errorMessage(conn_)) : why;
      changes_ = 0;
      return false;
    }
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
    const PGTransactionStatusType state = Pq().transactionStatus(conn_);
    std::string ignored;
    if (state == PQTRANS_INTRANS || state == PQTRANS_INERROR) Exec("ROLLBACK", ignored);
  }

 private:
  // Sends the statement queued and takes its answer: the last result, or the first that failed. False
  // (with `error` set, or libpq's message to take) when the connection failed or the user interrupted.
  bool Answer(Result& result, std::string& error) {
    for (int sending; (sending = Pq().flush(conn_)) != 0;) {
      if (sending < 0 || !Wait(POLLIN | POLLOUT, error) || !Pq().consumeInput(conn_)) return false;
    }
    for (;;) {
      if (!Pq().consumeInput(conn_)) return false;
      if (Pq().isBusy(conn_)) {
        if (!Wait(POLLIN, error)) return false;
        continue;
      }
      PGresult* next = Pq().getResult(conn_);
      if (next == nullptr) return result != nullptr;
      const ExecStatusType kept = result ? Pq().resultStatus(result.get()) : PGRES_COMMAND_OK;
      if (kept == PGRES_COMMAND_OK || kept == PGRES_TUPLES_OK) {
        result.reset(next);
      } else {
        Pq().clear(next);
      }
    }
  }

  bool Wait(short events, std::string& error) {
    if (WaitForServer(conn_, events, std::nullopt) == Waited::Ready) return true;
    // The statement stays unanswered: the server is asked to drop it, and the connection takes no other.
    interrupted_ = true;
    CancelStatement(conn_);
    error = kInterrupted;
    return false;
  }

  PGconn* conn_;
  int64_t changes_ = 0;
  bool inTransaction_ = false;
  bool interrupted_ = false;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& url, std::string& error) {
  if (LoadLibpq(error) == nullptr) return nullptr;
  PGconn* conn = Pq().connectStart(WithTimeouts(url).c_str());
  if (conn == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  auto db = std::make_unique<PostgresDatabase>(conn);
  if (!Establish(conn, Pq().connectPoll, error)) {
    // libpq quotes a part of the URL it could not read, which may be the password.
    error = WithoutPasswords(error, url);
    return nullptr;
  }
  // Notices of "already exists" and the like are not for the user.
  Pq().setNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  if (!db->Exec("SET client_min_messages TO warning", error)) return nullptr;
  return db;
}

}  // namespace velutron::archive
