// The one place that decides what a weighing does with each station file.
#include "station/file_verdicts.h"

#include "runtime/diagnosis.h"
#include "runtime/text_file.h"

namespace station {

using runtime::Text;

namespace {

constexpr runtime::ObjectValue CONFIG_FILE = 0;

const Text kConfigEntry(CONFIG_FILE_NAME);
const Text kLogEntry("log.txt");
const Text kHandoffEntry("cant.txt");
const Text kHandoffFolderEntry("raspuns");

// What an entry of the station folder is, as an open that follows only this
// user's and root's links meets it.
enum class Entry {
  kMissing,            // nothing there (or a link of this user or root to nothing)
  kFile,               // a regular file
  kFolder,             // a folder
  kOthersLink,         // a link of another user at the name
  kThroughOthersLink,  // a link of this user or root that leads through one
  kDevice,             // a device, a pipe, a socket
  kUnreachable,        // a loop of links, too many of them
};

struct EntryFacts {
  Entry kind = Entry::kMissing;
  bool throughLink = false;
  int64_t size = -1;
  uint32_t names = 0;
};

EntryFacts InspectStationEntry(const RunFolders& folders, const Text& name) {
  const runtime::EntryFacts found =
      runtime::InspectEntry(folders.station, name, runtime::OPTION_TRUSTED_LINK);
  EntryFacts facts;
  facts.throughLink = found.through_link;
  facts.size = found.size;
  facts.names = found.links;
  switch (found.kind) {
    case runtime::EntryKind::kMissing:
      facts.kind = Entry::kMissing;
      break;
    case runtime::EntryKind::kFile:
      facts.kind = Entry::kFile;
      break;
    case runtime::EntryKind::kFolder:
      facts.kind = Entry::kFolder;
      break;
    case runtime::EntryKind::kUntrustedLink:
    case runtime::EntryKind::kTrustedLink:
      facts.kind = runtime::QueryLinkTrust(folders.station, name) == runtime::LinkTrust::kUntrusted
                       ? Entry::kOthersLink
                       : Entry::kThroughOthersLink;
      break;
    case runtime::EntryKind::kCharacterDevice:
    case runtime::EntryKind::kFifo:
    case runtime::EntryKind::kOther:
      facts.kind = Entry::kDevice;
      break;
    case runtime::EntryKind::kUnreachable:
      facts.kind = Entry::kUnreachable;
      break;
  }
  return facts;
}

// Whether users other than this one and root may make names in the station
// folder: its owner, and the write bits of group and others. Where the
// system keeps no such bits (Windows, whose access lists may let anyone make
// a name, and which asks no write access of a hard link's maker), it is
// taken that they may.
bool OthersMayMakeNames(const RunFolders& folders) {
  runtime::PathOwner owner;
  if (!runtime::QueryEntryOwnerIn(folders.station, ".", &owner) || owner.mode == 0) return true;
  return owner.otherUser || (owner.mode & 022) != 0;
}

Refusal RefusalOfKind(Entry kind) {
  switch (kind) {
    case Entry::kFolder:
      return Refusal::kFolder;
    case Entry::kOthersLink:
      return Refusal::kOthersLink;
    case Entry::kThroughOthersLink:
      return Refusal::kThroughOthersLink;
    case Entry::kUnreachable:
      return Refusal::kUnreachable;
    case Entry::kDevice:
      return Refusal::kNotAFile;
    case Entry::kMissing:
    case Entry::kFile:
      break;
  }
  return Refusal::kNone;
}

}  // namespace

ConfigVerdict JudgeConfiguration(const RunFolders& folders) {
  ConfigVerdict verdict;
  const EntryFacts facts = InspectStationEntry(folders, kConfigEntry);
  verdict.size = facts.size;
  verdict.names = facts.names;
  if (facts.kind == Entry::kMissing) {
    // A link to nothing would have the file made where it points.
    verdict.action =
        facts.throughLink ? ConfigVerdict::Action::kRefuse : ConfigVerdict::Action::kCreate;
    verdict.why = facts.throughLink ? Refusal::kLink : Refusal::kNone;
    return verdict;
  }
  if (facts.kind != Entry::kFile) {
    verdict.why = RefusalOfKind(facts.kind);
    return verdict;
  }
  if (facts.size <= 1) {
    // As good as missing: rewritten with COM1, but never through a link
    // (one to a small file would have that file overwritten) nor into a
    // file with another name too.
    if (facts.throughLink) {
      verdict.why = Refusal::kLink;
    } else if (facts.names > 1) {
      verdict.why = Refusal::kSecondName;
    } else {
      verdict.action = ConfigVerdict::Action::kCreate;
    }
    return verdict;
  }
  const bool secondNameRefused = OthersMayMakeNames(folders);
  if (facts.names > 1 && secondNameRefused) {
    verdict.why = Refusal::kSecondName;
    return verdict;
  }
  // Judged again on the open file itself: a second name made after the look
  // above is refused there.
  int32_t options = CONFIG_READ_OPTIONS;
  if (secondNameRefused) options |= runtime::OPTION_ONE_NAME;
  if (runtime::OpenForReading(CONFIG_FILE, folders.station, kConfigEntry, options) == 0) {
    verdict.why = Refusal::kCannotRead;
    return verdict;
  }
  verdict.line = ReadPortName(CONFIG_FILE);
  runtime::CloseTextFile(CONFIG_FILE);
  verdict.action = ConfigVerdict::Action::kRead;
  return verdict;
}

LogVerdict JudgeLog(const RunFolders& folders) {
  LogVerdict verdict;
  const EntryFacts facts = InspectStationEntry(folders, kLogEntry);
  if (facts.kind == Entry::kMissing) {
    if (runtime::ProbeCreateInFolder(folders.station) == runtime::CreateAccess::kRefused) {
      verdict.why = Refusal::kNotPermitted;
    } else {
      verdict.action = LogVerdict::Action::kCreate;
    }
    return verdict;
  }
  if (facts.kind != Entry::kFile) {
    verdict.why = RefusalOfKind(facts.kind);
    return verdict;
  }
  if (facts.names > 1) {
    verdict.why = Refusal::kSecondName;
    return verdict;
  }
  // The record stage's own open, tried and closed: it opens nothing but
  // the regular file with one name that it judged, whatever is swapped in
  // under the name meanwhile.
  const int32_t code = runtime::ProbeForUpdate(folders.station, kLogEntry, LOG_OPEN_OPTIONS);
  if (code != 0) {
    verdict.why = Refusal::kNotPermitted;
    verdict.systemCode = code;
    return verdict;
  }
  verdict.action = LogVerdict::Action::kAppend;
  return verdict;
}

HandoffFolderVerdict JudgeHandoffFolder(const RunFolders& folders) {
  HandoffFolderVerdict verdict;
  switch (folders.handoffOutcome) {
    case runtime::FolderOutcome::kHeld:
      verdict.action = HandoffFolderVerdict::Action::kHold;
      return verdict;
    case runtime::FolderOutcome::kMissing:
      if (runtime::QueryLinkTrust(folders.station, kHandoffFolderEntry) !=
          runtime::LinkTrust::kNoLink) {
        // A link to nothing: the folder would be made where it points.
        verdict.why = Refusal::kLink;
      } else if (runtime::ProbeCreateInFolder(folders.station) == runtime::CreateAccess::kRefused) {
        verdict.why = Refusal::kNotPermitted;
      } else {
        verdict.action = HandoffFolderVerdict::Action::kMake;
      }
      return verdict;
    case runtime::FolderOutcome::kUntrusted:
      switch (runtime::QueryLinkTrust(folders.station, kHandoffFolderEntry)) {
        case runtime::LinkTrust::kNoLink:
          verdict.why = Refusal::kOthersFolder;
          break;
        case runtime::LinkTrust::kUntrusted:
          verdict.why = Refusal::kOthersLink;
          break;
        case runtime::LinkTrust::kTrusted:
          verdict.why = Refusal::kThroughOthersLink;
          break;
      }
      return verdict;
    case runtime::FolderOutcome::kFailed:
      break;
  }
  const runtime::PathKind kind = runtime::QueryEntryKind(folders.station, Text("raspuns"));
  const bool link =
      runtime::QueryLinkTrust(folders.station, kHandoffFolderEntry) != runtime::LinkTrust::kNoLink;
  verdict.why = kind == runtime::PathKind::kDirectory         ? Refusal::kNotPermitted
                : kind == runtime::PathKind::kNothing || link ? Refusal::kUnreachable
                                                              : Refusal::kNotAFolder;
  return verdict;
}

HandoffVerdict JudgeHandoff(const RunFolders& folders, const HandoffFolderVerdict& folder) {
  HandoffVerdict verdict;
  switch (folder.action) {
    case HandoffFolderVerdict::Action::kRefuse:
      return verdict;
    case HandoffFolderVerdict::Action::kMake:
      verdict.action = HandoffVerdict::Action::kHandOver;
      return verdict;
    case HandoffFolderVerdict::Action::kHold:
      break;
  }
  // Never through a link: what it leads to is nobody's waiting value.
  const runtime::EntryFacts found =
      runtime::InspectEntry(folders.handoff, kHandoffEntry, runtime::OPTION_NO_LINK);
  switch (found.kind) {
    case runtime::EntryKind::kMissing:
      if (runtime::ProbeCreateInFolder(folders.handoff) == runtime::CreateAccess::kRefused) {
        verdict.why = Refusal::kNotPermitted;
      } else {
        verdict.action = HandoffVerdict::Action::kHandOver;
      }
      return verdict;
    case runtime::EntryKind::kFolder:
      verdict.why = Refusal::kFolder;
      return verdict;
    case runtime::EntryKind::kTrustedLink:
    case runtime::EntryKind::kUntrustedLink:
      verdict.why = Refusal::kLink;
      return verdict;
    case runtime::EntryKind::kCharacterDevice:
    case runtime::EntryKind::kFifo:
    case runtime::EntryKind::kOther:
      verdict.why = Refusal::kNotAFile;
      return verdict;
    case runtime::EntryKind::kUnreachable:
      verdict.why = Refusal::kUnreachable;
      return verdict;
    case runtime::EntryKind::kFile:
      break;
  }
  // A second name may be that of any file: never read either.
  if (found.links > 1) {
    verdict.why = Refusal::kSecondName;
    return verdict;
  }
  if (ReadPendingQuantity(folders, &verdict.pending)) {
    verdict.action = HandoffVerdict::Action::kConflict;
    return verdict;
  }
  verdict.why = Refusal::kCannotRead;
  return verdict;
}

const char* ConfigActionWords(ConfigVerdict::Action action) {
  switch (action) {
    case ConfigVerdict::Action::kRead:
      return "read the port name from Kavrin.inf";
    case ConfigVerdict::Action::kCreate:
      return "write COM1 into Kavrin.inf";
    case ConfigVerdict::Action::kRefuse:
      break;
  }
  return "leave Kavrin.inf alone";
}

const char* LogActionWords(LogVerdict::Action action) {
  switch (action) {
    case LogVerdict::Action::kAppend:
      return "append its line to log.txt";
    case LogVerdict::Action::kCreate:
      return "create log.txt";
    case LogVerdict::Action::kRefuse:
      break;
  }
  return "lose its log line";
}

const char* HandoffFolderActionWords(HandoffFolderVerdict::Action action) {
  switch (action) {
    case HandoffFolderVerdict::Action::kHold:
      return "use raspuns";
    case HandoffFolderVerdict::Action::kMake:
      return "make raspuns";
    case HandoffFolderVerdict::Action::kRefuse:
      break;
  }
  return "not use raspuns";
}

const char* HandoffActionWords(HandoffVerdict::Action action) {
  switch (action) {
    case HandoffVerdict::Action::kHandOver:
      return "hand its value over";
    case HandoffVerdict::Action::kConflict:
      return "show the waiting value";
    case HandoffVerdict::Action::kRefuse:
      break;
  }
  return "say the value cannot be written";
}

const char* RefusalWords(Refusal why) {
  switch (why) {
    case Refusal::kOthersLink:
      return "is a link that another user made (neither this user nor root)";
    case Refusal::kThroughOthersLink:
      return "is a link that leads through a link or to a folder of another user";
    case Refusal::kOthersFolder:
      return "is a folder that another user made (neither this user nor root)";
    case Refusal::kSecondName:
      return "has a second name (a hard link)";
    case Refusal::kFolder:
      return "is a folder";
    case Refusal::kNotAFile:
      return "is a device, a pipe or a socket, not a file";
    case Refusal::kNotAFolder:
      return "is a file, not a folder";
    case Refusal::kLink:
      return "is a link, which is never written or read through";
    case Refusal::kUnreachable:
      return "is a link whose way is broken (a loop, or too many links)";
    case Refusal::kNotPermitted:
      return "may not be written there by this user";
    case Refusal::kCannotRead:
      return "cannot be read";
    case Refusal::kNone:
      break;
  }
  return "";
}

}  // namespace station
