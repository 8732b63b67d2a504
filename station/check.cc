// The dry run behind --check. It follows a weighing's own steps with the
// same functions where they change nothing, and replaces the ones that
// would change something by questions to the system.
#include "station/check.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "runtime/diagnosis.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text_file.h"
#include "station/check_planted.h"
#include "station/options.h"
#include "station/scale_reply.h"
#include "station/station.h"
#include "station/version.h"

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

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                       "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                       "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                       "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

std::string Quoted(const Text& text) {
  std::string quoted = "\"";
  quoted += VisibleBytes(text.view());
  quoted += '"';
  return quoted;
}

std::string SystemReason(int32_t code) {
  return runtime::SystemErrorText(code) + " (system code " + std::to_string(code) + ")";
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

// What the first step found out about the configuration.
struct ConfigStep {
  bool usable = false;
  Text portName;
  // Why it is not usable, when the verdict needs more than the usual words.
  std::string why;
};

// Whether this check may read Kavrin.inf and show its first line. Another
// user's link, or a file with a second name (a hard link that another user
// may have made to a file only this user can read), would make the check
// show what some other file holds.
bool ConfigurationMayBeShown(ConfigStep* step, std::string* report) {
  if (runtime::QueryLinkTrust(Text(CONFIG_FILE_NAME)) == runtime::LinkTrust::kUntrusted) {
    *report +=
        "1. Kavrin.inf: is a link that another user made (neither this user nor root):\n"
        "   a weighing takes no port name from it, and this check does not read it.\n";
    step->why = "Kavrin.inf is another user's link";
    return false;
  }
  runtime::PathOwner owner;
  if (runtime::QueryPathOwner(CONFIG_FILE_NAME, &owner) && !owner.isDirectory && owner.links > 1) {
    *report += "1. Kavrin.inf: has " + std::to_string(owner.links) +
               " names (hard links): it may be another file under a second\n"
               "   name, so this check does not show what it holds. Put a file of its own in\n"
               "   its place (copy it, delete it, and give the copy its name).\n";
    step->why = "Kavrin.inf has more than one name and was not read";
    return false;
  }
  return true;
}

// A line on how Kavrin.inf was saved, in Notepad's words; nothing for
// plain bytes.
std::string EncodingWords(ConfigEncoding encoding) {
  switch (encoding) {
    case ConfigEncoding::kUtf8WithMark:
      return "   Saved as UTF-8 with a byte order mark (Notepad's \"UTF-8\"): read after the "
             "mark.\n";
    case ConfigEncoding::kUtf16LittleEndian:
      return "   Saved as UTF-16 (Notepad's \"Unicode\"): read as such.\n";
    case ConfigEncoding::kUtf16BigEndian:
      return "   Saved as UTF-16 big-endian (Notepad's \"Unicode big endian\"): read as such.\n";
    case ConfigEncoding::kPlainBytes:
      break;
  }
  return "";
}

ConfigStep CheckConfiguration(std::string* report) {
  ConfigStep step;
  if (!ConfigurationMayBeShown(&step, report)) return step;
  const Text name(CONFIG_FILE_NAME);
  const int64_t size = runtime::QueryFileSize(name);
  *report += "1. Kavrin.inf: ";
  if (size == -2) {
    *report +=
        "is a folder. A weighing cannot read a port name from it and hands over an "
        "empty value.\n";
    return step;
  }
  if (size <= 1) {
    *report +=
        size < 0 ? "missing." : "holds " + std::to_string(size) + " byte(s), as good as missing.";
    *report +=
        " A weighing would write COM1 into it and hand over an empty value;\n"
        "   put the scale's port on its first line (see weigh --list-ports).\n";
    return step;
  }
  *report += "present, " + std::to_string(size) + " bytes.\n";
  // Opened and read as a weighing does.
  const runtime::ObjectValue file =
      runtime::OpenForReading(runtime::AUTO_NUMBER, name, CONFIG_READ_OPTIONS);
  if (file == 0) {
    *report += "   It cannot be read, so a weighing would get no port name from it.\n";
    return step;
  }
  const PortNameLine line = ReadPortName(file);
  runtime::CloseTextFile(file);
  *report += EncodingWords(line.encoding);
  if (line.notAscii) {
    *report +=
        "   Its first line holds letters outside ASCII, which no port name has: a weighing\n"
        "   hands over an empty value. Write the port's name (COM3, say) on the first line.\n";
    return step;
  }
  step.portName = line.name;
  *report += "   First line: " + Quoted(step.portName) + "\n";
  if (step.portName.empty()) {
    *report += "   It names no port: put the scale's port on the first line.\n";
    return step;
  }
  *report += "   Device: " + VisibleBytes(runtime::DevicePathOfPort(step.portName.c_str())) + "\n";
  step.usable = true;
  return step;
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

// How a link of another user is reported.
constexpr char kForeignLink[] = "is a link that another user made (neither this user nor root)";

// Says so when users other than its owner can write the folder `path` and
// it is not sticky: they can then put links and files where a weighing
// reads and writes. The weighing itself goes on as before.
void WarnAboutOpenFolder(const char* path, const std::string& name, std::string* report) {
  runtime::DeviceAccess access;
  if (!runtime::DescribeDeviceAccess(path, &access)) return;
  if ((access.mode & 022) == 0 || (access.mode & 01000) != 0) return;
  char mode[8];
  std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(access.mode));
  *report += "   " + name + ": users other than its owner " + access.owner +
             " may write it (mode " + mode +
             "),\n   and it is not sticky: they can put links and files where a weighing reads\n"
             "   and writes. Let only the station's user write it (chmod go-w " +
             path +
             ", and chown it\n   to that user), or give each station user a folder of its own.\n";
}

// The files a weighing touches, examined without changing them. Returns a
// warning for the verdict, or the empty string.
std::string CheckFiles(std::string* report) {
  std::string warning;
  *report += "4. Files:\n   log.txt: ";
  int32_t code = 0;
  if (runtime::QueryLinkTrust(Text("log.txt")) == runtime::LinkTrust::kUntrusted) {
    *report += std::string(kForeignLink) +
               ": a weighing\n   does not write through it and shows \"Eroare\" with its "
               "value instead. Runs go unlogged.\n";
    warning = "runs are not logged";
  } else {
    switch (runtime::ProbeAppend("log.txt", &code)) {
      case runtime::AppendAccess::kAllowed:
        *report += "exists and can be appended to.\n";
        break;
      case runtime::AppendAccess::kMissing:
        *report += runtime::ProbeCreateIn(".") == runtime::CreateAccess::kRefused
                       ? "missing, and this folder does not let it be created: runs go unlogged.\n"
                       : "missing; a weighing creates it.\n";
        break;
      case runtime::AppendAccess::kDirectory:
        *report += "is a folder: runs go unlogged.\n";
        warning = "runs are not logged";
        break;
      case runtime::AppendAccess::kRefused:
        *report += "cannot be appended to: " + SystemReason(code) + ". Runs go unlogged.\n";
        warning = "runs are not logged";
        break;
    }
  }

  *report += "   raspuns: ";
  // Held the way a weighing holds it, so that the verdict is the weighing's:
  // a link of another user anywhere on the way, or a folder that another
  // user made, is refused there.
  RunFolders held;
  HoldRunFolders(&held);
  const bool folderTrusted = held.handoffOutcome != runtime::FolderOutcome::kUntrusted;
  const int64_t folder = runtime::QueryFileSize(Text("raspuns"));
  bool handoffPossible = true;
  if (!folderTrusted) {
    *report += runtime::QueryLinkTrust(Text("raspuns")) == runtime::LinkTrust::kNoLink
                   ? "is a folder that another user made (neither this user nor root)"
                   : "is a link that another user made, or leads through one";
    *report +=
        ": a weighing\n   neither reads nor writes through it, so no value can be "
        "handed over.\n";
    handoffPossible = false;
  } else if (folder == -2) {
    *report += "folder exists";
    if (runtime::ProbeCreateIn("raspuns") == runtime::CreateAccess::kRefused) {
      *report += ", but no file can be created in it: no value can be handed over";
      handoffPossible = false;
    }
    *report += ".\n";
  } else if (folder == -1) {
    if (runtime::ProbeCreateIn(".") == runtime::CreateAccess::kRefused) {
      *report +=
          "missing, and this folder does not let it be created: no value can be handed "
          "over.\n";
      handoffPossible = false;
    } else {
      *report += "missing; a weighing creates it.\n";
    }
  } else {
    *report += "is a file, not a folder: no value can be handed over.\n";
    handoffPossible = false;
  }
  if (!handoffPossible) warning = "no value can be handed over";

  Text pending;
  *report += "   raspuns\\cant.txt: ";
  const runtime::PathKind handoff = runtime::QueryPathKind(Text("raspuns\\cant.txt"));
  if (!folderTrusted) {
    *report += "not looked into (see raspuns).\n";
  } else if (runtime::QueryLinkTrust(Text("raspuns\\cant.txt")) != runtime::LinkTrust::kNoLink) {
    // Never read: what a link leads to is nobody's waiting value.
    *report +=
        "is a link, which a weighing never reads through: the next weighing\n"
        "   would show \"Eroare\" and not hand its value over.\n";
    warning = "raspuns\\cant.txt is in the way";
  } else if (handoff == runtime::PathKind::kNothing) {
    *report += "no value waiting.\n";
  } else if (runtime::PathOwner owner; handoff == runtime::PathKind::kFile &&
                                       runtime::QueryPathOwner("raspuns/cant.txt", &owner) &&
                                       owner.links > 1) {
    // Never read either: a second name may be that of any file.
    *report +=
        "has a second name (a hard link), which a weighing never reads through: the\n"
        "   next weighing would show \"Eroare\" and not hand its value over.\n";
    warning = "raspuns\\cant.txt is in the way";
  } else if (handoff == runtime::PathKind::kFile && ReadPendingQuantity(held, &pending)) {
    *report += "a value is waiting: " + Quoted(pending) +
               ".\n   The consuming program has not taken it: the next weighing would show "
               "\"Eroare\"\n   and not hand its value over.\n";
    warning = "a value is waiting in raspuns\\cant.txt";
  } else {
    *report += handoff == runtime::PathKind::kFile        ? "exists but cannot be read"
               : handoff == runtime::PathKind::kDirectory ? "is a folder"
                                                          : "is a device";
    *report += ": the next weighing would show \"Eroare\" and not hand its value over.\n";
    warning = "raspuns\\cant.txt is in the way";
  }
  ReleaseRunFolders(&held);
  WarnAboutOpenFolder(".", "This folder", report);
  if (folderTrusted && folder == -2) WarnAboutOpenFolder("raspuns", "raspuns", report);
  return warning;
}

// A name a weighing uses, and what another user who owns it can do
// whatever its mode says, since an owner may change the mode.
struct StationName {
  const char* path;   // as the system takes it
  const char* shown;  // as the report names it
  const char* power;  // what its owner can do, after "who"
};

const StationName kStationNames[] = {
    {".", "This folder", "can delete, replace or add any file in it"},
    {CONFIG_FILE_NAME, CONFIG_FILE_NAME, "can change which port a weighing uses"},
    {"log.txt", "log.txt", "can rewrite the log"},
    {"raspuns", "raspuns", "can delete or replace values before they are taken"},
    {"raspuns/cant.txt", "raspuns\\cant.txt", "can change the value waiting there"},
};

// Names the station's files and folders that belong to a user other than
// this one or root, and says what that user can do with them; in a folder
// that others may write though it is sticky, says which names they can take
// first. Links of another user are told about with the files themselves.
// Nothing here changes what a weighing does.
void ReportOtherUsers(std::string* report) {
  const bool folderTrusted =
      runtime::QueryLinkTrust(Text("raspuns")) != runtime::LinkTrust::kUntrusted;
  bool told = false;
  for (const StationName& name : kStationNames) {
    const std::string_view path(name.path);
    if (path.substr(0, 8) == "raspuns/" && !folderTrusted) continue;
    if (path != "." && runtime::QueryLinkTrust(Text(name.path)) != runtime::LinkTrust::kNoLink) {
      continue;
    }
    runtime::PathOwner owner;
    if (!runtime::QueryPathOwner(name.path, &owner) || !owner.otherUser) continue;
    *report += std::string("   ") + name.shown + " belongs to user " + VisibleName(owner.name) +
               ",\n   who " + name.power + ".\n";
    told = true;
  }
  // Folders that others may write: sticky ones keep others from deleting
  // what is there, not from making a name that is still missing.
  struct OpenFolder {
    const char* path;
    const char* shown;
    std::vector<const char*> names;
  };
  const OpenFolder folders[] = {{".", "This folder", {CONFIG_FILE_NAME, "log.txt", "raspuns"}},
                                {"raspuns", "raspuns", {"raspuns/cant.txt"}}};
  for (const OpenFolder& folder : folders) {
    if (folder.path == std::string_view("raspuns") && !folderTrusted) continue;
    runtime::PathOwner owner;
    if (!runtime::QueryPathOwner(folder.path, &owner) || !owner.isDirectory || owner.otherUser ||
        (owner.mode & 01000) == 0 || (owner.mode & 022) == 0) {
      continue;
    }
    std::string missing;
    for (const char* name : folder.names) {
      runtime::PathOwner there;
      if (runtime::QueryPathOwner(name, &there)) continue;
      const std::string_view path(name);
      const std::string_view last = path.substr(path.rfind('/') + 1);
      missing += (missing.empty() ? "" : ", ") + std::string(last);
    }
    if (missing.empty()) continue;
    *report += std::string("   ") + folder.shown +
               " is sticky, but other users may write it: they can make\n   " + missing +
               " before a weighing does.\n";
    told = true;
  }
  if (told) {
    *report +=
        "   A weighing still goes on. Let only the station's user and administrators own\n"
        "   and write these.\n";
  }
  switch (runtime::QueryProgramFolderWriters()) {
    case runtime::ProgramFolderWriters::kOrdinaryUsers:
      *report +=
          "   The folder holding this program lets ordinary users add files: a program or\n"
          "   DLL put there runs for whoever starts programs from it. Let only\n"
          "   administrators write it.\n";
      break;
    case runtime::ProgramFolderWriters::kAdministrators:
      *report += "   The folder holding this program does not let ordinary users add files.\n";
      break;
    case runtime::ProgramFolderWriters::kCannotTell:
      *report += "   Whether ordinary users may add files to this program's folder: cannot tell.\n";
      break;
    case runtime::ProgramFolderWriters::kNotAsked:
      break;
  }
}

const char* const kStatusWords[] = {"a stable weight was read",
                                    "",
                                    "",
                                    "no configuration",
                                    "the port cannot be opened",
                                    "no answer from the scale",
                                    "no stable answer",
                                    "the value would be empty"};

}  // namespace

std::string VisibleBytes(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value < 32) {
      text += '<';
      text += kControlNames[value];
      text += '>';
    } else if (value == 0x7F) {
      text += "<DEL>";
    } else if (value > 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "<0x%02X>", value);
      text += hex;
    } else {
      text += byte;
    }
  }
  return text;
}

std::string VisibleName(std::string_view bytes) {
  std::string text;
  size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    // The length of a well-formed sequence starting here and its smallest
    // code point, so that overlong forms and surrogates count as malformed.
    size_t length = 0;
    uint32_t code = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, least = 0x10000;
    }
    bool wellFormed = length > 0 && at + length <= bytes.size();
    for (size_t i = 1; wellFormed && i < length; ++i) {
      const auto next = static_cast<unsigned char>(bytes[at + i]);
      wellFormed = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    wellFormed =
        wellFormed && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (wellFormed && code >= 0xA0) {
      text.append(bytes.substr(at, length));
      at += length;
    } else if (lead >= 0x20 && lead < 0x7F) {
      text += static_cast<char>(lead);
      ++at;
    } else {
      // A control character or a malformed sequence: named byte by byte.
      const size_t count = wellFormed ? length : 1;
      text += VisibleBytes(bytes.substr(at, count));
      at += count;
    }
  }
  return text;
}

std::string HexBytes(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), "%02x", static_cast<unsigned char>(byte));
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

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

int RunCheck(std::string* report, const WaitLimits& limits) {
  runtime::CreateProgramHeap();
  runtime::StartFiles();
  runtime::StartPorts();
  *report = "weigh " + std::string(WEIGH_VERSION) + " --check in " +
            VisibleName(runtime::CurrentDirectory()) + "\n";
  *report += IdentificationText(runtime::Sha256OfProgramFile());

  int status = CHECK_NO_CONFIGURATION;
  std::string why;
  Text value;
  const ConfigStep config = CheckConfiguration(report);
  if (!config.usable) {
    *report += "2. Port: not tried.\n3. Scale: not asked.\n";
    why = config.why.empty() ? "a weighing would get no port name from Kavrin.inf" : config.why;
  } else {
    *report += "2. Port " + VisibleBytes(config.portName.view()) +
               " at 9600 baud, 8 data bits, no parity, 1 stop bit: ";
    if (runtime::OpenPort(CHECK_PORT, config.portName, 9600, /*parity=*/0, /*dataBits=*/8,
                          /*stopBits=*/1.0f, /*handshake=*/0, /*inputBufferSize=*/1024,
                          /*outputBufferSize=*/1024) == 0) {
      *report += "cannot be opened.\n";
      ExplainOpenFailure(config.portName, report);
      *report += "3. Scale: not asked.\n";
      status = CHECK_PORT_NOT_OPENED;
      why = FailureWords(runtime::LastPortOpenError());
    } else {
      *report += "opened.\n";
      const AnswerVerdict verdict = ListenToScale(limits, report);
      runtime::ClosePort(CHECK_PORT);
      status = verdict.status;
      why = verdict.reason;
      value = verdict.value;
    }
  }
  const std::string warning = CheckFiles(report);
  ReportOtherUsers(report);
  ReportPlantedFiles(report);

  *report += "Verdict: ";
  if (status == CHECK_STABLE_WEIGHT) {
    *report += "OK, a stable weight was read: " + Quoted(value);
    if (!warning.empty()) *report += "; but " + warning;
  } else {
    *report += std::string(kStatusWords[status]) + ": " + why;
    if (!warning.empty()) *report += "; also " + warning;
  }
  *report += " (exit status " + std::to_string(status) + ").\n";

  runtime::CloseAllPorts();
  runtime::CloseAllFiles();
  runtime::DestroyProgramHeap();
  return status;
}

}  // namespace station
