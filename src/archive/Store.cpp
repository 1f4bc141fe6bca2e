#include "archive/Store.h"

#include <filesystem>

#include "archive/Location.h"
#include "archive/Schema.h"
#include "platform/Utf8Path.h"

namespace velutron::archive {

namespace store {

// Transactions nest inside a batch: only the outermost one reaches the engine.
bool Store::Begin(std::string& error) {
  if (depth_++ > 0) return true;
  if (db_->Begin(error)) return true;
  depth_ = 0;
  return false;
}

bool Store::Commit(std::string& error) {
  if (depth_ == 0 || --depth_ > 0) return true;
  return db_->Commit(error) || Fail();
}

bool Store::Fail() {
  // The whole batch is gone; the callers up the chain see false and give up too.
  if (depth_ > 0) --depth_;
  db_->Rollback();
  // What was cached inside the rolled-back transaction may not exist.
  series_.clear();
  statuses_.clear();
  status_texts_.clear();
  offsets_.clear();
  return false;
}
}  // namespace store

namespace {

// A SQLite file is looked at read-only before it is opened for writing (which puts it in WAL mode and
// creates the tables): a missing or empty file is made an archive only when asked to be, and a file of
// another program is left as it is.
bool SqliteFileFits(const std::string& file, OpenMode mode, std::string& error) {
  std::error_code ec;
  const auto status = std::filesystem::status(PathFromUtf8(file), ec);
  if (!std::filesystem::exists(status)) {
    if (mode == OpenMode::Create) return true;
    error = "no such file";
    return false;
  }
  if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(PathFromUtf8(file), ec) == 0) {
    if (mode == OpenMode::Create) return true;
    error = "an empty file, not an archive";
    return false;
  }
  const auto db = InspectSqlite(file, error);
  return db && CheckSqliteArchive(*db, mode, error);
}

}  // namespace

std::unique_ptr<PeriodArchive> OpenPeriodArchive(const std::string& location, std::string& error,
                                                 OpenMode mode) {
  const bool server = IsServerLocation(location);
  if (!server && !SqliteFileFits(location, mode, error)) return nullptr;
  std::unique_ptr<Database> db =
      server ? OpenPostgres(location, error) : OpenSqlite(location, error, mode == OpenMode::Create);
  if (!db) return nullptr;
  if (!PrepareSchema(*db, error, mode)) return nullptr;
  return std::make_unique<store::Store>(std::move(db));
}

std::unique_ptr<Archive> OpenArchive(const std::string& location, std::string& error, OpenMode mode) {
  return OpenPeriodArchive(location, error, mode);
}

}  // namespace velutron::archive
