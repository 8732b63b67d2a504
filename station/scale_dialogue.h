#ifndef WEIGH_STATION_SCALE_DIALOGUE_H_
#define WEIGH_STATION_SCALE_DIALOGUE_H_

#include <cstdint>
#include <string_view>

#include "runtime/object_table.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/station.h"

namespace station {

// The configuration file: its first line names the scale's serial port.
inline constexpr char CONFIG_FILE_NAME[] = "Kavrin.inf";

// How the configuration file is opened for reading: shared with everyone,
// and through a link only when it is this user's or root's, as another
// user's link may lead to a file that user could not read.
inline constexpr int32_t CONFIG_READ_OPTIONS =
    runtime::OPTION_SHARE_READ | runtime::OPTION_SHARE_WRITE | runtime::OPTION_TRUSTED_LINK;

// The port written into a configuration file made on a first run.
inline constexpr char DEFAULT_PORT_NAME[] = "COM1";

// The most of the configuration file's first line that is read: a port
// name is short, and a huge line must cost neither time nor memory.
constexpr int32_t MAX_PORT_NAME_LENGTH = 4096;

// How the configuration file was saved, as far as its first bytes tell.
// Notepad saves with a byte order mark when asked for "UTF-8" (its only
// UTF-8 before Windows 10 1903) or "Unicode"; no port name begins with the
// bytes of a mark.
enum class ConfigEncoding {
  kPlainBytes,         // no mark: taken byte for byte, as always
  kUtf8WithMark,       // EF BB BF first: taken after the mark
  kUtf16LittleEndian,  // FF FE first: Notepad's "Unicode"
  kUtf16BigEndian,     // FE FF first: Notepad's "Unicode big endian"
};

// The configuration file's first line as a weighing takes it.
struct PortNameLine {
  // The port name; empty when the line is empty or not ASCII.
  runtime::Text name;
  ConfigEncoding encoding = ConfigEncoding::kPlainBytes;
  // A UTF-16 line holds a character outside ASCII, which no port name has.
  bool notAscii = false;
};

// The first line of a configuration file that begins with `bytes`: up to CR,
// LF or a zero character, at most MAX_PORT_NAME_LENGTH of them. Plain bytes
// read exactly as ReadLine reads them; a UTF-8 mark is skipped; UTF-16 after
// its mark is taken character by character, ASCII only.
PortNameLine DecodePortName(std::string_view bytes);

// Reads the first line of the open configuration file under `file` with
// DecodePortName. A weighing and the dry run both read it so.
PortNameLine ReadPortName(runtime::ObjectValue file);

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

// AcquireQuantity in the held `folders`, as the verdict of
// JudgeConfiguration says: the port name read from Kavrin.inf's first line,
// or "COM1" written into a missing (or as good as missing) Kavrin.inf and
// the empty text returned, or the empty text at once where Kavrin.inf is
// refused or names no port.
runtime::Text AcquireQuantity(const RunFolders& folders, const WaitLimits& limits);

}  // namespace station

#endif  // WEIGH_STATION_SCALE_DIALOGUE_H_
