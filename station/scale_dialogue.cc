#include "station/scale_dialogue.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <string>

#include "runtime/serial_port.h"
#include "runtime/text_file.h"
#include "station/file_verdicts.h"
#include "station/scale_reply.h"
#include "station/station.h"

namespace station {

using runtime::Text;

namespace {

constexpr runtime::ObjectValue CONFIG_FILE = 0;
constexpr runtime::ObjectValue SCALE_PORT = 0;

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point then) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count();
}

// Reads what waits on the scale port into the receive buffer, never more
// than the buffer holds; the rest stays queued for the next poll. Returns
// true when anything was waiting.
bool ReceiveFromScale(ReplyAssembly* assembly) {
  const int32_t waiting = runtime::PortInputCount(SCALE_PORT);
  if (waiting < 1) return false;
  assembly->receiveBuffer.FillInPlace([waiting](std::span<char> room) {
    const int32_t length = std::min(waiting, static_cast<int32_t>(room.size()));
    runtime::ReadPortData(SCALE_PORT, room.data(), length);
  });
  return true;
}

// Opens the scale's port and, when it opened, throws away what waited there
// from before (a reading sent unasked is no answer to this request) and
// sends the request. Returns false, with LastPortOpenError() saying why,
// when the port could not be opened.
bool OpenAndAsk(const Text& portName, const Text& request) {
  if (runtime::OpenPort(SCALE_PORT, portName, 9600, /*parity=*/0, /*dataBits=*/8,
                        /*stopBits=*/1.0f, /*handshake=*/0, /*inputBufferSize=*/1024,
                        /*outputBufferSize=*/1024) == 0) {
    return false;
  }
  runtime::DiscardPortInput(SCALE_PORT);
  runtime::WritePortText(SCALE_PORT, request);
  return true;
}

}  // namespace

PortNameLine DecodePortName(std::string_view bytes) {
  PortNameLine line;
  std::string name;
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    const bool little = bytes[0] == '\xFF';
    line.encoding = little ? ConfigEncoding::kUtf16LittleEndian : ConfigEncoding::kUtf16BigEndian;
    for (size_t at = 2; at + 1 < bytes.size() && name.size() < MAX_PORT_NAME_LENGTH; at += 2) {
      const auto low = static_cast<unsigned char>(bytes[little ? at : at + 1]);
      const auto high = static_cast<unsigned char>(bytes[little ? at + 1 : at]);
      const unsigned unit = high << 8 | low;
      if (unit == 0 || unit == '\r' || unit == '\n') break;
      if (unit > 0x7F) {
        line.notAscii = true;
        return line;
      }
      name.push_back(static_cast<char>(unit));
    }
  } else {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
      line.encoding = ConfigEncoding::kUtf8WithMark;
      bytes.remove_prefix(3);
    }
    name = bytes.substr(0, std::min(bytes.find_first_of(std::string_view("\0\r\n", 3)),
                                    static_cast<size_t>(MAX_PORT_NAME_LENGTH)));
  }
  line.name = Text(name);
  return line;
}

PortNameLine ReadPortName(runtime::ObjectValue file) {
  // Enough for the longest name in UTF-16 with its mark.
  std::string bytes(2 * MAX_PORT_NAME_LENGTH + 3, '\0');
  const int32_t got = runtime::ReadBytes(file, bytes.data(), static_cast<int32_t>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max(got, 0)));
  return DecodePortName(bytes);
}

Text QueryScale(const Text& portName, const WaitLimits& limits) {
  ReplyAssembly assembly;
  const char requestBytes[] = {ENQ, DC1};
  const Text request(requestBytes, sizeof(requestBytes));
  const Clock::time_point start = Clock::now();
  Clock::time_point lastActivity = start;
  bool open = OpenAndAsk(portName, request);
  // A name that leads to no port stays so however long one waits; trying
  // again would only touch whatever it names once more.
  if (!open && runtime::LastPortOpenError().reason == runtime::PortFailure::kNotAPort) {
    return Text();
  }

  bool accepted = false;
  while (!accepted) {
    runtime::Pause(POLL_PERIOD_MS);
    if (!open) {
      open = OpenAndAsk(portName, request);
      // The request just sent starts the silence count. A port in use is
      // someone else weighing right now: wait for it up to the total limit.
      if (open || runtime::LastPortOpenError().reason == runtime::PortFailure::kInUse) {
        lastActivity = Clock::now();
      }
    } else {
      if (ReceiveFromScale(&assembly)) lastActivity = Clock::now();
      const PollOutcome outcome = FinishPoll(&assembly);
      if (outcome.requestAgain) {
        runtime::WritePortText(SCALE_PORT, request);
        lastActivity = Clock::now();
      }
      accepted = outcome.accepted;
    }
    if (!accepted && (MillisecondsSince(lastActivity) >= limits.silenceLimit ||
                      MillisecondsSince(start) >= limits.totalLimit)) {
      break;
    }
  }
  runtime::ClosePort(SCALE_PORT);
  return accepted ? ExtractQuantity(assembly.reply) : Text();
}

Text AcquireQuantity(const RunFolders& folders, const WaitLimits& limits) {
  const Text configName(CONFIG_FILE_NAME);
  const ConfigVerdict verdict = JudgeConfiguration(folders);
  switch (verdict.action) {
    case ConfigVerdict::Action::kCreate:
      // Missing, empty or a single byte: write the default and leave the
      // weighing to the next run. Never through a link (a dangling one
      // would have the file created where it points, one to a small file
      // would have that file overwritten), nor into a file with another
      // name too: that name may be another user's hard link to a file of
      // this user's. The open judges that again for itself, and the size
      // again on the open file: six bytes at its start then replace all
      // that was there.
      if (runtime::CreateNewTextFile(CONFIG_FILE, folders.station, configName) == 0 &&
          (runtime::OpenForUpdate(CONFIG_FILE, folders.station, configName,
                                  runtime::OPTION_SHARE_READ | runtime::OPTION_NO_LINK |
                                      runtime::OPTION_ONE_NAME) == 0 ||
           runtime::QueryOpenFileSize(CONFIG_FILE) > 1)) {
        runtime::CloseTextFile(CONFIG_FILE);
        return Text();
      }
      runtime::WriteLine(CONFIG_FILE, Text(DEFAULT_PORT_NAME));
      runtime::CloseTextFile(CONFIG_FILE);
      return Text();
    case ConfigVerdict::Action::kRefuse:
      return Text();
    case ConfigVerdict::Action::kRead:
      break;
  }
  // The file was read and closed at once, shared with everyone meanwhile: a
  // second run started during this one's weighing must be able to read it
  // too. An empty name, which no port answers to, is tried until the
  // silence limit as any missing port is.
  return QueryScale(verdict.line.name, limits);
}

Text AcquireQuantity(const WaitLimits& limits) {
  RunFolders folders;
  HoldRunFolders(&folders);
  const Text quantity = AcquireQuantity(folders, limits);
  ReleaseRunFolders(&folders);
  return quantity;
}

Text AcquireQuantity() { return AcquireQuantity(WaitLimits()); }

}  // namespace station
