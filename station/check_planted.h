#ifndef WEIGH_STATION_CHECK_PLANTED_H_
#define WEIGH_STATION_CHECK_PLANTED_H_

// --check's account of files left for the system's loader beside the
// program or in the station's folder, and of a link at raspuns.

#include <string>
#include <vector>

#include "runtime/diagnosis.h"

namespace station {

// The lines that name each file in `found`, say what the loader could take
// it for, that weigh does not load it and that it does not belong there;
// empty when `found` is.
std::string PlantedFilesReport(const std::vector<runtime::PlantedFile>& found);

// The line that says who made the link at raspuns and what a weighing does
// with it (`words` as DescribeLinkOwner gives them); empty when `words` is.
std::string HandoffLinkReport(const std::string& words);

// Appends both for this program, this folder and its raspuns to `report`.
void ReportPlantedFiles(std::string* report);

}  // namespace station

#endif  // WEIGH_STATION_CHECK_PLANTED_H_
