#include "station/options.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace station {
namespace {

Command CommandOf(const std::vector<std::string>& arguments) {
  return ParseArguments(arguments).command;
}

TEST(OptionsTest, ArgumentsWithoutDashesStillWeigh) {
  EXPECT_EQ(CommandOf({}), Command::kWeigh);
  // Starting programs have always passed whatever they liked.
  EXPECT_EQ(CommandOf({"/x", "-check", "check", "C:\\kantar", "-", ""}), Command::kWeigh);
}

TEST(OptionsTest, EachOptionIsRecognisedAnywhere) {
  EXPECT_EQ(CommandOf({"--help"}), Command::kHelp);
  EXPECT_EQ(CommandOf({"/?"}), Command::kHelp);
  EXPECT_EQ(CommandOf({"--version"}), Command::kVersion);
  EXPECT_EQ(CommandOf({"junk", "--check"}), Command::kCheck);
  EXPECT_EQ(CommandOf({"--list-ports", "junk"}), Command::kListPorts);
  EXPECT_EQ(CommandOf({"--check", "--check"}), Command::kCheck);
}

TEST(OptionsTest, MisspeltOrConflictingOptionsAreUsageErrors) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--chek"},
                                             {"--"},
                                             {"--CHECK"},
                                             {"--check="},
                                             {"--help", "--bogus"},
                                             {"--bogus", "--help"},
                                             {"--check", "--list-ports"}}) {
    const Invocation invocation = ParseArguments(arguments);
    EXPECT_EQ(invocation.command, Command::kUsageError) << arguments.back();
  }
  EXPECT_EQ(ParseArguments({"x", "--chek", "--check"}).offending, "--chek");
  const std::string line = UsageErrorText("--chek");
  EXPECT_NE(line.find("--chek"), std::string::npos);
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
}

TEST(OptionsTest, HelpTellsTheRuleTheOptionsAndEveryExitStatus) {
  const std::string help = HelpText();
  EXPECT_EQ(help.rfind(VersionText(), 0), 0u);
  for (const char* needed :
       {"--check", "--list-ports", "--help", "/?", "--version", "Kavrin.inf", "log.txt",
        "raspuns\\cant.txt", "do not begin with --", "(exit status 2)", "  0  ", "  3  ", "  4  ",
        "  5  ", "  6  ", "  7  "}) {
    EXPECT_NE(help.find(needed), std::string::npos) << needed;
  }
}

TEST(OptionsTest, PortListHasOneLineEach) {
  EXPECT_EQ(PortListText({{"COM3", "listed by Windows as \\Device\\Serial2"},
                          {"/dev/ttyUSB0", "USB serial adapter"}}),
            "COM3  (listed by Windows as \\Device\\Serial2)\n"
            "/dev/ttyUSB0  (USB serial adapter)\n");
  EXPECT_EQ(PortListText({}), "No serial ports found.\n");
}

TEST(OptionsTest, IdentificationShowsOnlyAWholeDigestElseWhyNot) {
  const std::string hex = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
  runtime::FileDigest program;
  program.path = "/usr/bin/weigh";
  program.sha256 = hex;
  EXPECT_EQ(IdentificationText(program),
            "Program file: /usr/bin/weigh\nSHA-256: " + hex + "\n");

  // A failure, and digests that must not be taken for the file's: cut,
  // garbled, or come with a failure.
  const std::string reason = "the file cannot be opened: Permission denied (system code 13)";
  for (const auto& [sha256, failure] : std::vector<std::pair<std::string, std::string>>{
           {"", reason}, {hex.substr(0, 63), ""}, {hex.substr(1) + "G", ""}, {hex, reason}, {"", ""}}) {
    program.sha256 = sha256;
    program.failure = failure;
    const std::string text = IdentificationText(program);
    EXPECT_EQ(text.rfind("Program file: /usr/bin/weigh\nSHA-256: cannot be computed: ", 0), 0u)
        << text;
    EXPECT_EQ(text.find(hex.substr(8, 40)), std::string::npos) << text;
    if (!failure.empty()) {
      EXPECT_NE(text.find(reason), std::string::npos) << text;
    }
    EXPECT_EQ(text.back(), '\n');
  }
}

}  // namespace
}  // namespace station
