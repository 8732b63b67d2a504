#include "station/check_planted.h"

#include "station/visible_text.h"

namespace station {

std::string PlantedFilesReport(const std::vector<runtime::PlantedFile>& found) {
  std::string report;
  for (const runtime::PlantedFile& file : found) {
    report += "   " + VisibleName(file.path) + " is " + file.kind +
              " that Windows could load\n   in place of its own. weigh does not load it; "
              "it does not belong there: remove it.\n";
  }
  return report;
}

std::string HandoffLinkReport(const std::string& words) {
  return words.empty() ? std::string() : "   raspuns is " + words + ".\n";
}

void ReportPlantedFiles(std::string* report) {
  *report += PlantedFilesReport(runtime::FindPlantableFiles());
  *report += HandoffLinkReport(runtime::DescribeLinkOwner("raspuns"));
}

}  // namespace station
