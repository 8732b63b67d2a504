#ifndef WEIGH_STATION_FILE_VERDICTS_H_
#define WEIGH_STATION_FILE_VERDICTS_H_

// What a weighing does with each of the station's files, decided once from
// the held folders. The weighing's stages act on these verdicts and --check
// only prints them, so that the two cannot disagree. Deciding changes
// nothing: no file or folder is created, written or opened for writing, and
// only Kavrin.inf is read, as a weighing reads it.

#include <cstdint>

#include "runtime/text.h"
#include "station/scale_dialogue.h"
#include "station/station.h"

namespace station {

// Why a weighing leaves a file alone.
enum class Refusal {
  kNone,
  kOthersLink,         // a link that another user made, at the name itself
  kThroughOthersLink,  // a link of this user or root whose way passes one of
                       // another user (or ends in another user's folder)
  kOthersFolder,       // raspuns is a folder that another user made
  kSecondName,         // a file with another name too (a hard link)
  kFolder,             // a folder where a file belongs
  kNotAFile,           // a device, a pipe or a socket where a file belongs
  kNotAFolder,         // raspuns is a file, a device or a pipe
  kLink,               // a link where only the file itself is written or read
  kUnreachable,        // a loop of links, too many of them, a broken way
  kNotPermitted,       // this user may not read, write or create it there
  kCannotRead,         // it is a file, but opening it for reading failed
};

// What a weighing does with Kavrin.inf.
struct ConfigVerdict {
  enum class Action {
    kRead,    // reads the port name from its first line
    kCreate,  // writes "COM1" into it (made, or as good as missing) and
              // hands over an empty value
    kRefuse,  // neither: no port name, an empty value
  };
  Action action = Action::kRefuse;
  Refusal why = Refusal::kNone;
  // Its size in bytes for a file, -1 otherwise; its number of names.
  int64_t size = -1;
  uint32_t names = 0;
  // kRead: the first line as read.
  PortNameLine line;
};

// A Kavrin.inf with more than one name (a hard link) is read only where no
// other user may make names in the station folder: there, every name of it
// was made by this user or root. In a folder that others may write, the
// second name may be another user's way to a file only this user may read,
// and it is refused like another user's link.
//
// Judges Kavrin.inf in the held station folder and, for kRead, reads its
// first line (opened for reading only, shared with everyone, and closed
// again). The driver's file number 0 is used for that read.
ConfigVerdict JudgeConfiguration(const RunFolders& folders);

// What a weighing does with log.txt.
struct LogVerdict {
  enum class Action { kAppend, kCreate, kRefuse };
  Action action = Action::kRefuse;
  Refusal why = Refusal::kNone;
  // For kNotPermitted: 0 where log.txt is missing and cannot be created;
  // otherwise the system's code for why the open failed, -1 where it gave
  // none.
  int32_t systemCode = 0;
};

// Judges log.txt in the held station folder.
LogVerdict JudgeLog(const RunFolders& folders);

// What a weighing does with the folder raspuns.
struct HandoffFolderVerdict {
  enum class Action {
    kHold,  // it is there and is used
    kMake,  // it is missing and is made
    kRefuse,
  };
  Action action = Action::kRefuse;
  Refusal why = Refusal::kNone;
};

// Judges raspuns from what HoldRunFolders found.
HandoffFolderVerdict JudgeHandoffFolder(const RunFolders& folders);

// What a weighing does with its value and raspuns\cant.txt.
struct HandoffVerdict {
  enum class Action {
    kHandOver,  // the value goes into cant.txt
    kConflict,  // a value is waiting there: the conflict message
    kRefuse,    // cannot be put there: "nu poate fi scris"
  };
  Action action = Action::kRefuse;
  // Why, for kRefuse; kNone there when raspuns itself is refused.
  Refusal why = Refusal::kNone;
  // kConflict: the waiting value's first line.
  runtime::Text pending;
};

// Judges cant.txt in the held raspuns (or in the raspuns that `folder`
// says is to be made); reads a waiting value as ReadPendingQuantity does.
HandoffVerdict JudgeHandoff(const RunFolders& folders, const HandoffFolderVerdict& folder);

// The verdicts in a few words each, for --check's summary line ("read the
// port name from Kavrin.inf", "append its line to log.txt"...).
const char* ConfigActionWords(ConfigVerdict::Action action);
const char* LogActionWords(LogVerdict::Action action);
const char* HandoffFolderActionWords(HandoffFolderVerdict::Action action);
const char* HandoffActionWords(HandoffVerdict::Action action);

// Why, in a few words after the file's name ("is a link that another
// user made").
const char* RefusalWords(Refusal why);

}  // namespace station

#endif  // WEIGH_STATION_FILE_VERDICTS_H_
