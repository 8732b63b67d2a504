// The handoff stage: the new quantity goes to "raspuns\cant.txt" unless a
// value is still waiting there for the consuming program.
#include <string>

#include "runtime/message_box.h"
#include "runtime/process.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/station.h"

namespace station {

using runtime::Text;

namespace {

const Text kHandoffFile("raspuns\\cant.txt");

// The new value is written under this name first and moved into place
// whole, so the consumer never sees a half-written file. One name per
// process keeps concurrent runs from writing into each other's file.
Text TemporaryName() {
  return Text("raspuns\\cant-") + Text(std::to_string(runtime::ProcessId())) +
         Text(".tmp");
}

}  // namespace

bool ReadPendingQuantity(Text* pending) {
  *pending = Text();
  // The test is on the returned value itself: a failed open returns 0, which
  // is also file number 0, the configuration file that stays open.
  const runtime::ObjectValue file =
      runtime::OpenForReading(runtime::AUTO_NUMBER, kHandoffFile, runtime::OPTION_SHARE_READ);
  if (file == 0) return false;
  *pending = runtime::ReadLine(file);
  runtime::CloseTextFile(file);
  return true;
}

void HandoffStage(const Text& newQuantity) {
  runtime::MakeDirectory(Text("raspuns"));

  Text pending;
  if (ReadPendingQuantity(&pending)) {
    runtime::ShowMessageBox(Text("Eroare"),
                            Text("Cantitate netratata : ") + pending +
                                Text("\n!ATENTIE! - NU SE CALCULEAZA - !ATENTIE!\n"
                                     "Cantitate Noua NETRATATA : ") +
                                newQuantity,
                            0);
    return;
  }

  const Text temporary = TemporaryName();
  const runtime::ObjectValue file = runtime::CreateTextFile(runtime::AUTO_NUMBER, temporary);
  if (file == 0) return;
  runtime::WriteLine(file, newQuantity);
  runtime::CloseTextFile(file);
  // Writes that failed (a full disk) leave the temporary short, and a short
  // value must not reach the consumer. A value that appeared since the check
  // is never replaced. Either way the temporary goes, and the new quantity
  // survives in the log line only.
  const bool whole = runtime::QueryFileSize(temporary) == runtime::TextLength(newQuantity) + 2;
  if (!whole || !runtime::MoveFileWithoutReplacing(temporary, kHandoffFile)) {
    runtime::RemoveFile(temporary);
  }
}

}  // namespace station
