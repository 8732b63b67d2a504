#include "runtime/text.h"

#include <cstring>

namespace runtime {

Text::Text(const char* bytes) {
  if (bytes != nullptr) bytes_ = bytes;
}

Text::Text(const char* bytes, std::size_t size) {
  if (bytes == nullptr) return;
  const void* zero = std::memchr(bytes, '\0', size);
  bytes_.assign(bytes, zero == nullptr ? size : static_cast<const char*>(zero) - bytes);
}

bool TextEquals(const Text& a, const Text& b) { return a.view() == b.view(); }

int32_t TextLength(const Text& text) { return text.size(); }

int32_t FindInText(const Text& text, const Text& pattern) {
  if (text.empty() || pattern.empty()) return 0;
  std::size_t found = text.view().find(pattern.view());
  return found == std::string_view::npos ? 0 : static_cast<int32_t>(found) + 1;
}

Text ReplaceAllText(const Text& text, const Text& search, const Text& replacement) {
  if (search.empty()) return text;
  std::string_view rest = text.view();
  std::string result;
  result.reserve(rest.size());
  for (std::size_t found; (found = rest.find(search.view())) != std::string_view::npos;) {
    result.append(rest.substr(0, found));
    result.append(replacement.view());
    rest.remove_prefix(found + search.view().size());
  }
  result.append(rest);
  return Text(result);
}

Text SpaceRun(int32_t count) {
  return count > 0 ? Text(std::string(static_cast<std::size_t>(count), ' ')) : Text();
}

Text RightPart(const Text& text, int32_t count) {
  if (count <= 0) return Text();
  if (count >= text.size()) return text;
  return Text(text.view().substr(static_cast<std::size_t>(text.size() - count)));
}

Text MiddlePart(const Text& text, int32_t start, int32_t count) {
  if (count <= 0) return Text();
  std::size_t skip = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (skip >= text.view().size()) return Text();
  return Text(text.view().substr(skip, static_cast<std::size_t>(count)));
}

}  // namespace runtime
