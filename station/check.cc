// The dry run behind --check. The files are judged by the very functions
// whose verdicts a weighing acts on; the port is opened and asked once as a
// weighing asks it. Nothing is written.
#include "station/check.h"

#include "runtime/diagnosis.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text_file.h"
#include "station/check_files.h"
#include "station/check_planted.h"
#include "station/file_verdicts.h"
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

bool HasDigest(const runtime::FileDigest& program) {
  return program.failure.empty() && program.sha256.size() == 64 &&
         program.sha256.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string IdentificationText(const runtime::FileDigest& program) {
  std::string text = "Program file: " + VisibleName(program.path) + "\n";
  if (HasDigest(program)) {
    text += "SHA-256: " + program.sha256 + "\n";
  } else {
    text += "SHA-256: cannot be computed: " +
            (program.failure.empty() ? std::string("the system gave no digest") : program.failure) +
            "\n";
  }
  return text;
}

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
  const std::string warning = ReportFiles(folders, config, files, report);
  ReportOtherUsers(folders, files, report);
  ReportPlantedFiles(report);
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
