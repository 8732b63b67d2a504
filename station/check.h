#ifndef WEIGH_STATION_CHECK_H_
#define WEIGH_STATION_CHECK_H_

// A dry run of one weighing for a person at a terminal: every step in plain
// words, one request to the scale, no file written.

#include <string>

#include "runtime/diagnosis.h"
#include "station/check_port.h"
#include "station/scale_dialogue.h"
#include "station/visible_text.h"

namespace station {

// The running program's file and its SHA-256, or a line that says why the
// digest cannot be shown, never a digest that is not the file's: what
// --check shows after its first line and --version after the version.
std::string IdentificationText(const runtime::FileDigest& program);

// Whether `program` holds a whole digest: a cut or garbled one would name
// another file.
bool HasDigest(const runtime::FileDigest& program);

// Makes the dry run in the current folder with `limits` and puts its report
// in `report`. Returns the exit status (CHECK_STABLE_WEIGHT and the others).
int RunCheck(std::string* report, const WaitLimits& limits);

}  // namespace station

#endif  // WEIGH_STATION_CHECK_H_
