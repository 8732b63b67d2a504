#ifndef WEIGH_STATION_SCALE_REPLY_H_
#define WEIGH_STATION_SCALE_REPLY_H_

// How the scale's replies are put together from what each poll brings, and
// how the weight is cut out of an accepted reply. Nothing here touches a
// port or a clock: the poll loop of the scale dialogue drives it.

#include <cstdint>
#include <string_view>

#include "runtime/text.h"

namespace station {

// Control bytes of the scale protocol, by their ASCII names.
constexpr char SOH = '\x01';
constexpr char STX = '\x02';
constexpr char ETX = '\x03';
constexpr char EOT = '\x04';
constexpr char ENQ = '\x05';
constexpr char DC1 = '\x11';

// The size of the receive buffer, which is also the most read in one poll.
constexpr int32_t RECEIVE_BUFFER_SIZE = 1024;

// What is being assembled across the polls of one dialogue.
struct ReplyAssembly {
  // This poll's bytes over a run of RECEIVE_BUFFER_SIZE spaces.
  runtime::Text receiveBuffer = runtime::SpaceRun(RECEIVE_BUFFER_SIZE);
  // The cleaned chunks of the reply still arriving.
  runtime::Text accumulator;
  // The last complete reply.
  runtime::Text reply;
};

// What one poll changed.
struct PollOutcome {
  // A reply was completed by this (quiet) poll.
  bool replyCompleted = false;
  // The completed reply was unstable: the request goes out again.
  bool requestAgain = false;
  // The current reply is stable and ends with EOT: the dialogue is over.
  bool accepted = false;
};

// Puts `bytes` over the start of the receive buffer as a port read would:
// at most RECEIVE_BUFFER_SIZE of them, and a zero byte ends the chunk there.
// Returns how many bytes were taken; the rest belong to the next poll.
int32_t ReceiveBytes(ReplyAssembly* assembly, std::string_view bytes);

// Removes every space, then every LF CR, CR LF, LF and CR, in that order.
runtime::Text CleanChunk(const runtime::Text& chunk);

// The character after the reply's first STX (the first character when
// there is no STX; empty when STX is the last one).
runtime::Text StatusCharacter(const runtime::Text& reply);

// True when the reply's status character is "S" and it ends with EOT.
bool IsAcceptedReply(const runtime::Text& reply);

// Ends a poll whose bytes, if any, are in the receive buffer. A poll that
// brought something other than spaces adds its cleaned chunk to the
// accumulator; any other poll completes the reply gathered so far.
PollOutcome FinishPoll(ReplyAssembly* assembly);

// The weight text of an accepted reply: from the first STX (included) up to
// the three characters before the first ETX, without any "S" or space.
// Empty when there is no ETX or it stands at most three places after STX.
runtime::Text ExtractQuantity(const runtime::Text& reply);

}  // namespace station

#endif  // WEIGH_STATION_SCALE_REPLY_H_
