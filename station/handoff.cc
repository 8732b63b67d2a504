// The handoff stage: the new quantity goes to "raspuns\cant.txt" unless a
// value is still waiting there for the consuming program. Whenever it cannot
// go there, the operator is told, so that no weight disappears unseen.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "runtime/message_box.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/file_verdicts.h"
#include "station/station.h"

namespace station {

using runtime::Text;

Text TemporaryNameFor(int32_t folderLength, int32_t longestPath, uint64_t random) {
  char digits[17];
  std::snprintf(digits, sizeof(digits), "%016llx", static_cast<unsigned long long>(random));
  // The full path adds a separator after the folder.
  const int32_t room = longestPath - folderLength - 1;
  const Text usual = Text("raspuns\\cant-") + Text(digits) + Text(".tmp");
  if (runtime::TextLength(usual) <= room) return usual;
  // "raspuns\" and ".tmp" around as many digits as fit, but never fewer
  // than would fill the length of "raspuns\cant.txt": where even that does
  // not fit, cant.txt itself cannot be written either.
  const int32_t fitting = room - static_cast<int32_t>(sizeof("raspuns\\.tmp") - 1);
  const int32_t count = std::clamp(fitting, 4, 16);
  return Text("raspuns\\") + Text(std::string(digits, static_cast<size_t>(count))) + Text(".tmp");
}

namespace {

const Text kHandoffFolder("raspuns");
const Text kHandoffEntry("cant.txt");

// How many fresh temporary names are tried before giving up.
constexpr int kTemporaryNameTries = 8;

// The new value is written under a temporary name first and moved into
// place whole, so the consumer never sees a half-written file. The name is
// new for every try and cannot be guessed, and the file is created
// exclusively: nobody can have planted a link under it in advance. It is
// as short as a deep current folder needs (see TemporaryNameFor).
Text TemporaryName() {
  return TemporaryNameFor(runtime::CurrentFolderLength(), runtime::LongestFullPath(),
                          runtime::UnpredictableNumber());
}

// The temporary's own name inside the handoff folder.
Text EntryOf(const Text& path) {
  const std::string_view name = path.view();
  const std::size_t slash = name.find_last_of('\\');
  return Text(std::string(slash == std::string_view::npos ? name : name.substr(slash + 1)));
}

// Writes `newQuantity` into the handoff file in `folder`, which must not
// exist yet. Returns false when it could not be put there whole (nothing is
// then left behind, and a file that appeared meanwhile is never replaced).
bool PlaceNewQuantity(runtime::FolderHandle folder, const Text& newQuantity) {
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    const Text temporary = EntryOf(TemporaryName());
    const runtime::ObjectValue file =
        runtime::CreateNewTextFile(runtime::AUTO_NUMBER, folder, temporary);
    if (file == 0) continue;
    runtime::WriteLine(file, newQuantity);
    // The content goes to the disk before the file gets its name: file
    // systems make a new name durable long before delayed content, and a
    // power cut in between would leave an empty cant.txt, which the consumer
    // takes for a value. A flush that fails means the value may not be on
    // the disk: it is not handed over. The move then flushes the names.
    const bool flushed = runtime::FlushToDisk(file) != 0;
    // Writes that failed (a full disk) leave the temporary short, and a
    // short value must not reach the consumer.
    const bool whole =
        flushed && runtime::QueryOpenFileSize(file) == runtime::TextLength(newQuantity) + 2;
    runtime::CloseTextFile(file);
    if (whole && runtime::MoveFileWithoutReplacing(folder, temporary, kHandoffEntry)) return true;
    runtime::RemoveFile(folder, temporary);
    return false;
  }
  return false;
}

// The first line of a message whose run also lost its log line: the one
// box then names both files and the value.
Text LineLostPrefix(bool lineLost) {
  return lineLost ? Text("Fisierul log.txt nu poate fi scris\n") : Text();
}

void ShowPendingConflict(const Text& pending, const Text& newQuantity, bool lineLost) {
  runtime::ShowMessageBox(Text("Eroare"),
                          LineLostPrefix(lineLost) + Text("Cantitate netratata : ") + pending +
                              Text("\n!ATENTIE! - NU SE CALCULEAZA - !ATENTIE!\n"
                                   "Cantitate Noua NETRATATA : ") +
                              newQuantity,
                          0);
}

void ShowNotWritten(const Text& newQuantity, bool lineLost) {
  runtime::ShowMessageBox(Text("Eroare"),
                          LineLostPrefix(lineLost) +
                              Text("Fisierul raspuns\\cant.txt nu poate fi scris"
                                   "\n!ATENTIE! - NU SE CALCULEAZA - !ATENTIE!\n"
                                   "Cantitate Noua NETRATATA : ") +
                              newQuantity,
                          0);
}

// Tells the operator why the new value is not in the handoff file, as
// `verdict` has it: the value waiting there, or that the file cannot be
// written.
void ShowWhyNotHandedOver(const HandoffVerdict& verdict, const Text& newQuantity, bool lineLost) {
  if (verdict.action == HandoffVerdict::Action::kConflict) {
    ShowPendingConflict(verdict.pending, newQuantity, lineLost);
  } else {
    ShowNotWritten(newQuantity, lineLost);
  }
}

}  // namespace

void HoldRunFolders(RunFolders* folders) {
  folders->station = runtime::HoldCurrentFolder();
  folders->handoff =
      runtime::HoldFolder(folders->station, kHandoffFolder, false, &folders->handoffOutcome);
}

void LookForHandoffFolder(RunFolders* folders) {
  if (folders->handoff != 0 || folders->handoffOutcome != runtime::FolderOutcome::kMissing) return;
  folders->handoff =
      runtime::HoldFolder(folders->station, kHandoffFolder, false, &folders->handoffOutcome);
}

void ReleaseRunFolders(RunFolders* folders) {
  runtime::ReleaseFolder(folders->handoff);
  runtime::ReleaseFolder(folders->station);
  *folders = RunFolders();
}

bool ReadPendingQuantity(const RunFolders& folders, Text* pending) {
  *pending = Text();
  // Through a folder that is not held (another user's link or folder among
  // them) nothing is read.
  if (folders.handoff == 0) return false;
  if (runtime::QueryEntryKind(folders.handoff, kHandoffEntry) != runtime::PathKind::kFile) {
    return false;
  }
  // The test is on the returned value itself: a failed open returns 0, which
  // is also file number 0. Never through a link, nor a file with another
  // name too: whatever they lead to is nobody's waiting value, and must not
  // end up in the log or a message.
  const runtime::ObjectValue file = runtime::OpenForReading(
      runtime::AUTO_NUMBER, folders.handoff, kHandoffEntry,
      runtime::OPTION_SHARE_READ | runtime::OPTION_NO_LINK | runtime::OPTION_ONE_NAME);
  if (file == 0) return false;
  *pending = runtime::ReadLine(file, MAX_PENDING_LENGTH);
  runtime::CloseTextFile(file);
  return true;
}

bool ReadPendingQuantity(Text* pending) {
  RunFolders folders;
  HoldRunFolders(&folders);
  const bool read = ReadPendingQuantity(folders, pending);
  ReleaseRunFolders(&folders);
  return read;
}

bool HandoffStage(RunFolders* folders, const Text& newQuantity, bool lineLost) {
  // Made here when missing; a folder made here is flushed into the current
  // folder at once, or a power cut could take it away with the value
  // flushed into it. Anything else in the way (a file, another user's link
  // or folder) keeps the value out.
  if (JudgeHandoffFolder(*folders).action == HandoffFolderVerdict::Action::kMake) {
    folders->handoff =
        runtime::HoldFolder(folders->station, kHandoffFolder, true, &folders->handoffOutcome);
  }
  if (folders->handoff == 0) {
    ShowNotWritten(newQuantity, lineLost);
    return false;
  }
  // Anything under the name (a waiting value, a file nobody may read or
  // that the consumer holds without sharing, a directory, a device, a link
  // even to nothing) keeps the new value out. A value that appears after
  // this look is never replaced either, and gets the conflict message as if
  // it had been there.
  const HandoffFolderVerdict held{HandoffFolderVerdict::Action::kHold, Refusal::kNone};
  HandoffVerdict verdict = JudgeHandoff(*folders, held);
  if (verdict.action == HandoffVerdict::Action::kHandOver) {
    if (PlaceNewQuantity(folders->handoff, newQuantity)) return true;
    verdict = JudgeHandoff(*folders, held);
  }
  ShowWhyNotHandedOver(verdict, newQuantity, lineLost);
  return false;
}

void HandoffStage(const Text& newQuantity) {
  RunFolders folders;
  HoldRunFolders(&folders);
  HandoffStage(&folders, newQuantity);
  ReleaseRunFolders(&folders);
}

}  // namespace station
