#include "runtime/diagnosis.h"

#include "runtime/message_box.h"
#include "runtime/platform/console.h"
#include "runtime/text.h"

namespace runtime {

void ShowReport(const std::string& report) {
  if (platform::OpenReportOutput() &&
      platform::WriteReportOutput(report.data(), static_cast<int32_t>(report.size()))) {
    return;
  }
  // A program started from a shortcut or Explorer has nowhere to write.
  StartMessageBox();
  ShowMessageBox(Text("weigh"), Text(platform::ReportTextForMessageBox(report)), MB_OK);
}

}  // namespace runtime
