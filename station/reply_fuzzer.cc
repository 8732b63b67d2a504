// libFuzzer target: what a scale might send, cut into what arrives between
// polls, run through the reply assembly and the extraction as the poll loop
// runs them.
//
// Input: a sequence of arrivals, each a two-byte little-endian length (at
// most 4096) and that many bytes; a length of 0 is a poll in which nothing
// arrived. Bytes not read in one poll (more than the receive buffer holds)
// wait for the next, as they would in the port's queue.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/text.h"
#include "station/scale_reply.h"

namespace {

using runtime::Text;
using station::ReplyAssembly;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool HasNone(std::string_view text, std::string_view bytes) {
  return text.find_first_of(bytes) == std::string_view::npos;
}

void CheckQuantity(const Text& reply) {
  const Text quantity = station::ExtractQuantity(reply);
  Require(quantity.size() <= reply.size());
  Require(HasNone(quantity.view(), std::string_view("S \r\n\0", 5)));
  const std::size_t stx = reply.view().find(station::STX);
  if (!quantity.empty() && stx != std::string_view::npos) {
    Require(quantity.view()[0] == station::STX);
  }
  if (reply.view().find(station::ETX) == std::string_view::npos) Require(quantity.empty());
}

// One poll: reads what waits (at most the buffer), then ends the poll.
// Returns true when the dialogue would be over.
bool Poll(ReplyAssembly* assembly, std::string* waiting) {
  if (!waiting->empty()) {
    const int32_t taken = station::ReceiveBytes(assembly, *waiting);
    Require(taken > 0 && taken <= station::RECEIVE_BUFFER_SIZE);
    Require(assembly->receiveBuffer.size() <= station::RECEIVE_BUFFER_SIZE);
    waiting->erase(0, static_cast<std::size_t>(taken));
  }
  const station::PollOutcome outcome = station::FinishPoll(assembly);
  Require(runtime::TextEquals(assembly->receiveBuffer,
                              runtime::SpaceRun(station::RECEIVE_BUFFER_SIZE)));
  Require(HasNone(assembly->accumulator.view(), std::string_view(" \r\n\0", 4)));
  Require(!outcome.requestAgain || outcome.replyCompleted);
  if (outcome.replyCompleted) {
    Require(assembly->accumulator.empty() && !assembly->reply.empty());
    CheckQuantity(assembly->reply);
  }
  if (outcome.accepted) {
    Require(station::IsAcceptedReply(assembly->reply));
    Require(assembly->reply.view().back() == station::EOT);
  }
  return outcome.accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReplyAssembly assembly;
  std::string waiting;
  std::size_t at = 0;
  while (at + 2 <= size) {
    std::size_t length = data[at] | (static_cast<std::size_t>(data[at + 1]) << 8);
    at += 2;
    if (length > 4096) length = 4096;
    if (length > size - at) length = size - at;
    waiting.append(reinterpret_cast<const char*>(data + at), length);
    at += length;
    if (Poll(&assembly, &waiting)) return 0;
  }
  // The line falls silent: what is queued is read, then quiet polls follow.
  while (!waiting.empty()) {
    if (Poll(&assembly, &waiting)) return 0;
  }
  Poll(&assembly, &waiting);
  return 0;
}
