// The dry run behind --check. The files are judged by the very functions
// whose verdicts a weighing acts on; the port is opened and asked once as a
// weighing asks it. Nothing is written.
#include "station/check.h"

#include "runtime/diagnosis.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text_file.h"
#include "station/check_files.h"
#include "station/file_verdicts.h"
#include "station/options.h"
#include "station/station.h"
#include "station/version.h"

namespace station {

using runtime::Text;

namespace {

const char* const kStatusWords[] = {"a stable weight was read",
                                    "",
                                    "",
                                    "no configuration",
                                    "the port cannot be opened",
                                    "no answer from the scale",
                                    "no stable answer",
                                    "the value would be empty"};

}  // namespace

int RunCheck(std::string* report, const WaitLimits& limits) {
  runtime::CreateProgramHeap();
  runtime::StartFiles();
  runtime::StartPorts();
  *report = "weigh " + std::string(WEIGH_VERSION) + " --check in " +
            VisibleName(runtime::CurrentDirectory()) + "\n";
  *report += IdentificationText(runtime::Sha256OfProgramFile());

  // Held as a weighing holds them, before anything is judged.
  RunFolders folders;
  HoldRunFolders(&folders);
  int status = CHECK_NO_CONFIGURATION;
  std::string why;
  Text value;
  const ConfigVerdict config = JudgeConfiguration(folders);
  const ConfigStep step = ReportConfiguration(config, report);
  if (!step.usable) {
    *report += "2. Port: not tried.\n3. Scale: not asked.\n";
    why = step.why.empty() ? "a weighing would get no port name from Kavrin.inf" : step.why;
  } else {
    status = CheckPortAndScale(step.portName, limits, report, &why, &value);
  }
  const FileVerdicts files = JudgeFiles(folders);
  const std::string warning = ReportFiles(config, files, report);
  ReportOtherUsers(files, report);
  ReleaseRunFolders(&folders);

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
