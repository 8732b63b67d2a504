// scale-sim: a simulated weighing scale on a serial line, for trying the
// station program without a scale and for driving its tests and demo.
// Linux and Windows. Run with --help for the script language.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform/clock.h"
#include "runtime/platform/device_end.h"

namespace {

constexpr char kUsage[] = R"(Usage: scale-sim [OPTIONS] STEP...

A simulated weighing scale on a serial line. Without --device it opens a new
pseudo-terminal (both ends raw; not on Windows) and prints the path of its
device end, the one to give the station program, as the first line of
standard output; with --device it prints that device's name there.
Each request it receives (the bytes ENQ DC1) is answered with the next STEP
of the script; once the script is used up, the last STEP answers every
further request. Everything received and sent is traced in hex on standard
error. It serves until it is killed, or with --exit until the script is done.

Options:
  --device PATH  serve this serial device instead of a new pseudo-terminal
                 (for example one end of a socat pair linked to a Wine COM
                 port; on Windows a port such as COM6, one end of a
                 null-modem pair); it is set to 9600 baud, 8 data bits, no
                 parity, raw, and bytes that were waiting on it are dropped
  --stream MS    send the next STEP every MS milliseconds without waiting
                 for requests (requests are traced and otherwise ignored)
  --exit         exit with status 0 once every STEP has been sent and the
                 other end has read it (at most 5 s after the last byte)
  --quiet        no trace on standard error
  --help         this text

A STEP is one or more PIECEs joined with '+', sent as one reply, then any
number of modifiers, each starting with '/':
  stable:W       a stable reading of the weight text W, for example 12.50:
                 SOH STX 'S' W (right-aligned in 7 characters with spaces)
                 'k' 'g' CHECK ETX EOT, where CHECK is 0x40 plus the XOR of
                 the bytes from 'S' to 'g' modulo 64 (never a control byte)
  unstable:W     the same with the status 'U'
  raw:HEX        these bytes, for example raw:0102530304
  garbage:N      N pseudo-random bytes, none of them NUL, STX, ETX or EOT
  nul:N          N zero bytes
  spaces:N       N spaces
  silence        nothing: the request goes unanswered
Modifiers:
  /chunk=N       send the reply in pieces of N bytes
  /gap=MS        pause MS milliseconds between pieces (default 10; the
                 station program polls every 25 ms, so a gap of 30 or more
                 splits the reply in two messages)
  /delay=MS      wait MS milliseconds before the first byte (default 0)

Examples:
  scale-sim stable:12.50                     always answers 12.50 kg
  scale-sim unstable:12.40 unstable:12.48 stable:12.50
  scale-sim stable:7.25/chunk=3/gap=5        each reply in pieces of 3 bytes
  scale-sim garbage:1500+stable:12.50        a burst larger than 1024 bytes
  scale-sim silence                          a scale that never answers
  scale-sim --stream 100 unstable:1.00       streams readings, no requests
  scale-sim --exit unstable:3.10 stable:3.10 serves one weighing, then exits
)";

namespace platform = runtime::platform;

// Milliseconds on the platform's monotonic clock.
using Millis = int64_t;
Millis Now() { return platform::MonotonicMilliseconds(); }

constexpr char SOH = 0x01, STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, DC1 = 0x11;

// One answer: its bytes and how they go out.
struct Step {
  std::string bytes;
  std::size_t chunk = 0;  // 0: in one piece
  int gapMs = 10;
  int delayMs = 0;
};

struct Options {
  std::string device;
  int streamMs = 0;
  bool exitWhenDone = false;
  bool quiet = false;
  std::vector<Step> steps;
};

const Millis started = Now();
bool quiet = false;

void Trace(const char* what, std::string_view bytes = {}) {
  if (quiet) return;
  double seconds = static_cast<double>(Now() - started) / 1000;
  std::string line;
  char head[64];
  std::snprintf(head, sizeof(head), "scale-sim %9.3f %s", seconds, what);
  line = head;
  for (unsigned char byte : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), " %02x", byte);
    line += hex;
  }
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "scale-sim: %s\n", message.c_str());
  std::exit(1);
}

[[noreturn]] void BadUsage(const std::string& message) {
  std::fprintf(stderr, "scale-sim: %s (see scale-sim --help)\n", message.c_str());
  std::exit(2);
}

bool ParseCount(std::string_view text, long max, long* value) {
  if (text.empty() || text.size() > 9) return false;
  long number = 0;
  for (char digit : text) {
    if (digit < '0' || digit > '9') return false;
    number = number * 10 + (digit - '0');
  }
  if (number > max) return false;
  *value = number;
  return true;
}

std::string Reading(char status, std::string_view weight) {
  std::string body(1, status);
  if (weight.size() < 7) body.append(7 - weight.size(), ' ');
  body.append(weight);
  body += "kg";
  unsigned char check = 0;
  for (unsigned char byte : body) check ^= byte;
  std::string reply{SOH, STX};
  reply += body;
  reply += static_cast<char>(0x40 | (check & 0x3F));
  reply += ETX;
  reply += EOT;
  return reply;
}

// The same garbage on every run, so that a failure can be reproduced.
std::string Garbage(long count) {
  static uint32_t state = 0x2545F491u;
  std::string bytes;
  while (static_cast<long>(bytes.size()) < count) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    char byte = static_cast<char>(state & 0xFF);
    if (byte == 0 || byte == STX || byte == ETX || byte == EOT) continue;
    bytes += byte;
  }
  return bytes;
}

std::string ParsePiece(std::string_view piece) {
  if (piece == "silence") return std::string();
  std::size_t colon = piece.find(':');
  if (colon == std::string_view::npos) BadUsage("unknown piece '" + std::string(piece) + "'");
  std::string_view kind = piece.substr(0, colon);
  std::string_view value = piece.substr(colon + 1);
  if (kind == "stable" || kind == "unstable") {
    if (value.empty()) BadUsage("no weight in '" + std::string(piece) + "'");
    return Reading(kind == "stable" ? 'S' : 'U', value);
  }
  if (kind == "raw") {
    if (value.size() % 2 != 0) BadUsage("odd number of hex digits in '" + std::string(piece) + "'");
    std::string bytes;
    for (std::size_t at = 0; at < value.size(); at += 2) {
      char pair[3] = {value[at], value[at + 1], 0};
      char* end = nullptr;
      long byte = std::strtol(pair, &end, 16);
      if (end != pair + 2) BadUsage("bad hex digits in '" + std::string(piece) + "'");
      bytes += static_cast<char>(byte);
    }
    return bytes;
  }
  long count = 0;
  if (!ParseCount(value, 1000000, &count)) BadUsage("bad count in '" + std::string(piece) + "'");
  if (kind == "garbage") return Garbage(count);
  if (kind == "nul") return std::string(static_cast<std::size_t>(count), '\0');
  if (kind == "spaces") return std::string(static_cast<std::size_t>(count), ' ');
  BadUsage("unknown piece '" + std::string(piece) + "'");
}

Step ParseStep(std::string_view text) {
  Step step;
  std::size_t slash = text.find('/');
  std::string_view pieces = text.substr(0, slash);
  while (true) {
    std::size_t plus = pieces.find('+');
    step.bytes += ParsePiece(pieces.substr(0, plus));
    if (plus == std::string_view::npos) break;
    pieces.remove_prefix(plus + 1);
  }
  while (slash != std::string_view::npos) {
    text.remove_prefix(slash + 1);
    slash = text.find('/');
    std::string_view modifier = text.substr(0, slash);
    std::size_t equals = modifier.find('=');
    long value = 0;
    if (equals == std::string_view::npos ||
        !ParseCount(modifier.substr(equals + 1), 600000, &value)) {
      BadUsage("bad modifier '" + std::string(modifier) + "'");
    }
    std::string_view name = modifier.substr(0, equals);
    if (name == "chunk" && value > 0) {
      step.chunk = static_cast<std::size_t>(value);
    } else if (name == "gap") {
      step.gapMs = static_cast<int>(value);
    } else if (name == "delay") {
      step.delayMs = static_cast<int>(value);
    } else {
      BadUsage("bad modifier '" + std::string(modifier) + "'");
    }
  }
  return step;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) BadUsage(std::string(arg) + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--device") {
      options.device = value();
    } else if (arg == "--stream") {
      long ms = 0;
      std::string_view text = value();
      if (!ParseCount(text, 600000, &ms) || ms == 0) BadUsage("bad --stream period");
      options.streamMs = static_cast<int>(ms);
    } else if (arg == "--exit") {
      options.exitWhenDone = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      BadUsage("unknown option " + std::string(arg));
    } else {
      options.steps.push_back(ParseStep(arg));
    }
  }
  if (options.steps.empty()) BadUsage("no STEP given");
  return options;
}

// The line, and the name that the first line of output gives for it.
struct Line {
  platform::DeviceEnd end = 0;
  std::string path;
};

Line OpenLine(const Options& options) {
  Line line;
  std::string why_not;
  if (!options.device.empty()) {
    line.end = platform::OpenDeviceEnd(options.device, &why_not);
    line.path = options.device;
  } else {
    line.end = platform::OpenNewTerminal(&line.path, &why_not);
  }
  if (line.end == 0) Fail(why_not);
  return line;
}

struct Pending {
  Millis due;
  std::string bytes;
};

// Puts a step's pieces on the schedule after whatever is still to go.
void Schedule(const Step& step, std::deque<Pending>* pending) {
  Millis at = Now();
  if (!pending->empty() && pending->back().due > at) at = pending->back().due;
  at += step.delayMs;
  if (step.bytes.empty()) return;
  std::size_t chunk = step.chunk > 0 ? step.chunk : step.bytes.size();
  for (std::size_t offset = 0; offset < step.bytes.size(); offset += chunk) {
    if (offset > 0) at += step.gapMs;
    pending->push_back({at, step.bytes.substr(offset, chunk)});
  }
}

void Send(platform::DeviceEnd end, const std::string& bytes) {
  // A full line (nobody reads) or a gone one: a real scale loses them too.
  const std::size_t sent = static_cast<std::size_t>(
      platform::WriteDeviceEnd(end, bytes.data(), static_cast<int32_t>(bytes.size())));
  Trace("tx", std::string_view(bytes).substr(0, sent));
  if (sent < bytes.size()) {
    Trace(("dropped " + std::to_string(bytes.size() - sent) + " bytes: line full").c_str());
  }
}

int Serve(const Options& options, const Line& line) {
  std::deque<Pending> pending;
  std::size_t next_step = 0;
  bool after_enq = false;
  Millis next_tick = Now();
  const std::size_t step_count = options.steps.size();
  auto take_step = [&]() -> const Step& {
    const Step& step = options.steps[std::min(next_step, step_count - 1)];
    ++next_step;
    return step;
  };

  while (true) {
    const Millis now = Now();
    while (!pending.empty() && pending.front().due <= now) {
      Send(line.end, pending.front().bytes);
      pending.pop_front();
    }
    if (options.streamMs > 0 && now >= next_tick &&
        !(options.exitWhenDone && next_step >= step_count)) {
      Schedule(take_step(), &pending);
      next_tick += options.streamMs;
      continue;
    }
    if (options.exitWhenDone && next_step >= step_count && pending.empty()) {
      // Lets the other end read what was sent before the line goes.
      platform::DrainDeviceEnd(line.end);
      Trace("script done");
      return 0;
    }

    Millis wake = now + 1000;
    if (!pending.empty() && pending.front().due < wake) wake = pending.front().due;
    if (options.streamMs > 0 && next_tick < wake) wake = next_tick;
    const int ready = platform::WaitForInput(line.end, static_cast<int32_t>(wake - now + 1));
    if (ready < 0) Fail("the line hung up");
    if (ready == 0) continue;
    char buffer[512];
    const int32_t got = platform::ReadDeviceEnd(line.end, buffer, sizeof(buffer));
    if (got < 0) Fail("the line hung up");
    if (got == 0) continue;
    Trace("rx", std::string_view(buffer, static_cast<std::size_t>(got)));
    for (int32_t i = 0; i < got; ++i) {
      const bool request = after_enq && buffer[i] == DC1;
      after_enq = buffer[i] == ENQ;
      if (!request || options.streamMs > 0) continue;
      if (options.exitWhenDone && next_step >= step_count) continue;
      Trace(("request: step " + std::to_string(std::min(next_step, step_count - 1) + 1)).c_str());
      Schedule(take_step(), &pending);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  quiet = options.quiet;
  Line line = OpenLine(options);
  std::printf("%s\n", line.path.c_str());
  std::fflush(stdout);
  Trace(("serving " + line.path).c_str());
  const int status = Serve(options, line);
  platform::CloseDeviceEnd(line.end);
  return status;
}
