#ifndef WEIGH_STATION_SCALE_DIALOGUE_H_
#define WEIGH_STATION_SCALE_DIALOGUE_H_

#include <cstdint>

#include "runtime/text.h"

namespace station {

// The configuration file: its first line names the scale's serial port.
inline constexpr char CONFIG_FILE_NAME[] = "Kavrin.inf";

// The port written into a configuration file made on a first run.
inline constexpr char DEFAULT_PORT_NAME[] = "COM1";

// The most of the configuration file's first line that is read: a port
// name is short, and a huge line must cost neither time nor memory.
constexpr int32_t MAX_PORT_NAME_LENGTH = 4096;

// The sleep of each poll, in milliseconds.
constexpr int32_t POLL_PERIOD_MS = 25;

// The dialogue gives up when no byte arrived for this long after the last
// request or the last byte received, in milliseconds.
constexpr int32_t SILENCE_LIMIT_MS = 5000;

// The dialogue gives up this long after the first request, whatever the
// replies were, in milliseconds.
constexpr int32_t TOTAL_WAIT_LIMIT_MS = 60000;

// How long the dialogue waits for a stable reply.
struct WaitLimits {
  int32_t silenceLimit = SILENCE_LIMIT_MS;
  int32_t totalLimit = TOTAL_WAIT_LIMIT_MS;
};

// Opens `portName` as port number 0, asks the scale for the weight and polls
// until a stable reply ending with EOT arrives or a limit is reached; closes
// the port in every case. Returns the weight text cut from the reply, or the
// empty text when the wait was given up.
//
// A port that cannot be opened is tried again at every poll: one in use by
// another program (a second run, say) until the total limit, one that is
// missing or refused (an adapter being plugged in) until the silence limit,
// both counted from the start. A name that leads to no port (a file, a
// pipe, a path) is not tried again. Once it opens, whatever it held from before
// is thrown away, the request goes out and the dialogue goes on as usual.
runtime::Text QueryScale(const runtime::Text& portName, const WaitLimits& limits = WaitLimits());

// AcquireQuantity with the given wait limits instead of the standard ones.
runtime::Text AcquireQuantity(const WaitLimits& limits);

}  // namespace station

#endif  // WEIGH_STATION_SCALE_DIALOGUE_H_
