// --check names what someone could leave for Windows' loader, and who made
// a link at raspuns.
#include "station/check_planted.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/platform/file.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "station/check.h"

namespace station {
namespace {

TEST(CheckPlantedTest, EachPlantedFileIsNamedWithItsLettersAndTold) {
  // "C:\cântar\version.dll"; and a name with a control byte, shown by name.
  const std::vector<runtime::PlantedFile> found = {
      {"C:\\c\xC3\xA2ntar\\version.dll", "a DLL"},
      {"C:\\c\xC3\xA2ntar\\weigh.exe.manifest", "a manifest for this program"},
      {"C:\\s\x1B[2Jtation\\weigh.exe.local", "a DLL redirection for this program"},
  };
  const std::string report = PlantedFilesReport(found);
  const std::string told =
      " that Windows could load\n   in place of its own. weigh does not load it; it does not "
      "belong there: remove it.\n";
  EXPECT_EQ(report, "   C:\\c\xC3\xA2ntar\\version.dll is a DLL" + told +
                        "   C:\\c\xC3\xA2ntar\\weigh.exe.manifest is a manifest for this program" +
                        told + "   " + VisibleName(found[2].path) +
                        " is a DLL redirection for this program" + told);
  EXPECT_EQ(report.find('\x1B'), std::string::npos);
  EXPECT_EQ(PlantedFilesReport({}), "");
  EXPECT_EQ(HandoffLinkReport(""), "");
  EXPECT_EQ(HandoffLinkReport("a junction or symbolic link of Administrators, which a weighing "
                              "follows"),
            "   raspuns is a junction or symbolic link of Administrators, which a weighing "
            "follows.\n");
}

TEST(CheckPlantedTest, DllsInTheCurrentFolderAreFoundOnWindowsOnly) {
  runtime::platform::ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  // The program's own folder may hold DLLs of the build: only these names
  // are looked at.
  const std::vector<std::string> made = {"version.dll", "CRYPTBASE.DLL", "notes.txt", "dll"};
  for (const std::string& name : made) std::ofstream(name) << "MZ";
  std::vector<std::string> names;
  for (const runtime::PlantedFile& file : runtime::FindPlantableFiles()) {
    const std::string name = file.path.substr(file.path.find_last_of("\\/") + 1);
    if (std::find(made.begin(), made.end(), name) != made.end()) {
      names.push_back(name + ": " + file.kind);
    }
  }
  std::sort(names.begin(), names.end());
  if (!runtime::platform::PathsHaveDriveLetters()) {
    // The POSIX loader looks in neither folder.
    EXPECT_TRUE(names.empty());
    return;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"CRYPTBASE.DLL: a DLL", "version.dll: a DLL"}));
}

}  // namespace
}  // namespace station
