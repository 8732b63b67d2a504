// The file steps of the dry run: the verdicts a weighing acts on, in words.
#include "station/check_files.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "runtime/diagnosis.h"
#include "runtime/serial_port.h"
#include "station/check_port.h"
#include "station/visible_text.h"

namespace station {

using runtime::Text;

namespace {

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

// it is not sticky: they can then put links and files where a weighing
// reads and writes. The weighing itself goes on as before.
void WarnAboutOpenFolder(runtime::FolderHandle folder, const char* path, const std::string& name,
                         std::string* report) {
  runtime::PathOwner access;
  if (!runtime::QueryEntryOwnerIn(folder, ".", &access)) return;
  if ((access.mode & 022) == 0 || (access.mode & 01000) != 0) return;
  char mode[8];
  std::snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(access.mode));
  *report +=
      "   " + name + ": users other than its owner " + access.name + " may write it (mode " + mode +
      "),\n   and it is not sticky: they can put links and files where a weighing reads\n"
      "   and writes. Let only the station's user write it (chmod go-w " +
      path + ", and chown it\n   to that user), or give each station user a folder of its own.\n";
}

// A name a weighing uses, and what another user who owns it can do
// whatever its mode says, since an owner may change the mode.
struct StationName {
  bool inHandoff;     // an entry of raspuns, not of the station folder
  const char* entry;  // the entry of that folder; "." for the folder itself
  const char* shown;  // as the report names it
  const char* power;  // what its owner can do, after "who"
};

const StationName kStationNames[] = {
    {false, ".", "This folder", "can delete, replace or add any file in it"},
    {false, CONFIG_FILE_NAME, CONFIG_FILE_NAME, "can change which port a weighing uses"},
    {false, "log.txt", "log.txt", "can rewrite the log"},
    {false, "raspuns", "raspuns", "can delete or replace values before they are taken"},
    {true, "cant.txt", "raspuns\\cant.txt", "can change the value waiting there"},
};

// How a link of another user is reported.
constexpr char kForeignLink[] = "is a link that another user made (neither this user nor root)";

// Why a file is left alone, in words for the line that names it.
std::string Why(Refusal why) { return RefusalWords(why); }

}  // namespace

ConfigStep ReportConfiguration(const ConfigVerdict& verdict, std::string* report) {
  ConfigStep step;
  *report += "1. Kavrin.inf: ";
  using Action = ConfigVerdict::Action;
  if (verdict.why == Refusal::kOthersLink) {
    *report +=
        "is a link that another user made (neither this user nor root):\n"
        "   a weighing takes no port name from it, and this check does not read it.\n";
    step.why = "Kavrin.inf is another user's link";
    return step;
  }
  if (verdict.why == Refusal::kSecondName && verdict.size > 1) {
    *report += "has " + std::to_string(verdict.names) +
               " names (hard links) in a folder that other users may write: the\n"
               "   second name may be another user's way to a file only this user may read,\n"
               "   so neither a weighing nor this check reads it. Put a file of its own in\n"
               "   its place (copy it, delete it, and give the copy its name).\n";
    step.why = "Kavrin.inf has more than one name and was not read";
    return step;
  }
  if (verdict.why == Refusal::kFolder) {
    *report +=
        "is a folder. A weighing cannot read a port name from it and hands over an "
        "empty value.\n";
    return step;
  }
  if (verdict.action == Action::kCreate || verdict.size == 0 || verdict.size == 1) {
    *report += verdict.size < 0
                   ? "missing."
                   : "holds " + std::to_string(verdict.size) + " byte(s), as good as missing.";
    if (verdict.action == Action::kCreate) {
      *report += " A weighing would write COM1 into it and hand over an empty value;\n";
    } else {
      *report += "\n   But it " + Why(verdict.why) +
                 ": a weighing does not write COM1 into it, and hands over an empty value;\n";
    }
    *report += "   put the scale's port on its first line (see weigh --list-ports).\n";
    return step;
  }
  if (verdict.action == Action::kRefuse && verdict.why != Refusal::kCannotRead) {
    *report += Why(verdict.why) + ": a weighing takes no port name from it and hands over\n" +
               "   an empty value. Put a file holding the scale's port in its place.\n";
    step.why = "Kavrin.inf cannot be used: " + Why(verdict.why);
    return step;
  }
  *report += "present, " + std::to_string(verdict.size) + " bytes.\n";
  if (verdict.action != Action::kRead) {
    *report += "   It cannot be read, so a weighing would get no port name from it.\n";
    return step;
  }
  *report += EncodingWords(verdict.line.encoding);
  if (verdict.line.notAscii) {
    *report +=
        "   Its first line holds letters outside ASCII, which no port name has: a weighing\n"
        "   hands over an empty value. Write the port's name (COM3, say) on the first line.\n";
    return step;
  }
  step.portName = verdict.line.name;
  *report += "   First line: " + Quoted(step.portName) + "\n";
  if (step.portName.empty()) {
    *report += "   It names no port: put the scale's port on the first line.\n";
    return step;
  }
  *report += "   Device: " + VisibleBytes(runtime::DevicePathOfPort(step.portName.c_str())) + "\n";
  step.usable = true;
  return step;
}

FileVerdicts JudgeFiles(const RunFolders& folders) {
  FileVerdicts verdicts;
  verdicts.log = JudgeLog(folders);
  verdicts.handoffFolder = JudgeHandoffFolder(folders);
  verdicts.handoff = JudgeHandoff(folders, verdicts.handoffFolder);
  return verdicts;
}

std::string ReportFiles(const RunFolders& folders, const ConfigVerdict& config,
                        const FileVerdicts& verdicts, std::string* report) {
  std::string warning;
  *report += "4. Files:\n   log.txt: ";
  const LogVerdict& log = verdicts.log;
  switch (log.action) {
    case LogVerdict::Action::kAppend:
      *report += "exists and can be appended to.\n";
      break;
    case LogVerdict::Action::kCreate:
      *report += "missing; a weighing creates it.\n";
      break;
    case LogVerdict::Action::kRefuse:
      switch (log.why) {
        case Refusal::kOthersLink:
          *report += std::string(kForeignLink) + ",\n   which a weighing does not write through";
          break;
        case Refusal::kNotPermitted:
          if (log.systemCode == 0) {
            *report += "missing, and this folder does not let it be created";
          } else {
            *report += "cannot be appended to";
            if (log.systemCode > 0) *report += ": " + SystemReason(log.systemCode);
          }
          break;
        default:
          *report += Why(log.why);
          break;
      }
      *report +=
          ": runs go unlogged.\n   A weighing hands its value over first, then shows "
          "\"Eroare\" with it.\n";
      warning = "runs are not logged";
      break;
  }

  *report += "   raspuns: ";
  const HandoffFolderVerdict& folder = verdicts.handoffFolder;
  switch (folder.action) {
    case HandoffFolderVerdict::Action::kHold:
      *report += "folder exists";
      if (verdicts.handoff.why == Refusal::kNotPermitted) {
        *report += ", but no file can be created in it: no value can be handed over";
      }
      *report += ".\n";
      break;
    case HandoffFolderVerdict::Action::kMake:
      *report += "missing; a weighing creates it.\n";
      break;
    case HandoffFolderVerdict::Action::kRefuse:
      switch (folder.why) {
        case Refusal::kOthersFolder:
          *report += "is a folder that another user made (neither this user nor root)";
          break;
        case Refusal::kOthersLink:
        case Refusal::kThroughOthersLink:
          *report += "is a link that another user made, or leads through one";
          break;
        case Refusal::kNotAFolder:
          *report += "is a file, not a folder";
          break;
        case Refusal::kNotPermitted:
          *report += "missing, and this folder does not let it be created";
          break;
        default:
          *report += Why(folder.why);
          break;
      }
      *report += ": no value can be handed over.\n";
      break;
  }
  if (verdicts.handoff.action == HandoffVerdict::Action::kRefuse) {
    warning = "no value can be handed over";
  }

  *report += "   raspuns\\cant.txt: ";
  const HandoffVerdict& handoff = verdicts.handoff;
  if (folder.action == HandoffFolderVerdict::Action::kRefuse) {
    *report += "not looked into (see raspuns).\n";
  } else if (handoff.action == HandoffVerdict::Action::kHandOver) {
    *report += "no value waiting.\n";
  } else if (handoff.action == HandoffVerdict::Action::kConflict) {
    *report += "a value is waiting: " + Quoted(handoff.pending) +
               ".\n   The consuming program has not taken it: the next weighing would show "
               "\"Eroare\"\n   and not hand its value over.\n";
    warning = "a value is waiting in raspuns\\cant.txt";
  } else if (handoff.why != Refusal::kNotPermitted) {
    switch (handoff.why) {
      case Refusal::kLink:
        *report += "is a link, which a weighing never reads through: the\n   next weighing";
        break;
      case Refusal::kSecondName:
        *report +=
            "has a second name (a hard link), which a weighing never reads through: the\n"
            "   next weighing";
        break;
      default:
        *report += Why(handoff.why) + ": the next weighing";
        break;
    }
    *report += " would show \"Eroare\" and not hand its value over.\n";
    warning = "raspuns\\cant.txt is in the way";
  } else {
    *report += "cannot be made.\n";
  }
  WarnAboutOpenFolder(folders.station, ".", "This folder", report);
  if (folder.action == HandoffFolderVerdict::Action::kHold && folders.handoff != 0) {
    WarnAboutOpenFolder(folders.handoff, "raspuns", "raspuns", report);
  }
  *report += std::string("   In short, a weighing would ") + ConfigActionWords(config.action) +
             ", " + LogActionWords(log.action) + ", " + HandoffFolderActionWords(folder.action) +
             " and " + HandoffActionWords(handoff.action) + ".\n";
  return warning;
}

void ReportOtherUsers(const RunFolders& folders, const FileVerdicts& verdicts,
                      std::string* report) {
  // Never through a link that a weighing would not follow. A raspuns that a
  // weighing does not hold (another user's folder) is looked into as it is
  // now, without following anything.
  const Refusal why = verdicts.handoffFolder.why;
  const bool folderTrusted = why != Refusal::kOthersLink && why != Refusal::kThroughOthersLink;
  runtime::FolderHandle looked = 0;
  if (folders.handoff == 0 && folderTrusted) {
    looked = runtime::HoldFolderForLooking(folders.station, Text("raspuns"));
  }
  const runtime::FolderHandle handoff = folders.handoff != 0 ? folders.handoff : looked;
  bool told = false;
  for (const StationName& name : kStationNames) {
    if (name.inHandoff && (!folderTrusted || handoff == 0)) continue;
    const runtime::FolderHandle folder = name.inHandoff ? handoff : folders.station;
    if (std::string_view(name.entry) != "." &&
        runtime::QueryLinkTrust(folder, Text(name.entry)) != runtime::LinkTrust::kNoLink) {
      continue;
    }
    runtime::PathOwner owner;
    if (!runtime::QueryEntryOwnerIn(folder, name.entry, &owner) || !owner.otherUser) continue;
    *report += std::string("   ") + name.shown + " belongs to user " + VisibleName(owner.name) +
               ",\n   who " + name.power + ".\n";
    told = true;
  }
  // Folders that others may write: sticky ones keep others from deleting
  // what is there, not from making a name that is still missing.
  struct OpenFolder {
    bool isHandoff;
    const char* shown;
    std::vector<const char*> names;
  };
  const OpenFolder openFolders[] = {
      {false, "This folder", {CONFIG_FILE_NAME, "log.txt", "raspuns"}},
      {true, "raspuns", {"cant.txt"}}};
  for (const OpenFolder& open : openFolders) {
    if (open.isHandoff && (!folderTrusted || handoff == 0)) continue;
    const runtime::FolderHandle folder = open.isHandoff ? handoff : folders.station;
    runtime::PathOwner owner;
    if (!runtime::QueryEntryOwnerIn(folder, ".", &owner) || !owner.isDirectory || owner.otherUser ||
        (owner.mode & 01000) == 0 || (owner.mode & 022) == 0) {
      continue;
    }
    std::string missing;
    for (const char* name : open.names) {
      runtime::PathOwner there;
      if (runtime::QueryEntryOwnerIn(folder, name, &there)) continue;
      missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
    if (missing.empty()) continue;
    *report += std::string("   ") + open.shown +
               " is sticky, but other users may write it: they can make\n   " + missing +
               " before a weighing does.\n";
    told = true;
  }
  runtime::ReleaseFolder(looked);
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

}  // namespace station
