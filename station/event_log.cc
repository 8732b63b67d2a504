// The record stage: one line per run appended to "log.txt".
#include "runtime/date_text.h"
#include "runtime/message_box.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/file_verdicts.h"
#include "station/station.h"

namespace station {

using runtime::Text;

bool RecordLine(const RunFolders& folders, const Text& newQuantity) {
  // The open judges everything again for itself: the entry may have changed
  // since it was judged.
  runtime::ObjectValue log = 0;
  if (JudgeLog(folders).action != LogVerdict::Action::kRefuse) {
    log = runtime::OpenForUpdate(runtime::AUTO_NUMBER, folders.station, Text("log.txt"),
                                 LOG_OPEN_OPTIONS);
  }

  Text pending;
  ReadPendingQuantity(folders, &pending);

  Text detail;
  if (!runtime::TextEquals(pending, Text())) {
    detail = detail + Text("Cantitate netratata : ") + pending + Text(" ");
  }
  detail = detail + Text("Cantitate noua : ") + newQuantity;

  // The date is taken after the handoff file was read.
  const Text line =
      runtime::ExpandDateMask(Text("%yyyy/%mm/%dd - %hh:%ii:%ss - "), runtime::CurrentDateValue()) +
      Text(" / ") + detail;

  bool kept = false;
  if (log != 0) {
    // Whole or not at all: a line cut short (a full disk) is taken back, so
    // that the next run's line does not continue it.
    kept = runtime::AppendLine(log, line) != 0;
    // On the disk before the value is handed over, so that a power cut never
    // leaves a handed-over value that the log does not know. A flush that
    // fails changes nothing else: the line is written as well as it can be.
    kept = runtime::FlushToDisk(log) != 0 && kept;
    runtime::CloseTextFile(log);
  }
  return kept;
}

void ShowLogLineLost(const Text& newQuantity) {
  runtime::ShowMessageBox(
      Text("Eroare"), Text("Fisierul log.txt nu poate fi scris\nCantitate noua : ") + newQuantity,
      0);
}

void RecordStage(const RunFolders& folders, const Text& newQuantity) {
  // The line is lost, or may be at a power cut: the operator sees the new
  // value and why.
  if (!RecordLine(folders, newQuantity)) ShowLogLineLost(newQuantity);
}

void RecordStage(const Text& newQuantity) {
  RunFolders folders;
  HoldRunFolders(&folders);
  RecordStage(folders, newQuantity);
  ReleaseRunFolders(&folders);
}

}  // namespace station
