#pragma once

#include <string>

#include "data/DatabaseFile.h"
#include "data/Measurements.h"
#include "session/ChartData.h"

namespace velutron {

// Every record of `db` on the axis: a record whose stamp is no real time sits between its neighbours
// with a time (spread evenly between them), and when no record has a time every record sits at its
// number.
ChartData ChartOfDatabase(const DatabaseContents& db, std::string title);

}  // namespace velutron
