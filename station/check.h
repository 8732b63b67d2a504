#ifndef WEIGH_STATION_CHECK_H_
#define WEIGH_STATION_CHECK_H_

// A dry run of one weighing for a person at a terminal: every step in plain
// words, one request to the scale, no file written.

#include <string>
#include <string_view>
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

// `bytes` as text with every control byte named in angle brackets (<STX>,
// <EOT>, <NUL>, <0x7F>...) and bytes above 0x7E in hex, so that a line of it
// shows exactly what was there.
std::string VisibleBytes(std::string_view bytes);

// A name from outside (a path, a folder, a process or user name) as text
// for a terminal: letters in well-formed UTF-8 stay as they are, so that
// "Recepție" reads as it is written, while control characters (C0, DEL and
// the C1 range U+0080 to U+009F) and bytes that are not well-formed UTF-8 are
// named as VisibleBytes names them, so that no name can act on the terminal.
std::string VisibleName(std::string_view bytes);

// `bytes` in hex, two digits each, separated by spaces.
std::string HexBytes(std::string_view bytes);

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

// Makes the dry run in the current folder with `limits` and puts its report
// in `report`. Returns the exit status.
int RunCheck(std::string* report, const WaitLimits& limits);

}  // namespace station

#endif  // WEIGH_STATION_CHECK_H_
