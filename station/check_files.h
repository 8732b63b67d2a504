#ifndef WEIGH_STATION_CHECK_FILES_H_
#define WEIGH_STATION_CHECK_FILES_H_

// The file steps of the dry run behind --check: what a weighing does with
// each of the station's files, as the verdicts a weighing acts on say, and
// who else can touch them.

#include <string>

#include "runtime/text.h"
#include "station/file_verdicts.h"

namespace station {

// What step 1 found out about the configuration.
struct ConfigStep {
  bool usable = false;
  runtime::Text portName;
  // Why it is not usable, when the verdict needs more than the usual words.
  std::string why;
};

// Step 1: Kavrin.inf as `verdict` has it.
ConfigStep ReportConfiguration(const ConfigVerdict& verdict, std::string* report);

// The verdicts on the other files of one weighing.
struct FileVerdicts {
  LogVerdict log;
  HandoffFolderVerdict handoffFolder;
  HandoffVerdict handoff;
};

// Judges log.txt, raspuns and raspuns\cant.txt as a weighing does.
FileVerdicts JudgeFiles(const RunFolders& folders);

// Step 4: the files as `verdicts` have them, the folders that others may
// write (looked at through the held `folders`), and one line that says what
// a weighing would do with each file (after `config`). Returns a warning for
// the verdict, or the empty string.
std::string ReportFiles(const RunFolders& folders, const ConfigVerdict& config,
                        const FileVerdicts& verdicts, std::string* report);

// Names the station's files and folders that belong to a user other than
// this one or root, and says what that user can do with them; in a folder
// that others may write though it is sticky, says which names they can take
// first. Each name is looked at in the held `folders`, never by path, and
// nothing here changes what a weighing does.
void ReportOtherUsers(const RunFolders& folders, const FileVerdicts& verdicts, std::string* report);

}  // namespace station

#endif  // WEIGH_STATION_CHECK_FILES_H_
