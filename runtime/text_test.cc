#include "runtime/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace runtime {
namespace {

std::string Bytes(const Text& text) { return std::string(text.view()); }

TEST(TextTest, ATextEndsAtItsFirstZeroByte) {
  EXPECT_EQ(TextLength(Text(std::string_view("A\0B", 3))), 1);
  EXPECT_EQ(TextLength(Text("A\0B", 3)), 1);
  EXPECT_EQ(TextLength(Text(nullptr)), 0);
  // Bytes above 127 are ordinary bytes.
  EXPECT_EQ(Bytes(Text("\xff\x80\x01")), "\xff\x80\x01");

  Text unassigned;
  EXPECT_TRUE(TextEquals(unassigned, Text("")));
  EXPECT_EQ(TextLength(unassigned), 0);
  EXPECT_EQ(FindInText(unassigned, Text("a")), 0);
  EXPECT_EQ(Bytes(MiddlePart(unassigned, 1, 5)), "");
  EXPECT_EQ(Bytes(RightPart(unassigned, 5)), "");
  EXPECT_EQ(Bytes(unassigned + Text("x") + unassigned), "x");
}

TEST(TextTest, AssignmentCopies) {
  Text a("abc");
  Text b = a;
  b += Text("d");
  EXPECT_EQ(Bytes(a), "abc");
  EXPECT_EQ(Bytes(b), "abcd");
}

TEST(TextTest, EqualityIsExactAndCaseSensitive) {
  EXPECT_TRUE(TextEquals(SpaceRun(1024), Text(std::string(1024, ' '))));
  EXPECT_FALSE(TextEquals(SpaceRun(1024), Text(std::string(1023, ' '))));
  EXPECT_FALSE(TextEquals(Text(std::string(1023, ' ')), SpaceRun(1024)));
  EXPECT_FALSE(TextEquals(Text("S"), Text("s")));
  EXPECT_FALSE(TextEquals(Text("ab"), Text("abc")));
}

TEST(TextTest, FindGivesOneBasedPositionsAndZeroForNothing) {
  EXPECT_EQ(FindInText(Text("\x01\x02S"), Text("\x01")), 1);
  EXPECT_EQ(FindInText(Text("ab\x02" "cd\x02"), Text("\x02")), 3);
  EXPECT_EQ(FindInText(Text("abc"), Text("bc")), 2);
  EXPECT_EQ(FindInText(Text("abc"), Text("abcd")), 0);
  EXPECT_EQ(FindInText(Text("abc"), Text("B")), 0);
  EXPECT_EQ(FindInText(Text("abc"), Text("")), 0);
  EXPECT_EQ(FindInText(Text(""), Text("")), 0);
  EXPECT_EQ(FindInText(Text(""), Text("a")), 0);
}

TEST(TextTest, ReplaceAllGoesLeftToRightWithoutOverlapOrRescan) {
  EXPECT_EQ(Bytes(ReplaceAllText(Text("\n\r\n\r"), Text("\r\n"), Text(""))), "\n\r");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("\n\r\n\r"), Text("\n\r"), Text(""))), "");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("aaa"), Text("aa"), Text("b"))), "ba");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("a b  c"), Text(" "), Text("  "))), "a  b    c");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("abc"), Text(""), Text("x"))), "abc");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("abc"), Text("z"), Text("x"))), "abc");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("SxS"), Text("S"), Text(""))), "x");
  EXPECT_EQ(Bytes(ReplaceAllText(Text("sS"), Text("S"), Text(""))), "s");
  EXPECT_EQ(Bytes(ReplaceAllText(Text(""), Text("a"), Text("b"))), "");
}

TEST(TextTest, SpaceRunClampsItsCount) {
  EXPECT_EQ(Bytes(SpaceRun(3)), "   ");
  EXPECT_EQ(Bytes(SpaceRun(0)), "");
  EXPECT_EQ(Bytes(SpaceRun(-4)), "");
  EXPECT_EQ(TextLength(SpaceRun(1024)), 1024);
}

TEST(TextTest, RightPartClampsItsCount) {
  EXPECT_EQ(Bytes(RightPart(Text("abc\x04"), 1)), "\x04");
  EXPECT_EQ(Bytes(RightPart(Text("abc"), 2)), "bc");
  EXPECT_EQ(Bytes(RightPart(Text("abc"), 3)), "abc");
  EXPECT_EQ(Bytes(RightPart(Text("abc"), 9)), "abc");
  EXPECT_EQ(Bytes(RightPart(Text("abc"), 0)), "");
  EXPECT_EQ(Bytes(RightPart(Text("abc"), -1)), "");
}

TEST(TextTest, MiddlePartClampsStartAndCount) {
  const Text text("abcde");
  EXPECT_EQ(Bytes(MiddlePart(text, 2, 3)), "bcd");
  EXPECT_EQ(Bytes(MiddlePart(text, 1, 1)), "a");
  EXPECT_EQ(Bytes(MiddlePart(text, 0, 1)), "a");
  EXPECT_EQ(Bytes(MiddlePart(text, -7, 2)), "ab");
  EXPECT_EQ(Bytes(MiddlePart(text, 5, 1)), "e");
  EXPECT_EQ(Bytes(MiddlePart(text, 4, 99)), "de");
  EXPECT_EQ(Bytes(MiddlePart(text, 6, 1)), "");
  EXPECT_EQ(Bytes(MiddlePart(text, 60, 1)), "");
  EXPECT_EQ(Bytes(MiddlePart(text, 2, 0)), "");
  EXPECT_EQ(Bytes(MiddlePart(text, 2, -3)), "");
  EXPECT_EQ(Bytes(MiddlePart(text, INT32_MAX, INT32_MAX)), "");
  EXPECT_EQ(Bytes(MiddlePart(text, 1, INT32_MAX)), "abcde");
}

TEST(TextTest, StatusAfterStxIsDefinedEverywhere) {
  // The byte after the first STX; the first byte without STX; nothing when
  // STX is last.
  auto status = [](const Text& reply) {
    return Bytes(MiddlePart(reply, FindInText(reply, Text("\x02")) + 1, 1));
  };
  EXPECT_EQ(status(Text("\x01\x02S12")), "S");
  EXPECT_EQ(status(Text("U12")), "U");
  EXPECT_EQ(status(Text("ab\x02")), "");
}

TEST(TextTest, FillingInPlaceReadsUpToTheFirstZeroByte) {
  Text buffer = SpaceRun(8);
  int32_t offered = 0;
  buffer.FillInPlace([&](std::span<char> storage) {
    offered = static_cast<int32_t>(storage.size());
    std::memcpy(storage.data(), "AB", 2);
  });
  EXPECT_EQ(offered, 8);
  EXPECT_EQ(Bytes(buffer), "AB      ");

  buffer = SpaceRun(8);
  buffer.FillInPlace([](std::span<char> storage) { std::memcpy(storage.data(), "A\0B", 3); });
  EXPECT_EQ(Bytes(buffer), "A");
  EXPECT_EQ(TextLength(buffer), 1);

  // The whole storage may be written; nothing lies beyond it.
  buffer = SpaceRun(4);
  buffer.FillInPlace([](std::span<char> storage) { std::memset(storage.data(), 'x', storage.size()); });
  EXPECT_EQ(Bytes(buffer), "xxxx");

  Text empty;
  empty.FillInPlace([](std::span<char> storage) { EXPECT_TRUE(storage.empty()); });
  EXPECT_EQ(TextLength(empty), 0);
}

}  // namespace
}  // namespace runtime
