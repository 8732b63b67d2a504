#include "station/scale_dialogue.h"

#include <algorithm>
#include <chrono>
#include <span>

#include "runtime/serial_port.h"
#include "runtime/text_file.h"
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

}  // namespace

Text QueryScale(const Text& portName, const WaitLimits& limits) {
  ReplyAssembly assembly;
  // An open that failed is not treated apart: the scale then stays silent
  // and the silence limit ends the wait.
  runtime::OpenPort(SCALE_PORT, portName, 9600, /*parity=*/0, /*dataBits=*/8, /*stopBits=*/1.0f,
                    /*handshake=*/0, /*inputBufferSize=*/1024, /*outputBufferSize=*/1024);
  const char requestBytes[] = {ENQ, DC1};
  const Text request(requestBytes, sizeof(requestBytes));
  runtime::WritePortText(SCALE_PORT, request);
  const Clock::time_point firstRequest = Clock::now();
  Clock::time_point lastActivity = firstRequest;

  bool accepted = false;
  while (!accepted) {
    runtime::Pause(POLL_PERIOD_MS);
    if (ReceiveFromScale(&assembly)) lastActivity = Clock::now();
    const PollOutcome outcome = FinishPoll(&assembly);
    if (outcome.requestAgain) {
      runtime::WritePortText(SCALE_PORT, request);
      lastActivity = Clock::now();
    }
    accepted = outcome.accepted;
    if (!accepted && (MillisecondsSince(lastActivity) >= limits.silenceLimit ||
                      MillisecondsSince(firstRequest) >= limits.totalLimit)) {
      break;
    }
  }
  runtime::ClosePort(SCALE_PORT);
  return accepted ? ExtractQuantity(assembly.reply) : Text();
}

Text AcquireQuantity(const WaitLimits& limits) {
  const Text configName(CONFIG_FILE_NAME);
  // Missing, a directory, empty or a single byte: write the default and
  // leave the weighing to the next run.
  if (runtime::QueryFileSize(configName) <= 1) {
    runtime::CreateTextFile(CONFIG_FILE, configName);
    runtime::WriteLine(CONFIG_FILE, Text(DEFAULT_PORT_NAME));
    runtime::CloseTextFile(CONFIG_FILE);
    return Text();
  }
  // Stays open until the stop step closes every file. A failed open reads
  // as an empty port name, which no port answers to.
  runtime::OpenForUpdate(CONFIG_FILE, configName);
  return QueryScale(runtime::ReadLine(CONFIG_FILE), limits);
}

Text AcquireQuantity() { return AcquireQuantity(WaitLimits()); }

}  // namespace station
