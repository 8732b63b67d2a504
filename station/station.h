#ifndef WEIGH_STATION_STATION_H_
#define WEIGH_STATION_STATION_H_

#include <cstdint>

#include "runtime/text.h"
#include "runtime/text_file.h"

namespace station {

// Reads the port name from "Kavrin.inf" (creating the file holding "COM1"
// and returning the empty text on a first run), asks the scale on that port
// for the weight and returns it once a stable reading arrived. Returns the
// empty text when no reading could be had. Holds the folders for this one
// call; the driver's run uses the form in scale_dialogue.h.
runtime::Text AcquireQuantity();

// The most of the waiting value's first line that is read.
constexpr int32_t MAX_PENDING_LENGTH = 4096;

// The folders one run works in, held from before acquisition to the end of
// the run: every file of the run is reached through them, so a folder swapped or
// renamed meanwhile leads nowhere else.
struct RunFolders {
  runtime::FolderHandle station = 0;  // the current folder
  runtime::FolderHandle handoff = 0;  // "raspuns", once it is held
  // Why "raspuns" is not held: kMissing until it is looked for again with
  // the intent to make it.
  runtime::FolderOutcome handoffOutcome = runtime::FolderOutcome::kMissing;
};

// Holds the current folder and "raspuns" when it is there (it is not made
// here).
void HoldRunFolders(RunFolders* folders);

// Looks for "raspuns" again when it was missing (another run may have made
// it meanwhile) and holds it when it is there now.
void LookForHandoffFolder(RunFolders* folders);

// Lets go of both folders.
void ReleaseRunFolders(RunFolders* folders);

// Reads the value still waiting in "raspuns\cant.txt": stores its first line
// (at most MAX_PENDING_LENGTH bytes of it) in `pending` and returns true when
// the file can be opened for reading; otherwise `pending` is empty and the
// result false. A link there, a file there with another name too (a hard
// link), or a "raspuns" that is not this user's or root's (see
// runtime::HoldFolder) is never read through. The first form holds the
// folders for this one call.
bool ReadPendingQuantity(runtime::Text* pending);
bool ReadPendingQuantity(const RunFolders& folders, runtime::Text* pending);

// How "log.txt" is opened, by the record stage and by JudgeLog's trial of
// that open alike. Shared reading and writing: other programs may read the
// log, and other runs may append to it at the same time. A link under the
// name is followed only when it is this user's or root's: one that another
// user planted may lead to any file this user can write. A file with a
// second name is refused too: that name may be another user's hard link to
// it.
inline constexpr int32_t LOG_OPEN_OPTIONS = runtime::OPTION_SHARE_READ |
                                            runtime::OPTION_SHARE_WRITE | runtime::OPTION_APPEND |
                                            runtime::OPTION_TRUSTED_LINK | runtime::OPTION_ONE_NAME;

// Appends the run's line to "log.txt": date and time, the value still
// waiting (if any) and `newQuantity`, and flushes it to the disk, as the
// verdict of JudgeLog says (a log that is another user's link, a file with
// another name too, a folder or a device is never written). Returns true
// when the line is in the file and on the disk; shows nothing.
bool RecordLine(const RunFolders& folders, const runtime::Text& newQuantity);

// The message of a run whose log line is lost: "Eroare", "Fisierul log.txt
// nu poate fi scris" and `newQuantity`.
void ShowLogLineLost(const runtime::Text& newQuantity);

// RecordLine, and ShowLogLineLost when the line is lost. The first form
// holds the folders for this one call.
void RecordStage(const runtime::Text& newQuantity);
void RecordStage(const RunFolders& folders, const runtime::Text& newQuantity);

// The name of a temporary file for the new value in "raspuns", with the
// hexadecimal digits of `random`, for a current folder whose full path is
// `folderLength` characters long where full paths may have `longestPath`:
// "raspuns\cant-<16 digits>.tmp" where that fits, else "raspuns\<digits>.tmp"
// with as many of the digits as fit, at least 4. So wherever
// "raspuns\cant.txt" fits, the temporary fits too.
runtime::Text TemporaryNameFor(int32_t folderLength, int32_t longestPath, uint64_t random);

// Hands `newQuantity` to the consuming program through "raspuns\cant.txt",
// or, while a value is still waiting there, shows the conflict message and
// changes nothing. When the value cannot be put there for any other reason
// (the file or its folder cannot be written, the disk is full, a link under
// the file's name, a "raspuns" that is not this user's or root's), says so in
// a message of the same kind; the value is then only in the log. What is
// done follows the verdicts of JudgeHandoffFolder and JudgeHandoff.
// "raspuns" is made and held here when `folders` does not hold it yet. With
// `lineLost` (the run's log line is lost) the one message names log.txt
// too, so that the value appears in one box. Returns true when the value
// was handed over. The first form holds the folders for this one call.
void HandoffStage(const runtime::Text& newQuantity);
bool HandoffStage(RunFolders* folders, const runtime::Text& newQuantity, bool lineLost = false);

// The whole run: starts the services, acquires the new quantity, records
// it, hands it off and stops the services, writing out every buffer.
void RunStation();

}  // namespace station

#endif  // WEIGH_STATION_STATION_H_
