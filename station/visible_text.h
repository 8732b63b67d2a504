#ifndef WEIGH_STATION_VISIBLE_TEXT_H_
#define WEIGH_STATION_VISIBLE_TEXT_H_

// Texts from outside (a scale's bytes, a file's first line, a path, a user
// name, an argument) made fit for a terminal or a message: nothing shown
// through these can act on the terminal or hide what was there.

#include <string>
#include <string_view>

#include "runtime/text.h"

namespace station {

// `bytes` as text with every control byte named in angle brackets (<STX>,
// <EOT>, <NUL>, <0x7F>...) and bytes above 0x7E in hex, so that a line of it
// shows exactly what was there.
std::string VisibleBytes(std::string_view bytes);

// A name from outside (a path, a folder, a process or user name) as text
// for a terminal: letters in well-formed UTF-8 stay as they are, so that
// "Recepție" reads as it is written, while control characters (C0, DEL and
// the C1 range U+0080 to U+009F) and bytes that are not well-formed UTF-8
// (overlong forms and surrogates included) are named as VisibleBytes names
// them, so that no name can act on the terminal.
std::string VisibleName(std::string_view bytes);

// `bytes` in hex, two digits each, separated by spaces.
std::string HexBytes(std::string_view bytes);

// `text` as VisibleBytes shows it, between double quotes.
std::string Quoted(const runtime::Text& text);

}  // namespace station

#endif  // WEIGH_STATION_VISIBLE_TEXT_H_
