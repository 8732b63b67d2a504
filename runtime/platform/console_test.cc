// The report in a message box: a folder's name in it must read as the
// folder is named, as far as the box's code page allows.
#include "runtime/platform/console.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/platform/file.h"

namespace runtime::platform {
namespace {

TEST(ConsoleTest, AReportInABoxKeepsTheLettersTheBoxCanShow) {
  // â (U+00E2) and ț (U+021B) in UTF-8.
  const std::string report = "in C:\\C\xC3\xA2ntar\\Recep\xC8\x9Bie\n";
  if (!PathsHaveDriveLetters()) {
    // GTK takes UTF-8 as it is.
    EXPECT_EQ(ReportTextForMessageBox(report), report);
    return;
  }
  // The Latin ANSI code pages (1250, 1252) have â as 0xE2, and not ț.
  EXPECT_EQ(ReportTextForMessageBox(report), "in C:\\C\xE2ntar\\Recep?ie\n");
}

}  // namespace
}  // namespace runtime::platform
