#ifndef WEIGH_RUNTIME_TEXT_H_
#define WEIGH_RUNTIME_TEXT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace runtime {

// A text: 8-bit bytes up to, not including, the first zero byte. No
// character set is interpreted and nothing folds letter case. Values copy on
// assignment; a default-constructed text is the empty text. Every way of
// making a text stops at the first zero byte, so a text never contains one.
class Text {
 public:
  Text() = default;
  // The bytes of `bytes` up to its first zero byte; nullptr is the empty text.
  Text(const char* bytes);  // NOLINT(runtime/explicit): literals are texts
  // At most `size` bytes of `bytes`, stopping at a zero byte among them.
  Text(const char* bytes, std::size_t size);
  explicit Text(std::string_view bytes) : Text(bytes.data(), bytes.size()) {}

  // The bytes, followed by a zero byte.
  const char* c_str() const { return bytes_.c_str(); }
  const char* data() const { return bytes_.data(); }
  int32_t size() const { return static_cast<int32_t>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  std::string_view view() const { return bytes_; }

  Text& operator+=(const Text& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  friend Text operator+(Text left, const Text& right) {
    left += right;
    return left;
  }

  // Lets `writer` put bytes straight into this text's storage: it is called
  // with a span over the text's size() bytes and must not write beyond it.
  // Afterwards the text is that storage up to its first zero byte, so a zero
  // byte written there ends the text. Used to receive data into a text made
  // with SpaceRun.
  template <typename Writer>
  void FillInPlace(Writer&& writer) {
    writer(std::span<char>(bytes_.data(), bytes_.size()));
    std::size_t end = bytes_.find('\0');
    if (end != std::string::npos) bytes_.resize(end);
  }

 private:
  std::string bytes_;
};

// True when `a` and `b` have the same length and the same bytes.
bool TextEquals(const Text& a, const Text& b);

// The number of bytes in `text`.
int32_t TextLength(const Text& text);

// The 1-based position of the first occurrence of `pattern` in `text`
// (byte-exact), or 0 when it does not occur or either text is empty.
int32_t FindInText(const Text& text, const Text& pattern);

// `text` with every occurrence of `search` replaced by `replacement`, taken
// left to right without overlaps; the replacement is never scanned again.
// An empty `search` never matches.
Text ReplaceAllText(const Text& text, const Text& search, const Text& replacement);

// `count` spaces; none for a count below 1.
Text SpaceRun(int32_t count);

// The last `count` bytes of `text`: empty for a count below 1, the whole
// text for a count of at least its length.
Text RightPart(const Text& text, int32_t count);

// Up to `count` bytes of `text` from the 1-based position `start` (a start
// below 1 counts as 1, a count below 0 as 0), stopping at the end.
Text MiddlePart(const Text& text, int32_t start, int32_t count);

}  // namespace runtime

#endif  // WEIGH_RUNTIME_TEXT_H_
