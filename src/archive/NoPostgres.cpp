#include "archive/Database.h"

namespace velutron::archive {

std::unique_ptr<Database> OpenPostgres(const std::string&, std::string& error) {
  error = "this build has no PostgreSQL support";
  return nullptr;
}

}  // namespace velutron::archive
