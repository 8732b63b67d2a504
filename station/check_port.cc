// The port and scale steps of the dry run: the port opened as a weighing
// opens it, one request, and every byte of the answer.
#include "station/check_port.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "runtime/diagnosis.h"
#include "runtime/serial_port.h"
#include "station/scale_reply.h"
#include "station/visible_text.h"

namespace station {

using runtime::Text;

namespace {

constexpr runtime::ObjectValue CHECK_PORT = 0;

// Beyond this many chunks a streaming scale's trace is only counted.
constexpr int32_t MAX_TRACED_CHUNKS = 200;

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point then) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count();
}

std::string PortList() {
  const std::vector<runtime::SerialPortEntry> ports = runtime::ListSerialPorts();
  if (ports.empty()) return "   No serial port was found on this machine.\n";
  std::string text = "   Serial ports present:\n";
  for (const runtime::SerialPortEntry& port : ports) {
    text += "     " + VisibleBytes(port.name) + "  (" + VisibleBytes(port.detail) + ")\n";
  }
  return text;
}

// What a name that is no port leads to, in a few words.
std::string NotAPortObject(runtime::NotAPort what) {
  switch (what) {
    case runtime::NotAPort::kFile:
      return "a file";
    case runtime::NotAPort::kPipe:
      return "a pipe";
    case runtime::NotAPort::kDevice:
      return "a device that is no serial line";
    case runtime::NotAPort::kTerminal:
      return "a console or terminal of the system, no serial line";
    case runtime::NotAPort::kConsole:
      return "the line the system uses as its console";
    case runtime::NotAPort::kSessionTerminal:
      return "the terminal of a running session";
    case runtime::NotAPort::kPath:
      break;
  }
  return "a path";
}

// The reason of a failed open in a few words.
std::string FailureWords(const runtime::PortOpenError& error) {
  using runtime::PortFailure;
  switch (error.reason) {
    case PortFailure::kNotAPort:
      return "not a port: names " + NotAPortObject(error.what);
    case PortFailure::kNotFound:
      return "no such port";
    case PortFailure::kAccessDenied:
      return "this user may not open it";
    case PortFailure::kInUse:
      return "another program has it open";
    case PortFailure::kSettingsRefused:
      return "it refused the line settings";
    case PortFailure::kOther:
    case PortFailure::kNone:
      break;
  }
  return "the system refused it";
}

}  // namespace

std::string SystemReason(int32_t code) {
  return runtime::SystemErrorText(code) + " (system code " + std::to_string(code) + ")";
}

namespace {

// Explains a failed open and what to do about it.
void ExplainOpenFailure(const Text& portName, std::string* report) {
  const runtime::PortOpenError error = runtime::LastPortOpenError();
  const std::string device = runtime::DevicePathOfPort(portName.c_str());
  using runtime::PortFailure;
  switch (error.reason) {
    case PortFailure::kNotFound:
      *report += "   No such port: " + VisibleBytes(device) + " does not exist";
      if (error.systemCode != 0) *report += " (" + SystemReason(error.systemCode) + ")";
      *report +=
          ".\n   The adapter may be unplugged, or Kavrin.inf names the wrong port. (A weighing\n"
          "   tries again for " +
          std::to_string(SILENCE_LIMIT_MS / 1000) + " s, then hands over an empty value.)\n";
      *report += PortList();
      return;
    case PortFailure::kAccessDenied: {
      *report += "   This user may not open it: " + SystemReason(error.systemCode) + ".\n";
      runtime::DeviceAccess access;
      if (!runtime::DescribeDeviceAccess(device, &access)) return;
      // Names from the user database, shown like every other outside text.
      access.owner = VisibleName(access.owner);
      access.group = VisibleName(access.group);
      access.user = VisibleName(access.user);
      char mode[8];
      std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(access.mode));
      *report += "   " + VisibleBytes(device) + " belongs to user " + access.owner + " and group " +
                 access.group + ", mode " + mode + ".\n";
      if ((access.mode & 060) != 060) {
        *report +=
            "   Its group may not read and write it either: ask the administrator to "
            "give the group access.\n";
      } else if (access.inGroup) {
        *report += "   You (" + access.user + ") are in group " + access.group +
                   ", yet the group may not open it: ask the administrator.\n";
      } else if (access.listedInGroup) {
        *report += "   You (" + access.user + ") were added to group " + access.group +
                   " after this session began: log out and in again.\n";
      } else {
        *report += "   You (" + access.user + ") are not in group " + access.group +
                   ". Add yourself:\n     sudo usermod -aG " + access.group + " " + access.user +
                   "\n   then log out and in again.\n";
      }
      return;
    }
    case PortFailure::kInUse: {
      *report += "   In use: another program has the port open or holds it exclusively (" +
                 SystemReason(error.systemCode) + ").\n";
      const std::vector<runtime::DeviceHolder> holders = runtime::FindDeviceHolders(device);
      for (const runtime::DeviceHolder& holder : holders) {
        *report += "   Held by process " + std::to_string(holder.processId) + " (" +
                   VisibleName(holder.program) + ").\n";
      }
      *report += holders.empty()
                     ? "   Close the program that uses the port (a terminal program, another "
                       "weighing, the scale's own software).\n"
                     : "   Close that program, or wait for that weighing to end.\n";
      *report += "   (A weighing waits for the port up to " +
                 std::to_string(TOTAL_WAIT_LIMIT_MS / 1000) +
                 " s, then hands over an empty value.)\n";
      return;
    }
    case PortFailure::kNotAPort:
      *report += "   Not a port: Kavrin.inf names " + NotAPortObject(error.what) +
                 ".\n   Nothing there was read, written or changed, and a weighing hands over an\n"
                 "   empty value at once. Put the scale's port on the first line of Kavrin.inf\n"
                 "   (see weigh --list-ports).\n";
      return;
    case PortFailure::kSettingsRefused:
      *report += "   It opened, but refused the line settings (" + SystemReason(error.systemCode) +
                 "): it is probably no serial port.\n";
      return;
    case PortFailure::kOther:
    case PortFailure::kNone:
      *report += "   The system said: " + SystemReason(error.systemCode) + ".\n";
      return;
  }
}

// One request, then what arrives within the limits of a weighing.
AnswerVerdict ListenToScale(const WaitLimits& limits, std::string* report) {
  ReplyAssembly assembly;
  runtime::DiscardPortInput(CHECK_PORT);
  const char requestBytes[] = {ENQ, DC1};
  const Text request(requestBytes, sizeof(requestBytes));
  const int32_t sent = runtime::WritePortText(CHECK_PORT, request);
  *report += "3. Request <ENQ><DC1> ";
  *report += sent == request.size()
                 ? "sent"
                 : "NOT sent (the port took " + std::to_string(sent) + " of 2 bytes)";
  *report += "; a weighing waits " + std::to_string(limits.silenceLimit / 1000) +
             " s for a byte and " + std::to_string(limits.totalLimit / 1000) +
             " s in all. Nothing more is sent.\n";
  const Clock::time_point firstRequest = Clock::now();
  Clock::time_point lastActivity = firstRequest;

  bool anyBytes = false;
  bool accepted = false;
  int32_t chunks = 0;
  std::vector<Text> replies;
  std::string buffer;
  while (!accepted) {
    runtime::Pause(POLL_PERIOD_MS);
    const int32_t waiting = runtime::PortInputCount(CHECK_PORT);
    if (waiting > 0) {
      buffer.assign(static_cast<size_t>(std::min(waiting, RECEIVE_BUFFER_SIZE)), '\0');
      const int32_t got =
          runtime::ReadPortData(CHECK_PORT, buffer.data(), static_cast<int32_t>(buffer.size()));
      buffer.resize(static_cast<size_t>(std::max(got, 0)));
      lastActivity = Clock::now();
      anyBytes = anyBytes || got > 0;
      if (++chunks <= MAX_TRACED_CHUNKS) {
        *report += "   +" + std::to_string(MillisecondsSince(firstRequest)) + " ms, " +
                   std::to_string(got) + " bytes: " + HexBytes(buffer) + "\n" + "      " +
                   VisibleBytes(buffer) + "\n";
      }
      // As a weighing takes them: a zero byte ends what this poll delivers.
      ReceiveBytes(&assembly, buffer);
    }
    const PollOutcome outcome = FinishPoll(&assembly);
    if (outcome.replyCompleted) {
      replies.push_back(assembly.reply);
      *report += "   Reply " + std::to_string(replies.size()) + ": " + Quoted(assembly.reply) +
                 ", " + DescribeReply(assembly.reply) + ".\n";
      if (outcome.requestAgain) {
        *report += "   (A weighing would ask again now; this check does not.)\n";
      }
    }
    accepted = outcome.accepted;
    if (!accepted && (MillisecondsSince(lastActivity) >= limits.silenceLimit ||
                      MillisecondsSince(firstRequest) >= limits.totalLimit)) {
      break;
    }
  }
  if (chunks > MAX_TRACED_CHUNKS) {
    *report += "   ... and " + std::to_string(chunks - MAX_TRACED_CHUNKS) + " more chunks.\n";
  }
  if (!anyBytes) {
    *report +=
        "   Nothing arrived within " + std::to_string(MillisecondsSince(firstRequest)) + " ms.\n";
  }
  AnswerVerdict verdict = JudgeAnswer(anyBytes, replies, accepted, assembly.accumulator);
  *report += verdict.status == CHECK_STABLE_WEIGHT
                 ? "   A weighing would hand over: " + Quoted(verdict.value) + "\n"
                 : "   A weighing would hand over an empty value: " + verdict.reason + ".\n";
  return verdict;
}

}  // namespace

std::string DescribeReply(const Text& reply) {
  const Text status = StatusCharacter(reply);
  std::string words;
  if (runtime::TextEquals(status, "S")) {
    words = "stable";
  } else if (runtime::TextEquals(status, "U")) {
    words = "unstable";
  } else {
    words = "neither stable nor unstable (status " + Quoted(status) + ")";
  }
  if (runtime::FindInText(reply, Text(&STX, 1)) == 0) words += ", no STX";
  const bool ends = runtime::TextEquals(runtime::RightPart(reply, 1), Text(&EOT, 1));
  return words + (ends ? ", ends with EOT" : ", does not end with EOT");
}

AnswerVerdict JudgeAnswer(bool anyBytes, const std::vector<Text>& replies, bool accepted,
                          const Text& unfinished) {
  AnswerVerdict verdict;
  if (!anyBytes) {
    verdict.status = CHECK_NO_ANSWER;
    verdict.reason = "the scale did not answer (silence)";
    return verdict;
  }
  if (accepted) {
    const Text& reply = replies.back();
    verdict.value = ExtractQuantity(reply);
    if (!verdict.value.empty()) {
      verdict.status = CHECK_STABLE_WEIGHT;
      return verdict;
    }
    verdict.status = CHECK_EMPTY_VALUE;
    const int32_t start = runtime::FindInText(reply, Text(&STX, 1));
    const int32_t end = runtime::FindInText(reply, Text(&ETX, 1));
    if (end == 0) {
      verdict.reason = "the stable reply has no ETX";
    } else if (start == 0) {
      verdict.reason = "the stable reply has no STX before its ETX";
    } else {
      verdict.reason = "the stable reply is too short: ETX stands at most three places after STX";
    }
    return verdict;
  }
  verdict.status = CHECK_NOT_STABLE;
  int32_t unstable = 0;
  int32_t stableWithoutEot = 0;
  for (const Text& reply : replies) {
    const Text status = StatusCharacter(reply);
    if (runtime::TextEquals(status, "U")) ++unstable;
    if (runtime::TextEquals(status, "S")) ++stableWithoutEot;
  }
  if (replies.empty()) {
    verdict.reason = "bytes arrived, but no reply was completed (" +
                     std::to_string(unfinished.size()) + " bytes still arriving at the end)";
  } else if (unstable > 0 && unstable == static_cast<int32_t>(replies.size())) {
    verdict.reason =
        "the scale's reply was unstable; a weighing asks again until it steadies, "
        "for 60 s at most (keep the load still and check again)";
  } else if (stableWithoutEot > 0) {
    verdict.reason = "a stable reply came, but it does not end with EOT";
  } else {
    verdict.reason =
        "no reply was stable: garbled replies (wrong speed or settings, or "
        "another kind of scale)";
  }
  return verdict;
}

int CheckPortAndScale(const Text& portName, const WaitLimits& limits, std::string* report,
                      std::string* why, Text* value) {
  *report += "2. Port " + VisibleBytes(portName.view()) +
             " at 9600 baud, 8 data bits, no parity, 1 stop bit: ";
  if (runtime::OpenPort(CHECK_PORT, portName, 9600, /*parity=*/0, /*dataBits=*/8,
                        /*stopBits=*/1.0f, /*handshake=*/0, /*inputBufferSize=*/1024,
                        /*outputBufferSize=*/1024) == 0) {
    *report += "cannot be opened.\n";
    ExplainOpenFailure(portName, report);
    *report += "3. Scale: not asked.\n";
    *why = FailureWords(runtime::LastPortOpenError());
    return CHECK_PORT_NOT_OPENED;
  }
  *report += "opened.\n";
  const AnswerVerdict verdict = ListenToScale(limits, report);
  runtime::ClosePort(CHECK_PORT);
  *why = verdict.reason;
  *value = verdict.value;
  return verdict.status;
}

}  // namespace station
