#ifndef WEIGH_STATION_CHECK_H_
#define WEIGH_STATION_CHECK_H_

// A dry run of one weighing for a person at a terminal: every step in plain
// words, one request to the scale, no file written.

#include <string>

#include "station/check_port.h"
#include "station/scale_dialogue.h"
#include "station/visible_text.h"

namespace station {

// Makes the dry run in the current folder with `limits` and puts its report
// in `report`. Returns the exit status (CHECK_STABLE_WEIGHT and the others).
int RunCheck(std::string* report, const WaitLimits& limits);

}  // namespace station

#endif  // WEIGH_STATION_CHECK_H_
