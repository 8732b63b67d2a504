// Texts from outside made fit for a terminal or a message.
#include "station/visible_text.h"

#include <cstdint>
#include <cstdio>

namespace station {

namespace {

const char* const kControlNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                       "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                       "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                       "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

}  // namespace

std::string VisibleBytes(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value < 32) {
      text += '<';
      text += kControlNames[value];
      text += '>';
    } else if (value == 0x7F) {
      text += "<DEL>";
    } else if (value > 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "<0x%02X>", value);
      text += hex;
    } else {
      text += byte;
    }
  }
  return text;
}

std::string VisibleName(std::string_view bytes) {
  std::string text;
  size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    // The length of a well-formed sequence starting here and its smallest
    // code point, so that overlong forms and surrogates count as malformed.
    size_t length = 0;
    uint32_t code = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, least = 0x10000;
    }
    bool wellFormed = length > 0 && at + length <= bytes.size();
    for (size_t i = 1; wellFormed && i < length; ++i) {
      const auto next = static_cast<unsigned char>(bytes[at + i]);
      wellFormed = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    wellFormed =
        wellFormed && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (wellFormed && code >= 0xA0) {
      text.append(bytes.substr(at, length));
      at += length;
    } else if (lead >= 0x20 && lead < 0x7F) {
      text += static_cast<char>(lead);
      ++at;
    } else {
      // A control character or a malformed sequence: named byte by byte.
      const size_t count = wellFormed ? length : 1;
      text += VisibleBytes(bytes.substr(at, count));
      at += count;
    }
  }
  return text;
}

std::string HexBytes(std::string_view bytes) {
  std::string text;
  for (const char byte : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), "%02x", static_cast<unsigned char>(byte));
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

std::string Quoted(const runtime::Text& text) {
  std::string quoted = "\"";
  quoted += VisibleBytes(text.view());
  quoted += '"';
  return quoted;
}

}  // namespace station
