// The program's run, top to bottom, once per start.
#include "runtime/message_box.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
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
    const runtime::Text newQuantity = AcquireQuantity();
    RunFolders folders;
    HoldRunFolders(&folders);
    RecordStage(folders, newQuantity);
    HandoffStage(&folders, newQuantity);
    ReleaseRunFolders(&folders);
  }
  runtime::CloseAllPorts();
  // Writes out every buffer; this is where "Kavrin.inf" is closed.
  runtime::CloseAllFiles();
  runtime::DestroyProgramHeap();
}

}  // namespace station
