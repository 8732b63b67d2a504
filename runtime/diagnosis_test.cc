// The report in the "weigh" box: every letter of a folder's name, and a
// digest that the box can wrap without cutting a digit off.
#include "runtime/diagnosis.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace runtime {
namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kGrouped =
    "01234567 89abcdef 01234567 89abcdef 01234567 89abcdef 01234567 89abcdef";

TEST(ReportForMessageBoxTest, KeepsEveryLetterAndGroupsOnlyADigestLine) {
  // â (U+00E2) and ț (U+021B) in UTF-8.
  const std::string folder = "Program file: C:\\C\xC3\xA2ntar\\Recep\xC8\x9Bie\\weigh.exe\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {folder + "SHA-256: " + kDigest + "\n", folder + "SHA-256: " + kGrouped + "\n"},
      // The last line need not end.
      {"SHA-256: " + kDigest, "SHA-256: " + kGrouped},
      // Not a digest: shown as it is.
      {"SHA-256: " + kDigest.substr(1) + "\n", "SHA-256: " + kDigest.substr(1) + "\n"},
      {"SHA-256: " + kDigest + "0\n", "SHA-256: " + kDigest + "0\n"},
      {"SHA-256: cannot be computed: " + kDigest.substr(0, 35) + "\n",
       "SHA-256: cannot be computed: " + kDigest.substr(0, 35) + "\n"},
      {"sha-256: " + kDigest + "\n", "sha-256: " + kDigest + "\n"},
      {"SHA-256: " + kDigest.substr(0, 63) + "g\n", "SHA-256: " + kDigest.substr(0, 63) + "g\n"},
      {folder, folder},
      {"", ""},
      {"\n\n", "\n\n"},
  };
  for (const auto& [report, shown] : cases) {
    EXPECT_EQ(ReportForMessageBox(report), shown) << report;
  }
}

}  // namespace
}  // namespace runtime
