// The program's run, top to bottom, once per start.
#include "runtime/message_box.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/scale_dialogue.h"
#include "station/station.h"

namespace station {

void RunStation() {
  runtime::CreateProgramHeap();
  // Texts are ordinary values that free themselves: there is no text store
  // to start or release.
  runtime::StartFiles();
  runtime::StartMessageBox();
  runtime::StartPorts();
  {
    // No stage can end the run early: each runs whatever the new quantity
    // is, the empty text included.
    // Held before Kavrin.inf is read, so that every file of the run is
    // reached through the same folders.
    RunFolders folders;
    HoldRunFolders(&folders);
    const runtime::Text newQuantity = AcquireQuantity(folders, WaitLimits());
    // A weighing may take a while: another run may have made raspuns since.
    LookForHandoffFolder(&folders);
    // The value first, then the word: a lost log line never holds the
    // value back behind a box that waits for someone to press OK. When the
    // value cannot be handed over either, its one box names both files.
    const bool lineKept = RecordLine(folders, newQuantity);
    const bool handedOver = HandoffStage(&folders, newQuantity, !lineKept);
    if (!lineKept && handedOver) ShowLogLineLost(newQuantity);
    ReleaseRunFolders(&folders);
  }
  runtime::CloseAllPorts();
  // Writes out every buffer; this is where "Kavrin.inf" is closed.
  runtime::CloseAllFiles();
  runtime::DestroyProgramHeap();
}

}  // namespace station
