#ifndef WEIGH_STATION_STATION_H_
#define WEIGH_STATION_STATION_H_

#include "runtime/text.h"

namespace station {

// Reads the port name from "Kavrin.inf" (creating the file holding "COM1"
// and returning the empty text on a first run), asks the scale on that port
// for the weight and returns it once a stable reading arrived. Returns the
// empty text when no reading could be had.
runtime::Text AcquireQuantity();

}  // namespace station

#endif  // WEIGH_STATION_STATION_H_
