// scale-sim end to end: the simulator is started as its own process on a
// new pseudo-terminal, and the station's scale dialogue talks to it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "runtime/platform/testing/scratch_directory.h"
#include "runtime/program_heap.h"
#include "runtime/serial_port.h"
#include "runtime/text.h"
#include "runtime/text_file.h"
#include "station/scale_dialogue.h"
#include "station/station.h"

extern char** environ;

namespace {

using runtime::Text;
using station::WaitLimits;

// The weight text as the dialogue returns it: STX, then the digits.
std::string StxAnd(const char* text) { return std::string(1, '\x02') + text; }
const std::string kWeight = StxAnd("12.50");

// One run of scale-sim with its standard error in a file.
class ScaleSim {
 public:
  explicit ScaleSim(std::vector<std::string> args) {
    trace_path_ = "/tmp/scale-sim-test-XXXXXX";
    int trace = mkstemp(trace_path_.data());
    int out[2];
    if (trace < 0 || pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, trace, 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), SCALE_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, SCALE_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(trace);
    out_ = out[0];
  }
  ScaleSim(const ScaleSim&) = delete;
  ScaleSim& operator=(const ScaleSim&) = delete;
  ~ScaleSim() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    unlink(trace_path_.c_str());
  }

  // Standard output until it closes or `timeout_ms` passed.
  std::string Output(int timeout_ms = 2000) {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd readable{out_, POLLIN, 0};
      if (poll(&readable, 1, 50) <= 0) continue;
      char buffer[4096];
      ssize_t got = read(out_, buffer, sizeof(buffer));
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }

  // The first line of standard output: the line's path.
  const std::string& Path() {
    if (!path_.empty()) return path_;
    std::string& path = path_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char byte;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd readable{out_, POLLIN, 0};
      if (poll(&readable, 1, 50) <= 0) continue;
      if (read(out_, &byte, 1) != 1 || byte == '\n') break;
      path += byte;
    }
    return path;
  }

  // Waits up to `timeout_ms` for the exit; its status, or -1.
  int Exit(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  // How many lines of the trace contain `what`.
  int TraceCount(const std::string& what) const {
    std::ifstream trace(trace_path_);
    int count = 0;
    for (std::string line; std::getline(trace, line);)
      count += line.find(what) != std::string::npos;
    return count;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string path_;
  std::string trace_path_;
};

class ScaleSimTest : public testing::Test {
 protected:
  void SetUp() override {
    runtime::CreateProgramHeap();
    runtime::StartFiles();
    runtime::StartPorts();
  }
  void TearDown() override {
    runtime::CloseAllPorts();
    runtime::CloseAllFiles();
    runtime::DestroyProgramHeap();
  }

  static std::string Query(ScaleSim& sim, WaitLimits limits = WaitLimits{1000, 10000}) {
    std::string path = sim.Path();
    EXPECT_FALSE(path.empty());
    return std::string(station::QueryScale(Text(path), limits).view());
  }
};

TEST_F(ScaleSimTest, HelpAndBadScripts) {
  ScaleSim help({"--help"});
  EXPECT_NE(help.Output().find("Usage: scale-sim"), std::string::npos);
  EXPECT_EQ(help.Exit(2000), 0);
  for (const char* bad : {"stable", "weight:1", "raw:123", "garbage:x", "stable:1/gap", "--nope"}) {
    ScaleSim sim({bad});
    EXPECT_EQ(sim.Exit(2000), 2) << bad;
  }
  ScaleSim none(std::vector<std::string>{});
  EXPECT_EQ(none.Exit(2000), 2);
}

TEST_F(ScaleSimTest, AnswersARequestWithAStableReading) {
  ScaleSim sim({"stable:12.50"});
  std::string path = sim.Path();
  ASSERT_NE(runtime::OpenPort(0, Text(path), 9600, 0, 8, 1.0f, 0, 1024, 1024), 0);
  ASSERT_EQ(runtime::WritePortText(0, Text("\x05\x11")), 2);
  std::string reply(15, '\0');
  int32_t got = 0;
  for (int i = 0; i < 500 && got < 15; ++i) {
    runtime::Pause(10);
    int32_t waiting = runtime::PortInputCount(0);
    if (waiting > 0)
      got += runtime::ReadPortData(0, reply.data() + got, std::min(waiting, 15 - got));
  }
  ASSERT_EQ(got, 15);
  EXPECT_EQ(reply.substr(0, 12), std::string("\x01\x02S  12.50kg"));
  const unsigned char check = static_cast<unsigned char>(reply[12]);
  EXPECT_GE(check, 0x40);  // never a control byte or a space
  EXPECT_LT(check, 0x80);
  EXPECT_EQ(reply.substr(13), "\x03\x04");
  EXPECT_EQ(sim.TraceCount(" rx 05 11"), 1);
  EXPECT_EQ(sim.TraceCount(" tx 01 02 53 20 20 31 32 2e 35 30 6b 67"), 1);
}

TEST_F(ScaleSimTest, UnstableReadingsUntilStable) {
  ScaleSim sim({"unstable:12.40", "unstable:12.48", "stable:12.50"});
  EXPECT_EQ(Query(sim), kWeight);
  EXPECT_EQ(sim.TraceCount("request: step"), 3);
}

TEST_F(ScaleSimTest, RepliesInPiecesAndBursts) {
  ScaleSim pieces({"stable:7.25/chunk=3/gap=5"});
  EXPECT_EQ(Query(pieces), StxAnd("7.25"));
  EXPECT_EQ(pieces.TraceCount(" tx "), 5);
  ScaleSim burst({"garbage:1500+stable:12.50"});
  EXPECT_EQ(Query(burst), kWeight);
  // A gap longer than a poll splits the reply into two messages, neither
  // acceptable, and the dialogue waits in vain.
  ScaleSim split({"stable:12.50/chunk=8/gap=120"});
  EXPECT_EQ(Query(split, WaitLimits{400, 10000}), "");
}

TEST_F(ScaleSimTest, ZeroBytesCutThePollsChunk) {
  ScaleSim after({"stable:12.50+nul:2"});
  EXPECT_EQ(Query(after), kWeight);
  ScaleSim before({"nul:1+stable:12.50"});
  EXPECT_EQ(Query(before, WaitLimits{300, 10000}), "");
  EXPECT_EQ(before.TraceCount(" tx 00 01 02 53"), 1);
}

TEST_F(ScaleSimTest, SilenceEndsTheWait) {
  ScaleSim sim({"silence"});
  EXPECT_EQ(Query(sim, WaitLimits{300, 10000}), "");
  EXPECT_EQ(sim.TraceCount(" rx 05 11"), 1);
  EXPECT_EQ(sim.TraceCount(" tx "), 0);
}

TEST_F(ScaleSimTest, StreamsWithoutRequests) {
  ScaleSim sim({"--stream", "60", "unstable:1.00", "stable:2.00"});
  EXPECT_EQ(Query(sim), StxAnd("2.00"));
  EXPECT_EQ(sim.TraceCount("request: step"), 0);
}

TEST_F(ScaleSimTest, ExitsOnceTheScriptIsDone) {
  ScaleSim sim({"--exit", "unstable:3.10", "stable:3.10"});
  EXPECT_EQ(Query(sim), StxAnd("3.10"));
  EXPECT_EQ(sim.Exit(6000), 0);
  // Without --exit it serves on, repeating the last reply.
  ScaleSim serving({"stable:4.00"});
  EXPECT_EQ(Query(serving), StxAnd("4.00"));
  EXPECT_EQ(Query(serving), StxAnd("4.00"));
  EXPECT_EQ(serving.Exit(200), -1);
}

// On a line that others keep open, bytes may wait from before the scale
// started; a request among them is not one to answer.
TEST_F(ScaleSimTest, DeviceModeIgnoresWhatWaitedBeforeItStarted) {
  int master, slave;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw;
  ASSERT_EQ(tcgetattr(slave, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
  ASSERT_EQ(write(master, "\x05\x11", 2), 2);

  ScaleSim sim({"--device", name, "stable:1.00", "stable:2.00"});
  EXPECT_EQ(sim.Path(), name);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(write(master, "\x05\x11", 2), 2);
  std::string replies;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd readable{master, POLLIN, 0};
    if (poll(&readable, 1, 50) <= 0) continue;
    char buffer[256];
    ssize_t got = read(master, buffer, sizeof(buffer));
    if (got > 0) replies.append(buffer, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(replies.substr(0, 12), std::string("\x01\x02S   1.00kg"));
  EXPECT_EQ(replies.size(), 15u);
  EXPECT_EQ(sim.TraceCount("request: step"), 1);
  close(slave);
  close(master);
}

TEST_F(ScaleSimTest, AcquisitionThroughTheConfigurationFile) {
  runtime::platform::ScratchDirectory scratch;
  ASSERT_TRUE(scratch.ok());
  ScaleSim sim({"stable:12.50"});
  std::ofstream(station::CONFIG_FILE_NAME, std::ios::binary) << sim.Path() << "\r\n";
  EXPECT_EQ(std::string(station::AcquireQuantity().view()), kWeight);
}

}  // namespace
