#include "station/visible_text.h"

#include <gtest/gtest.h>

#include <string>

namespace station {
namespace {

TEST(VisibleTextTest, ControlCharactersAndMalformedFormsAreNamedByteByByte) {
  const struct {
    std::string name;
    std::string shown;
  } kCases[] = {
      // The last C1 control, U+009F, still acts on some terminals; the
      // no-break space right after it is a letter of a name.
      {"a\xc2\x9f"
       "b",
       "a<0xC2><0x9F>b"},
      {"a\xc2\xa0"
       "b",
       "a\xc2\xa0"
       "b"},
      {"\xc2\x80", "<0xC2><0x80>"},
      // Overlong forms of a no-break space and of NUL: the short form is
      // the only well-formed one.
      {"\xe0\x82\xa0", "<0xE0><0x82><0xA0>"},
      {"\xf0\x80\x80\x80", "<0xF0><0x80><0x80><0x80>"},
      {"\xe0\xa0\x80", "\xe0\xa0\x80"},
      // Beyond U+10FFFF.
      {"\xf4\x90\x80\x80", "<0xF4><0x90><0x80><0x80>"},
  };
  for (const auto& one : kCases) {
    EXPECT_EQ(VisibleName(one.name), one.shown) << VisibleBytes(one.name);
  }
}

TEST(VisibleTextTest, QuotedShowsEveryByteBetweenQuotes) {
  EXPECT_EQ(Quoted(runtime::Text(std::string("\x02"
                                             "7.25\"\xe9",
                                             7))),
            "\"<STX>7.25\"<0xE9>\"");
  EXPECT_EQ(Quoted(runtime::Text()), "\"\"");
}

}  // namespace
}  // namespace station
