// The status texts of readings without a value, stored once each and referred to by code.

#include "archive/Store.h"

namespace velutron::archive::store {

bool Store::LoadStatuses(std::string& error) {
  return db_->Exec(
      "SELECT code, text FROM statuses", {},
      [this](const SqlRow& row) {
        statuses_[row.Text(1)] = row.Int(0);
        status_texts_[row.Int(0)] = row.Text(1);
      },
      error);
}

std::string Store::StatusText(int64_t code) const {
  auto it = status_texts_.find(code);
  return it != status_texts_.end() ? it->second : "?";
}

std::optional<int64_t> Store::StatusCode(const std::string& text, std::string& error) {
  if (auto it = statuses_.find(text); it != statuses_.end()) return it->second;
  if (!db_->Exec("INSERT INTO statuses(text) VALUES ($1) ON CONFLICT (text) DO NOTHING", {text}, error) ||
      !LoadStatuses(error))
    return std::nullopt;
  return statuses_.at(text);
}

}  // namespace velutron::archive::store
