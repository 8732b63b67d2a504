#include "runtime/diagnosis.h"

#include "runtime/message_box.h"
#include "runtime/platform/console.h"
#include "runtime/text.h"

namespace runtime {

std::string ReportForMessageBox(const std::string& report) {
  static const std::string kDigestLabel = "SHA-256: ";
  constexpr size_t kDigits = 64;
  constexpr size_t kGroup = 8;
  std::string shown;
  shown.reserve(report.size() + 16);
  size_t line = 0;
  while (line < report.size()) {
    size_t end = report.find('\n', line);
    if (end == std::string::npos) end = report.size();
    const size_t digits = line + kDigestLabel.size();
    const bool digest = report.compare(line, kDigestLabel.size(), kDigestLabel) == 0 &&
                        end - digits == kDigits &&
                        report.find_first_not_of("0123456789abcdef", digits) >= end;
    if (!digest) {
      shown.append(report, line, end - line);
    } else {
      shown += kDigestLabel;
      for (size_t group = 0; group < kDigits; group += kGroup) {
        if (group > 0) shown += ' ';
        shown.append(report, digits + group, kGroup);
      }
    }
    if (end < report.size()) shown += '\n';
    line = end + 1;
  }
  return shown;
}

void ShowReport(const std::string& report) {
  if (platform::OpenReportOutput() &&
      platform::WriteReportOutput(report.data(), static_cast<int32_t>(report.size()))) {
    return;
  }
  // A program started from a shortcut or Explorer has nowhere to write.
  StartMessageBox();
  ShowUtf8MessageBox(Text("weigh"), Text(ReportForMessageBox(report)), MB_OK);
}

}  // namespace runtime
