#ifndef WEIGH_STATION_CHECK_PORT_H_
#define WEIGH_STATION_CHECK_PORT_H_

// The port and scale steps of the dry run behind --check.

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/text.h"
#include "station/scale_dialogue.h"

namespace station {

// Exit statuses of the dry run.
constexpr int CHECK_STABLE_WEIGHT = 0;
constexpr int CHECK_NO_CONFIGURATION = 3;
constexpr int CHECK_PORT_NOT_OPENED = 4;
constexpr int CHECK_NO_ANSWER = 5;
constexpr int CHECK_NOT_STABLE = 6;
constexpr int CHECK_EMPTY_VALUE = 7;

// The system's own words for the error `code`, with the code itself.
std::string SystemReason(int32_t code);

// What a completed reply means to a weighing, in a few words: its status
// (stable, unstable or neither) and whether it ends with EOT.
std::string DescribeReply(const runtime::Text& reply);

// The outcome of the answer to one request.
struct AnswerVerdict {
  int status = CHECK_NO_ANSWER;
  // Why, in a sentence without a full stop.
  std::string reason;
  // The value a weighing would hand over; empty unless status is 0.
  runtime::Text value;
};

// Judges what came back: `anyBytes` whether anything arrived, `replies` the
// replies completed in order, `accepted` whether the last one was taken as
// the weighing's reading, and `unfinished` what was still arriving.
AnswerVerdict JudgeAnswer(bool anyBytes, const std::vector<runtime::Text>& replies, bool accepted,
                          const runtime::Text& unfinished);

// Steps 2 and 3 of the dry run: opens `portName` as a weighing does, sends
// one request and reports every byte that comes back within `limits`, or
// why the port did not open. Returns the exit status; `why` gets the reason
// of any status but 0, and `value` the value a weighing would hand over.
int CheckPortAndScale(const runtime::Text& portName, const WaitLimits& limits, std::string* report,
                      std::string* why, runtime::Text* value);

}  // namespace station

#endif  // WEIGH_STATION_CHECK_PORT_H_
