// The dry run: its pure pieces, and whole runs in a scratch folder, over a
// real line where the scale matters.
#include "station/check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/diagnosis.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/platform/testing/serial_test_line.h"
#include "runtime/platform/testing/test_thread.h"

namespace station {
namespace {

using runtime::Text;
using runtime::platform::FileContents;
using runtime::platform::PutFile;
using runtime::platform::ScratchDirectory;
using runtime::platform::SerialTestLine;

const std::string kStableReply("\x01\x02S  12.50kg\x7A\x03\x04", 15);

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CheckTest, BytesAreShownWithControlBytesNamed) {
  EXPECT_EQ(VisibleBytes(std::string("\x00\x01\x02S 1\x03\x04\r\n\x7f\xe9", 12)),
            "<NUL><SOH><STX>S 1<ETX><EOT><CR><LF><DEL><0xE9>");
  EXPECT_EQ(VisibleBytes("\x11\x1f"), "<DC1><US>");
  EXPECT_EQ(HexBytes(std::string("\x00\x02 z\xff", 5)), "00 02 20 7a ff");
  EXPECT_EQ(HexBytes(""), "");
}

TEST(CheckTest, NamesKeepTheirLettersAndNameWhatCouldActOnATerminal) {
  // Romanian letters, in and outside the code page, as they are.
  EXPECT_EQ(VisibleName("C:\\Recep\xc8\x9bie\\\xc8\x98tefan \xc3\xa2"),
            "C:\\Recep\xc8\x9bie\\\xc8\x98tefan \xc3\xa2");
  // ESC, and CSI both as a raw byte and as the C1 character in UTF-8.
  EXPECT_EQ(VisibleName("a\x1b[2J\x9b" "1m\xc2\x9b" "0m"), "a<ESC>[2J<0x9B>1m<0xC2><0x9B>0m");
  // Malformed UTF-8: an overlong '/', a surrogate, a sequence cut short.
  EXPECT_EQ(VisibleName("\xc0\xaf|\xed\xa0\x80|\xe2\x82"),
            "<0xC0><0xAF>|<0xED><0xA0><0x80>|<0xE2><0x82>");
  EXPECT_EQ(VisibleName("\x7f\xf0\x9f\x98\x80"), "<DEL>\xf0\x9f\x98\x80");
}

TEST(CheckTest, RepliesAreDescribedAsAWeighingSeesThem) {
  EXPECT_EQ(DescribeReply(Text("\x01\x02S12.50kgz\x03\x04")), "stable, ends with EOT");
  EXPECT_EQ(DescribeReply(Text("\x01\x02U12.40kgz\x03\x04")), "unstable, ends with EOT");
  EXPECT_EQ(DescribeReply(Text("\x02S12.50kgz\x03")), "stable, does not end with EOT");
  EXPECT_EQ(DescribeReply(Text("xyz")),
            "neither stable nor unstable (status \"x\"), no STX, does not end with EOT");
}

TEST(CheckTest, AnswersAreJudgedWithTheirReason) {
  AnswerVerdict silent = JudgeAnswer(false, {}, false, Text());
  EXPECT_EQ(silent.status, CHECK_NO_ANSWER);

  AnswerVerdict good = JudgeAnswer(true, {Text("\x01\x02S12.50kgz\x03\x04")}, true, Text());
  EXPECT_EQ(good.status, CHECK_STABLE_WEIGHT);
  EXPECT_EQ(std::string(good.value.view()),
            "\x02"
            "12.50");

  AnswerVerdict unsteady =
      JudgeAnswer(true, {Text("\x02U1kgz\x03\x04"), Text("\x02U2kgz\x03\x04")}, false, Text());
  EXPECT_EQ(unsteady.status, CHECK_NOT_STABLE);
  EXPECT_TRUE(Contains(unsteady.reason, "was unstable")) << unsteady.reason;

  AnswerVerdict garbled = JudgeAnswer(true, {Text("q#7!")}, false, Text());
  EXPECT_EQ(garbled.status, CHECK_NOT_STABLE);
  EXPECT_TRUE(Contains(garbled.reason, "garbled")) << garbled.reason;

  AnswerVerdict noEot = JudgeAnswer(true, {Text("\x02S1kgz\x03")}, false, Text());
  EXPECT_TRUE(Contains(noEot.reason, "does not end with EOT")) << noEot.reason;

  AnswerVerdict unfinished = JudgeAnswer(true, {}, false, Text("\x02S1"));
  EXPECT_EQ(unfinished.status, CHECK_NOT_STABLE);
  EXPECT_TRUE(Contains(unfinished.reason, "3 bytes")) << unfinished.reason;

  // Accepted, yet ExtractQuantity finds nothing to hand over.
  AnswerVerdict noEtx = JudgeAnswer(true, {Text("\x02S12.50kgz\x04")}, true, Text());
  EXPECT_EQ(noEtx.status, CHECK_EMPTY_VALUE);
  EXPECT_TRUE(Contains(noEtx.reason, "no ETX")) << noEtx.reason;
  AnswerVerdict tooShort = JudgeAnswer(true, {Text("\x02Sk\x03\x04")}, true, Text());
  EXPECT_EQ(tooShort.status, CHECK_EMPTY_VALUE);
  EXPECT_TRUE(Contains(tooShort.reason, "too short")) << tooShort.reason;
}

// Every file of the folder with its bytes, to see that a run changed nothing.
std::string FolderSnapshot() {
  std::string snapshot;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(".")) {
    snapshot += entry.path().string() +
                (entry.is_directory() ? "/" : "=" + FileContents(entry.path().string())) + "\n";
  }
  return snapshot;
}

class CheckRunTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.ok()); }

  // Runs the check with short limits; the folder must be as it was.
  int Check(std::string* report) {
    const std::string before = FolderSnapshot();
    const int status = RunCheck(report, WaitLimits{300, 2000});
    EXPECT_EQ(FolderSnapshot(), before) << "the check changed the folder";
    return status;
  }

  ScratchDirectory scratch_;
};

TEST_F(CheckRunTest, MissingOrEmptyConfigurationIsNeverCreated) {
  std::string report;
  EXPECT_EQ(Check(&report), CHECK_NO_CONFIGURATION);
  EXPECT_TRUE(Contains(report, "1. Kavrin.inf: missing.")) << report;
  EXPECT_TRUE(Contains(report, "(exit status 3).\n")) << report;
  PutFile("Kavrin.inf", "\r\nCOM1\r\n");
  EXPECT_EQ(Check(&report), CHECK_NO_CONFIGURATION);
  EXPECT_TRUE(Contains(report, "It names no port")) << report;
}

TEST_F(CheckRunTest, PortThatDoesNotExistIsNamedWithThePortsThatDo) {
  PutFile("Kavrin.inf", "NOSUCH\x01PORT\r\nignored\r\n");
  std::string report;
  EXPECT_EQ(Check(&report), CHECK_PORT_NOT_OPENED);
  EXPECT_TRUE(Contains(report, "First line: \"NOSUCH<SOH>PORT\"")) << report;
  EXPECT_TRUE(Contains(report, "Device: ")) << report;
  EXPECT_FALSE(Contains(report, "\x01")) << "a control byte went out as it is";
  EXPECT_TRUE(Contains(report, "No such port")) << report;
  EXPECT_TRUE(Contains(report, "3. Scale: not asked.")) << report;
}

TEST_F(CheckRunTest, FilesAreExaminedWithoutChange) {
  PutFile("Kavrin.inf", "NOSUCHPORT\r\n");
  std::filesystem::create_directory("log.txt");
  std::filesystem::create_directory("raspuns");
  PutFile("raspuns/cant.txt",
          "\x02"
          "7.25\r\n");
  std::string report;
  Check(&report);
  EXPECT_TRUE(Contains(report, "log.txt: is a folder")) << report;
  EXPECT_TRUE(Contains(report, "a value is waiting: \"<STX>7.25\"")) << report;
  EXPECT_TRUE(Contains(report, "\"Eroare\"")) << report;
  EXPECT_TRUE(Contains(report, "also a value is waiting")) << report;
}

TEST_F(CheckRunTest, AnythingElseUnderTheHandoffNameIsInTheWay) {
  PutFile("Kavrin.inf", "NOSUCHPORT\r\n");
  std::filesystem::create_directories("raspuns/cant.txt");
  std::string report;
  Check(&report);
  EXPECT_TRUE(Contains(report, "raspuns\\cant.txt: is a folder: the next weighing would show"))
      << report;
  EXPECT_TRUE(Contains(report, "also raspuns\\cant.txt is in the way")) << report;
}

TEST_F(CheckRunTest, LinksAreReportedAsAWeighingTreatsThem) {
  PutFile("Kavrin.inf", "NOSUCHPORT\r\n");
  PutFile("shadow", "root:*:20228\r\n");
  std::filesystem::create_directory("raspuns");
  std::error_code error;
  std::string report;
  for (const char* target : {"../shadow", "../gone"}) {
    std::filesystem::remove("raspuns/cant.txt", error);
    std::filesystem::create_symlink(target, "raspuns/cant.txt", error);
    if (error) GTEST_SKIP() << "cannot make links here: " << error.message();
    Check(&report);
    EXPECT_TRUE(Contains(report, "raspuns\\cant.txt: is a link, which a weighing never reads"))
        << report;
    EXPECT_TRUE(Contains(report, "also raspuns\\cant.txt is in the way")) << report;
    EXPECT_FALSE(Contains(report, "root:")) << report;
  }

  std::filesystem::remove_all("raspuns");
  std::filesystem::create_directory("elsewhere");
  std::filesystem::create_symlink("elsewhere", "raspuns", error);
  std::filesystem::create_symlink("shadow", "log.txt", error);
  Check(&report);
  EXPECT_TRUE(Contains(report, "log.txt: exists and can be appended to.")) << report;
  EXPECT_TRUE(Contains(report, "raspuns: folder exists.")) << report;
  std::string why_not;
  if (!runtime::platform::GiveLinkToOtherUser("log.txt", &why_not) ||
      !runtime::platform::GiveLinkToOtherUser("raspuns", &why_not)) {
    GTEST_SKIP() << why_not;
  }
  Check(&report);
  EXPECT_TRUE(Contains(report, "log.txt: is a link that another user made")) << report;
  EXPECT_TRUE(Contains(report, "raspuns: is a link that another user made")) << report;
  EXPECT_TRUE(Contains(report, "raspuns\\cant.txt: not looked into")) << report;
  EXPECT_TRUE(Contains(report, "also no value can be handed over")) << report;
}

TEST_F(CheckRunTest, FoldersOtherUsersMayWriteAreWarnedAbout) {
  PutFile("Kavrin.inf", "NOSUCHPORT\r\n");
  std::filesystem::create_directory("raspuns");
  runtime::DeviceAccess access;
  if (!runtime::DescribeDeviceAccess(".", &access)) GTEST_SKIP() << "no owners and modes here";
  using std::filesystem::perms;
  std::string report;
  const struct {
    perms folder, raspuns;
    bool folderWarned, raspunsWarned;
  } cases[] = {
      {perms::owner_all, perms::owner_all, false, false},
      {perms::all, perms::owner_all | perms::group_all, true, true},
      {perms::all | perms::sticky_bit, perms::owner_all | perms::others_write, false, true},
      {perms::owner_all | perms::group_read, perms::all | perms::sticky_bit, false, false}};
  for (const auto& c : cases) {
    std::filesystem::permissions(".", c.folder);
    std::filesystem::permissions("raspuns", c.raspuns);
    EXPECT_NE(Check(&report), CHECK_STABLE_WEIGHT);
    EXPECT_EQ(Contains(report, "   This folder: users other than its owner"), c.folderWarned)
        << report;
    EXPECT_EQ(Contains(report, "   raspuns: users other than its owner"), c.raspunsWarned)
        << report;
    EXPECT_EQ(Contains(report, "a folder of its own"), c.folderWarned || c.raspunsWarned) << report;
  }
}

TEST_F(CheckRunTest, StickyFoldersOthersMayWriteAreNamed) {
  PutFile("Kavrin.inf", "NOSUCHPORT\r\n");
  runtime::DeviceAccess access;
  if (!runtime::DescribeDeviceAccess(".", &access)) GTEST_SKIP() << "no owners and modes here";
  using std::filesystem::perms;
  const struct {
    perms folder;
    bool warned;
  } cases[] = {
      {perms::all | perms::sticky_bit, true},
      // Its group may write it: that is other users too.
      {perms::owner_all | perms::group_all | perms::sticky_bit, true},
      {perms::owner_all | perms::group_read | perms::group_exec | perms::sticky_bit, false},
  };
  std::string report;
  for (const auto& c : cases) {
    std::filesystem::permissions(".", c.folder);
    Check(&report);
    EXPECT_EQ(Contains(report, "This folder is sticky, but other users may write it"), c.warned)
        << report;
  }
  std::filesystem::permissions(".", perms::owner_all);
}

TEST_F(CheckRunTest, ALongUnicodeFirstLineIsShownAsAWeighingReadsIt) {
  // Notepad's "Unicode", far over 2048 characters on the first line.
  const std::string name(3000, 'b');
  std::string bytes = "\xFF\xFE";
  for (const char letter : name + "\r\n") bytes += std::string{letter, '\0'};
  PutFile("Kavrin.inf", bytes);
  std::string report;
  Check(&report);
  EXPECT_TRUE(Contains(report, "   First line: \"" + name + "\"\n")) << report.substr(0, 600);
  EXPECT_EQ(DecodePortName(bytes).name.view(), name);
}

TEST_F(CheckRunTest, OneRequestAndTheStableReplyTraced) {
  std::string why_not;
  std::unique_ptr<SerialTestLine> line = SerialTestLine::Create(0, &why_not);
  ASSERT_NE(line, nullptr) << why_not;
  PutFile("Kavrin.inf", line->DeviceName() + "\r\n");
  // Bytes that were waiting before the port was opened are no answer.
  line->PeerWrite("\x02U9.99", 6);
  std::string received;
  runtime::platform::TestThread scale([&] {
    char bytes[8];
    const int32_t got = line->PeerRead(bytes, 2, 3000);
    received.assign(bytes, static_cast<size_t>(got));
    if (got == 2) line->PeerWrite(kStableReply.data(), static_cast<int32_t>(kStableReply.size()));
    // Anything sent after the reply would show up here.
    const int32_t more = line->PeerRead(bytes, 8, 600);
    received.append(bytes, static_cast<size_t>(more));
  });
  std::string report;
  const int status = Check(&report);
  scale.Join();
  EXPECT_EQ(received, "\x05\x11");
  EXPECT_EQ(status, CHECK_STABLE_WEIGHT) << report;
  EXPECT_TRUE(Contains(report, "01 02 53 20 20 31 32 2e 35 30 6b 67 7a 03 04")) << report;
  EXPECT_TRUE(Contains(report, "<SOH><STX>S  12.50kgz<ETX><EOT>")) << report;
  EXPECT_TRUE(Contains(report, "A weighing would hand over: \"<STX>12.50\"")) << report;
  EXPECT_FALSE(Contains(report, "9.99")) << report;
  EXPECT_TRUE(Contains(report, "Verdict: OK")) << report;
}

TEST_F(CheckRunTest, SilentScaleIsNoAnswer) {
  std::string why_not;
  std::unique_ptr<SerialTestLine> line = SerialTestLine::Create(0, &why_not);
  ASSERT_NE(line, nullptr) << why_not;
  PutFile("Kavrin.inf", line->DeviceName() + "\r\n");
  std::string report;
  EXPECT_EQ(Check(&report), CHECK_NO_ANSWER) << report;
  EXPECT_TRUE(Contains(report, "Nothing arrived")) << report;
  char request[2];
  EXPECT_EQ(line->PeerRead(request, 2, 1000), 2);
}

}  // namespace
}  // namespace station
