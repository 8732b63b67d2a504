#include "station/scale_reply.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace station {

using runtime::Text;

namespace {

// The receive buffer as it stands when nothing arrived.
const Text& EmptyReceiveBuffer() {
  static const Text spaces = runtime::SpaceRun(RECEIVE_BUFFER_SIZE);
  return spaces;
}

}  // namespace

int32_t ReceiveBytes(ReplyAssembly* assembly, std::string_view bytes) {
  int32_t taken = 0;
  assembly->receiveBuffer.FillInPlace([&](std::span<char> room) {
    taken = static_cast<int32_t>(std::min(bytes.size(), room.size()));
    std::memcpy(room.data(), bytes.data(), static_cast<std::size_t>(taken));
  });
  return taken;
}

Text CleanChunk(const Text& chunk) {
  Text cleaned = runtime::ReplaceAllText(chunk, " ", "");
  cleaned = runtime::ReplaceAllText(cleaned, "\n\r", "");
  cleaned = runtime::ReplaceAllText(cleaned, "\r\n", "");
  cleaned = runtime::ReplaceAllText(cleaned, "\n", "");
  return runtime::ReplaceAllText(cleaned, "\r", "");
}

Text StatusCharacter(const Text& reply) {
  return runtime::MiddlePart(reply, runtime::FindInText(reply, Text(&STX, 1)) + 1, 1);
}

bool IsAcceptedReply(const Text& reply) {
  return runtime::TextEquals(runtime::RightPart(reply, 1), Text(&EOT, 1)) &&
         runtime::TextEquals(StatusCharacter(reply), "S");
}

PollOutcome FinishPoll(ReplyAssembly* assembly) {
  PollOutcome outcome;
  if (!runtime::TextEquals(assembly->receiveBuffer, EmptyReceiveBuffer())) {
    assembly->accumulator += CleanChunk(assembly->receiveBuffer);
    assembly->receiveBuffer = EmptyReceiveBuffer();
  } else if (!assembly->accumulator.empty()) {
    // A quiet poll after data: the message is complete.
    assembly->reply = assembly->accumulator;
    assembly->accumulator = Text();
    outcome.replyCompleted = true;
    outcome.requestAgain = runtime::TextEquals(StatusCharacter(assembly->reply), "U");
  }
  outcome.accepted = IsAcceptedReply(assembly->reply);
  return outcome;
}

Text ExtractQuantity(const Text& reply) {
  const int32_t start = runtime::FindInText(reply, Text(&STX, 1));
  const int32_t end = runtime::FindInText(reply, Text(&ETX, 1));
  // The three characters before ETX (unit and check byte) stay out.
  Text cut = runtime::MiddlePart(reply, start, end - start - 3);
  cut = runtime::ReplaceAllText(cut, "S", "");
  return runtime::ReplaceAllText(cut, " ", "");
}

}  // namespace station
