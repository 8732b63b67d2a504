// The scale dialogue over a real line: a pseudo-terminal natively, a COM
// pair under Wine. A thread at the far end plays the scale.
#include "station/scale_dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "runtime/platform/clock.h"
#include "runtime/platform/process_control.h"
#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/platform/testing/serial_test_line.h"
#include "runtime/platform/testing/test_thread.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/station.h"

namespace station {
namespace {

using runtime::Text;
using runtime::platform::SerialTestLine;

const std::string kRequest("\x05\x11");
const std::string kStableReply("\x01\x02S  12.50kg\x7A\x03\x04", 15);
const std::string kUnstableReply("\x01\x02U  12.40kg\x7B\x03\x04", 15);

// The weight text as the dialogue returns it: STX, then the digits.
std::string StxAnd(const char* text) { return std::string(1, '\x02') + text; }
const std::string kWeight = StxAnd("12.50");

// The scale at the far end of a line. It answers each request with the next
// reply of its script, repeating the last one; a reply is sent in chunks of
// `chunkSize` bytes (0: in one piece) with `chunkGapMs` between them. An
// empty reply sends nothing. With `tickMs` above 0 it ignores requests and
// sends the next reply every `tickMs` instead.
class Scale {
 public:
  struct Options {
    std::vector<std::string> replies;
    int chunkSize = 0;
    int chunkGapMs = 0;
    int tickMs = 0;
  };

  Scale(SerialTestLine* line, Options options)
      : line_(line), options_(std::move(options)), thread_([this] { Serve(); }) {}
  ~Scale() {
    stop_ = true;
    thread_.Join();
  }

  int requests() const { return requests_; }

 private:
  void Serve() {
    std::string received;
    std::size_t next = 0;
    auto tick = std::chrono::steady_clock::now();
    while (!stop_) {
      char bytes[2];
      int32_t got = line_->PeerRead(bytes, 2, 10);
      received.append(bytes, static_cast<std::size_t>(got));
      if (options_.tickMs > 0) {
        auto now = std::chrono::steady_clock::now();
        if (now - tick >= std::chrono::milliseconds(options_.tickMs)) {
          tick = now;
          Send(Reply(next++));
        }
        continue;
      }
      std::size_t found;
      while ((found = received.find(kRequest)) != std::string::npos) {
        received.erase(0, found + kRequest.size());
        ++requests_;
        Send(Reply(next++));
      }
    }
  }

  const std::string& Reply(std::size_t index) const {
    return options_.replies[std::min(index, options_.replies.size() - 1)];
  }

  void Send(const std::string& reply) {
    std::size_t chunk =
        options_.chunkSize > 0 ? static_cast<std::size_t>(options_.chunkSize) : reply.size();
    for (std::size_t at = 0; at < reply.size() && !stop_; at += chunk) {
      if (at > 0) runtime::platform::SleepMilliseconds(options_.chunkGapMs);
      std::string part = reply.substr(at, chunk);
      line_->PeerWrite(part.data(), static_cast<int32_t>(part.size()));
    }
  }

  SerialTestLine* line_;
  Options options_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  runtime::platform::TestThread thread_;
};

class ScaleDialogueTest : public testing::Test {
 protected:
  void SetUp() override {
    runtime::CreateProgramHeap();
    runtime::StartFiles();
    runtime::StartPorts();
    std::string why_not;
    line_ = SerialTestLine::Create(0, &why_not);
    ASSERT_NE(line_, nullptr) << why_not;
  }
  void TearDown() override {
    scale_.reset();
    runtime::CloseAllPorts();
    runtime::CloseAllFiles();
    runtime::DestroyProgramHeap();
  }

  void StartScale(Scale::Options options) {
    scale_ = std::make_unique<Scale>(line_.get(), std::move(options));
  }

  // Runs the dialogue on the line; `elapsed_ms` gets how long it took.
  std::string Query(const WaitLimits& limits, int64_t* elapsed_ms = nullptr) {
    auto start = std::chrono::steady_clock::now();
    Text quantity = QueryScale(Text(line_->DeviceName()), limits);
    if (elapsed_ms != nullptr) {
      *elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    }
    return std::string(quantity.view());
  }

  // The dialogue closed port number 0 whatever its outcome.
  void ExpectPortClosed() {
    EXPECT_EQ(runtime::PortInputCount(0), 0);
    EXPECT_EQ(runtime::WritePortText(0, Text("x")), 0);
  }

  std::unique_ptr<SerialTestLine> line_;
  std::unique_ptr<Scale> scale_;
};

TEST_F(ScaleDialogueTest, StableReplyInOnePiece) {
  StartScale({.replies = {kStableReply}});
  EXPECT_EQ(Query(WaitLimits()), kWeight);
  EXPECT_EQ(scale_->requests(), 1);
  ExpectPortClosed();
}

TEST_F(ScaleDialogueTest, StableReplyInChunks) {
  StartScale({.replies = {kStableReply}, .chunkSize = 4, .chunkGapMs = 8});
  EXPECT_EQ(Query(WaitLimits()), kWeight);
}

TEST_F(ScaleDialogueTest, UnstableThenStableAsksExactlyOnceMore) {
  StartScale({.replies = {kUnstableReply, kUnstableReply, kStableReply}});
  EXPECT_EQ(Query(WaitLimits()), kWeight);
  // Nothing more is asked once the stable reply was taken.
  runtime::platform::SleepMilliseconds(150);
  EXPECT_EQ(scale_->requests(), 3);
}

TEST_F(ScaleDialogueTest, TwoThousandBytesAtOnce) {
  StartScale({.replies = {std::string(1985, '0') + kStableReply}});
  EXPECT_EQ(Query(WaitLimits()), kWeight);
}

// Operators and the README count on these limits: a slow scale that answers
// after 4 s must still be heard, and a run must end within a minute. The
// other tests pass limits of their own, so only this one sees a change here.
TEST(WaitLimitsTest, StandardLimitsAreFiveSecondsOfSilenceAndAMinuteInAll) {
  const WaitLimits standard;
  EXPECT_EQ(standard.silenceLimit, 5000);
  EXPECT_EQ(standard.totalLimit, 60000);
}

TEST_F(ScaleDialogueTest, SilentScaleEndsAtTheSilenceLimit) {
  StartScale({.replies = {""}});
  int64_t elapsed = 0;
  EXPECT_EQ(Query(WaitLimits{.silenceLimit = 300, .totalLimit = 10000}, &elapsed), "");
  EXPECT_GE(elapsed, 300);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(scale_->requests(), 1);
  ExpectPortClosed();
}

TEST_F(ScaleDialogueTest, UnstableForeverEndsAtTheTotalLimit) {
  StartScale({.replies = {kUnstableReply}});
  int64_t elapsed = 0;
  EXPECT_EQ(Query(WaitLimits{.silenceLimit = 1000, .totalLimit = 1500}, &elapsed), "");
  EXPECT_GE(elapsed, 1500);
  EXPECT_LT(elapsed, 4000);
  EXPECT_GE(scale_->requests(), 5);
  ExpectPortClosed();
}

TEST_F(ScaleDialogueTest, ArrivingBytesKeepTheWaitGoing) {
  // A byte every 100 ms is never silent for 400 ms, so only the total
  // limit ends the wait; the lone bytes are replies that ask for nothing.
  StartScale({.replies = {"x"}, .tickMs = 100});
  int64_t elapsed = 0;
  EXPECT_EQ(Query(WaitLimits{.silenceLimit = 400, .totalLimit = 1500}, &elapsed), "");
  EXPECT_GE(elapsed, 1500);
  EXPECT_LT(elapsed, 4000);
}

TEST_F(ScaleDialogueTest, PortThatCannotOpenEndsAtTheSilenceLimit) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(std::string(QueryScale(Text("NOSUCHPORT"), WaitLimits{300, 10000}).view()), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  ExpectPortClosed();
}

TEST_F(ScaleDialogueTest, AReadingQueuedBeforeTheRequestIsNotTheReply) {
  // An old stable reading waits in the port before the dialogue opens it.
  const std::string oldReading("\x01\x02S  99.99kg\x7A\x03\x04", 15);
  ASSERT_EQ(line_->PeerWrite(oldReading.data(), static_cast<int32_t>(oldReading.size())),
            static_cast<int32_t>(oldReading.size()));
  runtime::platform::SleepMilliseconds(200);
  StartScale({.replies = {kStableReply}});
  EXPECT_EQ(Query(WaitLimits()), kWeight);
  EXPECT_EQ(scale_->requests(), 1);
}

// Another program holds the scale's port: the fixture opens it first.
class PortInUseTest : public ScaleDialogueTest {
 protected:
  void SetUp() override {
    ScaleDialogueTest::SetUp();
    if (runtime::platform::RunningUnderWine()) {
      GTEST_SKIP() << "Wine does not refuse a second open of a COM port";
    }
    other_ = runtime::platform::OpenSerialDevice(line_->DeviceName().c_str(),
                                                 {9600, 0, 8, 1.0f, 0, 1024, 1024});
    ASSERT_NE(other_, 0);
    StartScale({.replies = {kStableReply}});
  }
  void TearDown() override {
    if (other_ != 0) runtime::platform::CloseSerial(other_);
    ScaleDialogueTest::TearDown();
  }

  runtime::platform::PortHandle other_ = 0;
};

TEST_F(PortInUseTest, WaitedForBeyondTheSilenceLimit) {
  // The other program lets go after longer than the silence limit: the
  // dialogue waits for it, then weighs.
  const runtime::platform::PortHandle other = other_;
  other_ = 0;
  runtime::platform::TestThread release([other] {
    runtime::platform::SleepMilliseconds(800);
    runtime::platform::CloseSerial(other);
  });
  int64_t elapsed = 0;
  EXPECT_EQ(Query(WaitLimits{.silenceLimit = 300, .totalLimit = 5000}, &elapsed), kWeight);
  release.Join();
  EXPECT_GE(elapsed, 800);
  EXPECT_EQ(scale_->requests(), 1);
}

TEST_F(PortInUseTest, HeldForeverEndsAtTheTotalLimit) {
  int64_t elapsed = 0;
  EXPECT_EQ(Query(WaitLimits{.silenceLimit = 200, .totalLimit = 1000}, &elapsed), "");
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 4000);
  EXPECT_EQ(scale_->requests(), 0);
}

// The configuration file and the whole acquisition, in a fresh current
// directory.
class AcquireQuantityTest : public ScaleDialogueTest {
 protected:
  void SetUp() override {
    ScaleDialogueTest::SetUp();
    ASSERT_TRUE(scratch_.ok());
  }

  static void WriteConfig(const std::string& content) {
    runtime::platform::PutFile(CONFIG_FILE_NAME, content);
  }
  static std::string ReadConfig() { return runtime::platform::FileContents(CONFIG_FILE_NAME); }

  // Acquires with the standard silence limit unless told otherwise;
  // `elapsed_ms` gets how long it took.
  std::string Acquire(int64_t* elapsed_ms = nullptr,
                      WaitLimits limits = WaitLimits{.silenceLimit = 5000, .totalLimit = 10000}) {
    auto start = std::chrono::steady_clock::now();
    std::string quantity(AcquireQuantity(limits).view());
    if (elapsed_ms != nullptr) {
      *elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    }
    return quantity;
  }

  runtime::platform::ScratchDirectory scratch_;
};

TEST_F(AcquireQuantityTest, FirstRunWritesTheDefaultAndReturnsAtOnce) {
  StartScale({.replies = {kStableReply}});
  int64_t elapsed = 0;
  EXPECT_EQ(Acquire(&elapsed), "");
  EXPECT_LT(elapsed, 1000);
  EXPECT_EQ(ReadConfig(), "COM1\r\n");
  EXPECT_EQ(runtime::IsFileOpen(0), 0);
  EXPECT_EQ(scale_->requests(), 0);
}

TEST_F(AcquireQuantityTest, EmptyOrOneByteConfigurationIsRewritten) {
  for (const std::string content : {"", "X"}) {
    WriteConfig(content);
    int64_t elapsed = 0;
    EXPECT_EQ(Acquire(&elapsed), "") << content;
    EXPECT_LT(elapsed, 1000) << content;
    EXPECT_EQ(ReadConfig(), "COM1\r\n") << content;
  }
}

TEST_F(AcquireQuantityTest, ALinkInThePlaceOfTheConfigurationIsNeverWrittenThrough) {
  runtime::platform::PutFile("small", "X");
  for (const char* target : {"gone", "small"}) {
    std::error_code error;
    std::filesystem::remove(CONFIG_FILE_NAME, error);
    std::filesystem::create_symlink(target, CONFIG_FILE_NAME, error);
    if (error) GTEST_SKIP() << "cannot make links here: " << error.message();
    int64_t elapsed = 0;
    EXPECT_EQ(Acquire(&elapsed), "") << target;
    EXPECT_LT(elapsed, 1000) << target;
    EXPECT_TRUE(std::filesystem::is_symlink(CONFIG_FILE_NAME)) << target;
  }
  EXPECT_FALSE(std::filesystem::exists("gone"));
  EXPECT_EQ(runtime::platform::FileContents("small"), "X");
}

TEST_F(AcquireQuantityTest, DirectoryInThePlaceOfTheConfigurationGivesNothing) {
  ASSERT_TRUE(std::filesystem::create_directory(CONFIG_FILE_NAME));
  int64_t elapsed = 0;
  EXPECT_EQ(Acquire(&elapsed), "");
  EXPECT_LT(elapsed, 1000);
  EXPECT_TRUE(std::filesystem::is_directory(CONFIG_FILE_NAME));
}

TEST_F(AcquireQuantityTest, ConfiguredPortGivesTheWeight) {
  const std::string config = line_->DeviceName() + "\r\nignored\r\n";
  WriteConfig(config);
  StartScale({.replies = {kUnstableReply, kStableReply}});
  EXPECT_EQ(Acquire(), kWeight);
  EXPECT_EQ(scale_->requests(), 2);
  // The configuration is closed once read: a second run must be able to
  // read it while this one weighs.
  EXPECT_EQ(runtime::IsFileOpen(0), 0);
  EXPECT_EQ(ReadConfig(), config);
  ExpectPortClosed();
}

// `text`, ASCII, as UTF-16 with its byte order mark.
std::string Utf16(const std::string& text, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char letter : text) {
    bytes += little ? std::string{letter, '\0'} : std::string{'\0', letter};
  }
  return bytes;
}

TEST_F(AcquireQuantityTest, NotepadsUtf8AndUnicodeConfigurationsWeigh) {
  StartScale({.replies = {kStableReply}});
  const std::string line = line_->DeviceName() + "\r\nignored\r\n";
  for (const std::string& config : {"\xEF\xBB\xBF" + line, Utf16(line, true), Utf16(line, false)}) {
    WriteConfig(config);
    EXPECT_EQ(Acquire(), kWeight) << config;
    EXPECT_EQ(ReadConfig(), config);
  }
  EXPECT_EQ(scale_->requests(), 3);
}

TEST(PortNameTest, PlainBytesReadAsAlwaysAndMarksAreDecoded) {
  const std::string nul("COM5\0x", 6);
  const struct {
    std::string bytes;
    std::string name;
    ConfigEncoding encoding;
  } kCases[] = {
      // Plain bytes: the first line as ReadLine takes it, at most 4096 bytes.
      {"COM5\r\nCOM6", "COM5", ConfigEncoding::kPlainBytes},
      {nul, "COM5", ConfigEncoding::kPlainBytes},
      {"CO\rM", "CO", ConfigEncoding::kPlainBytes},
      {std::string(5000, 'a'), std::string(4096, 'a'), ConfigEncoding::kPlainBytes},
      {std::string("\xEF\xBB") + "COM5", std::string("\xEF\xBB") + "COM5",
       ConfigEncoding::kPlainBytes},
      {"\xEF\xBB\xBF", "", ConfigEncoding::kUtf8WithMark},
      {std::string("\xEF\xBB\xBF") + "COM\xC8\x99\n", "COM\xC8\x99", ConfigEncoding::kUtf8WithMark},
      // UTF-16: up to CR, LF or a zero character; an odd last byte is no
      // character.
      {Utf16("COM12\nx", true) + "C", "COM12", ConfigEncoding::kUtf16LittleEndian},
      {Utf16(std::string(5000, 'b'), true), std::string(4096, 'b'),
       ConfigEncoding::kUtf16LittleEndian},
      // An odd last byte with no line end before it is no character, and a
      // zero character ends the line whatever follows.
      {Utf16("COM7", true) + "C", "COM7", ConfigEncoding::kUtf16LittleEndian},
      {Utf16("COM7", false) + "C", "COM7", ConfigEncoding::kUtf16BigEndian},
      {Utf16("COM5", true) + std::string("\0\0\x19\x02", 4), "COM5",
       ConfigEncoding::kUtf16LittleEndian},
      {Utf16("COM5", false) + std::string("\0\0\x02\x19", 4), "COM5",
       ConfigEncoding::kUtf16BigEndian},
  };
  for (const auto& one : kCases) {
    const PortNameLine line = DecodePortName(one.bytes);
    EXPECT_EQ(line.name.view(), one.name) << one.bytes;
    EXPECT_EQ(line.encoding, one.encoding) << one.bytes;
    EXPECT_FALSE(line.notAscii) << one.bytes;
  }
  // ș (U+0219) is no letter of a port name, in either byte order, and
  // neither is é (U+00E9), which would fit in one byte.
  for (const std::string& bytes :
       {Utf16("COM", true) + "\x19\x02", Utf16("COM", false) + "\x02\x19",
        Utf16("COM", true) + std::string("\0\x01", 2), Utf16("COM", true) + std::string("\xe9\0", 2),
        Utf16("COM", false) + std::string("\0\xe9", 2), Utf16("COM", true) + std::string("\x80\0", 2)}) {
    const PortNameLine line = DecodePortName(bytes);
    EXPECT_TRUE(line.notAscii);
    EXPECT_TRUE(line.name.empty());
  }
}

TEST_F(AcquireQuantityTest, ConfigurationIsReadWhileAnotherProgramHoldsIt) {
  // Another run, or an editor, has it open for reading and writing.
  WriteConfig(line_->DeviceName() + "\r\n");
  const runtime::FolderHandle here = runtime::HoldCurrentFolder();
  const runtime::ObjectValue other =
      runtime::OpenForUpdate(runtime::AUTO_NUMBER, here, Text(CONFIG_FILE_NAME),
                             runtime::OPTION_SHARE_READ | runtime::OPTION_SHARE_WRITE);
  runtime::ReleaseFolder(here);
  ASSERT_NE(other, 0);
  StartScale({.replies = {kStableReply}});
  EXPECT_EQ(Acquire(), kWeight);
  runtime::CloseTextFile(other);
}


TEST_F(AcquireQuantityTest, APortThatAppearsWhileWaitingIsUsed) {
  // The adapter is plugged in 400 ms into the wait: its name appears then.
  if (line_->DeviceName().front() != '/') {
    GTEST_SKIP() << "a COM port's name cannot be made to appear from here (tested end to end)";
  }
  const std::string later = scratch_.path() + "/adapter";
  StartScale({.replies = {kStableReply}});
  runtime::platform::TestThread plug([&] {
    runtime::platform::SleepMilliseconds(400);
    std::filesystem::create_symlink(line_->DeviceName(), later);
  });
  const Text quantity = QueryScale(Text(later), WaitLimits{.silenceLimit = 3000, .totalLimit = 10000});
  plug.Join();
  EXPECT_EQ(std::string(quantity.view()), kWeight);
  EXPECT_EQ(scale_->requests(), 1);
  ExpectPortClosed();
}

TEST_F(AcquireQuantityTest, EmptyFirstLineEndsAtTheSilenceLimit) {
  WriteConfig("\r\n" + line_->DeviceName() + "\r\n");
  StartScale({.replies = {kStableReply}});
  int64_t elapsed = 0;
  EXPECT_EQ(Acquire(&elapsed, WaitLimits{.silenceLimit = 300, .totalLimit = 10000}), "");
  EXPECT_GE(elapsed, 300);
  EXPECT_EQ(scale_->requests(), 0);
}

}  // namespace
}  // namespace station
