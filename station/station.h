#ifndef WEIGH_STATION_STATION_H_
#define WEIGH_STATION_STATION_H_

#include <cstdint>

#include "runtime/text.h"

namespace station {

// Reads the port name from "Kavrin.inf" (creating the file holding "COM1"
// and returning the empty text on a first run), asks the scale on that port
// for the weight and returns it once a stable reading arrived. Returns the
// empty text when no reading could be had.
runtime::Text AcquireQuantity();

// The most of the waiting value's first line that is read.
constexpr int32_t MAX_PENDING_LENGTH = 4096;

// Reads the value still waiting in "raspuns\cant.txt": stores its first line
// (at most MAX_PENDING_LENGTH bytes of it) in `pending` and returns true when
// the file can be opened for reading; otherwise `pending` is empty and the
// result false. A link there, or a "raspuns" that is another user's link,
// is never read through.
bool ReadPendingQuantity(runtime::Text* pending);

// Appends the run's line to "log.txt": date and time, the value still
// waiting (if any) and `newQuantity`. Writes nothing when the log cannot be
// opened; when "log.txt" is a link of another user (neither this user nor
// root), which is never written through, shows an "Eroare" message with
// `newQuantity` instead.
void RecordStage(const runtime::Text& newQuantity);

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
// the file's name, a "raspuns" that is another user's link), says so in a
// message of the same kind; the value is then only in the log.
void HandoffStage(const runtime::Text& newQuantity);

// The whole run: starts the services, acquires the new quantity, records
// it, hands it off and stops the services, writing out every buffer.
void RunStation();

}  // namespace station

#endif  // WEIGH_STATION_STATION_H_
