#include "station/scale_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace station {
namespace {

using runtime::Text;

// The scale's answer in the worked example; 0x7A stands for its check byte.
const std::string kStableReply("\x01\x02S  12.50kg\x7A\x03\x04", 15);

// The weight text as the dialogue returns it: STX, then the digits.
std::string StxAnd(const char* text) { return std::string(1, '\x02') + text; }
const std::string kWeight = StxAnd("12.50");

// Runs polls over `assembly`, one per chunk; an empty chunk is a quiet poll.
std::vector<PollOutcome> RunPolls(ReplyAssembly* assembly, const std::vector<std::string>& chunks) {
  std::vector<PollOutcome> outcomes;
  for (const std::string& chunk : chunks) {
    if (!chunk.empty()) ReceiveBytes(assembly, chunk);
    outcomes.push_back(FinishPoll(assembly));
  }
  return outcomes;
}

std::string Bytes(const Text& text) { return std::string(text.view()); }

TEST(ScaleReplyTest, WorkedExampleInOnePiece) {
  ReplyAssembly assembly;
  PollOutcome outcome = RunPolls(&assembly, {kStableReply})[0];
  EXPECT_FALSE(outcome.replyCompleted);
  EXPECT_FALSE(outcome.accepted);
  EXPECT_EQ(Bytes(assembly.reply), "");
  EXPECT_EQ(Bytes(assembly.accumulator), std::string("\x01\x02S12.50kg\x7A\x03\x04", 13));
  EXPECT_EQ(Bytes(assembly.receiveBuffer), std::string(RECEIVE_BUFFER_SIZE, ' '));

  outcome = RunPolls(&assembly, {""})[0];
  EXPECT_TRUE(outcome.replyCompleted);
  EXPECT_FALSE(outcome.requestAgain);
  EXPECT_TRUE(outcome.accepted);
  EXPECT_EQ(Bytes(assembly.reply), std::string("\x01\x02S12.50kg\x7A\x03\x04", 13));
  EXPECT_EQ(Bytes(assembly.accumulator), "");
  EXPECT_EQ(Bytes(ExtractQuantity(assembly.reply)), kWeight);
}

TEST(ScaleReplyTest, WorkedExampleSplitOverPolls) {
  for (std::size_t first : {1u, 2u, 3u, 9u, 13u, 14u}) {
    ReplyAssembly assembly;
    std::vector<PollOutcome> outcomes =
        RunPolls(&assembly, {kStableReply.substr(0, first), kStableReply.substr(first), ""});
    EXPECT_FALSE(outcomes[1].accepted) << first;
    EXPECT_TRUE(outcomes[2].accepted) << first;
    EXPECT_EQ(Bytes(ExtractQuantity(assembly.reply)), kWeight) << first;
  }
}

TEST(ScaleReplyTest, UnstableReplyAsksOnceThenStableEnds) {
  std::string unstable = kStableReply;
  unstable[2] = 'U';
  ReplyAssembly assembly;
  std::vector<PollOutcome> outcomes = RunPolls(
      &assembly, {unstable, "", "", "", kStableReply.substr(0, 5), kStableReply.substr(5), ""});
  int requests = 0;
  for (const PollOutcome& outcome : outcomes) requests += outcome.requestAgain ? 1 : 0;
  EXPECT_EQ(requests, 1);
  EXPECT_TRUE(outcomes[1].requestAgain);
  // Further quiet polls complete nothing: the accumulator is empty.
  EXPECT_FALSE(outcomes[2].replyCompleted);
  EXPECT_FALSE(outcomes[5].accepted);
  EXPECT_TRUE(outcomes[6].accepted);
  EXPECT_EQ(Bytes(ExtractQuantity(assembly.reply)), kWeight);
}

TEST(ScaleReplyTest, PollOfOnlySpacesIsQuiet) {
  ReplyAssembly assembly;
  std::vector<PollOutcome> outcomes =
      RunPolls(&assembly, {kStableReply, std::string(RECEIVE_BUFFER_SIZE, ' ')});
  EXPECT_TRUE(outcomes[1].replyCompleted);
  EXPECT_TRUE(outcomes[1].accepted);
  // A few spaces followed by data is not quiet.
  ReplyAssembly other;
  outcomes = RunPolls(&other, {kStableReply, "   x"});
  EXPECT_FALSE(outcomes[1].replyCompleted);
}

TEST(ScaleReplyTest, TwoMessagesWithoutQuietPollFormOneReply) {
  std::string unstable = kStableReply;
  unstable[2] = 'U';
  ReplyAssembly assembly;
  std::vector<PollOutcome> outcomes = RunPolls(&assembly, {unstable, kStableReply, ""});
  // The status comes from the first STX: U, so one more request and no end.
  EXPECT_TRUE(outcomes[2].requestAgain);
  EXPECT_FALSE(outcomes[2].accepted);
}

TEST(ScaleReplyTest, OtherRepliesNeitherAskNorEnd) {
  const std::vector<std::string> replies = {
      std::string("\x02S12.50kgx\x03", 11),      // stable without EOT
      std::string("\x02X12.50kgx\x03\x04", 12),  // unknown status
      std::string("12.50\x02", 6),               // STX last: empty status
      std::string("\x04", 1),
  };
  for (const std::string& reply : replies) {
    ReplyAssembly assembly;
    std::vector<PollOutcome> outcomes = RunPolls(&assembly, {reply, ""});
    EXPECT_TRUE(outcomes[1].replyCompleted) << reply;
    EXPECT_FALSE(outcomes[1].requestAgain) << reply;
    EXPECT_FALSE(outcomes[1].accepted) << reply;
  }
}

TEST(ScaleReplyTest, StatusCharacter) {
  EXPECT_EQ(Bytes(StatusCharacter(Text("\x01\x02Sx"))), "S");
  EXPECT_EQ(Bytes(StatusCharacter(Text("U12\x02S"))), "S");  // after the first STX
  EXPECT_EQ(Bytes(StatusCharacter(Text("U12"))), "U");       // no STX: first character
  EXPECT_EQ(Bytes(StatusCharacter(Text("ab\x02"))), "");
  EXPECT_EQ(Bytes(StatusCharacter(Text())), "");
}

TEST(ScaleReplyTest, CleaningRemovesSpacesAndLineEndsInOrder) {
  EXPECT_EQ(Bytes(CleanChunk(Text("\x02S  1 2.5\r\n0\n\rkg\rx\n"))), "\x02S12.50kgx");
  EXPECT_EQ(Bytes(CleanChunk(Text("a\n\r\n\rb\r\r\n\nc"))), "abc");
  EXPECT_EQ(Bytes(CleanChunk(Text(std::string(RECEIVE_BUFFER_SIZE, ' ')))), "");
}

TEST(ScaleReplyTest, ZeroByteEndsThePollsChunk) {
  ReplyAssembly assembly;
  std::string with_zero("\x01\x02S12", 5);
  with_zero += std::string("\0.50", 4);
  std::vector<PollOutcome> outcomes =
      RunPolls(&assembly, {with_zero, std::string("kgx\x03\x04", 5), ""});
  // ".50" came after the zero byte and is lost.
  EXPECT_EQ(Bytes(assembly.reply), std::string("\x01\x02S12kgx\x03\x04", 10));
  EXPECT_TRUE(outcomes[2].accepted);
  EXPECT_EQ(Bytes(ExtractQuantity(assembly.reply)), StxAnd("12"));

  // A chunk that starts with a zero byte brings nothing but is not quiet.
  ReplyAssembly other;
  outcomes = RunPolls(&other, {kStableReply, std::string("\0x", 2), ""});
  EXPECT_FALSE(outcomes[1].replyCompleted);
  EXPECT_TRUE(outcomes[2].accepted);
}

TEST(ScaleReplyTest, ReceiveTakesAtMostTheBuffer) {
  ReplyAssembly assembly;
  std::string burst(2000, '7');
  EXPECT_EQ(ReceiveBytes(&assembly, burst), RECEIVE_BUFFER_SIZE);
  EXPECT_EQ(assembly.receiveBuffer.size(), RECEIVE_BUFFER_SIZE);
  FinishPoll(&assembly);
  EXPECT_EQ(ReceiveBytes(&assembly, std::string_view(burst).substr(RECEIVE_BUFFER_SIZE)), 976);
  EXPECT_EQ(assembly.receiveBuffer.size(), RECEIVE_BUFFER_SIZE);
  FinishPoll(&assembly);
  FinishPoll(&assembly);
  EXPECT_EQ(Bytes(assembly.reply), burst);
}

struct ExtractionCase {
  const char* name;
  std::string reply;
  std::string quantity;
};

TEST(ScaleReplyTest, Extraction) {
  const std::vector<ExtractionCase> cases = {
      {"worked example", std::string("\x01\x02S12.50kgx\x03\x04"), kWeight},
      {"no ETX", std::string("\x01\x02S12.50kgx\x04"), ""},
      {"ETX before STX", std::string("\x03\x01\x02S12.50kgx\x04"), ""},
      {"ETX two after STX", std::string("\x02S\x03\x04"), ""},
      {"ETX three after STX", std::string("\x02Sk\x03\x04"), ""},
      {"ETX four after STX", std::string("\x02Skg\x03\x04"), "\x02"},
      {"no STX: from the first character", std::string("S12.50kgx\x03\x04"), "12.50k"},
      {"every capital S goes, small s stays", std::string("\x02SS1s2Skgx\x03\x04"), StxAnd("1s2")},
      {"second ETX ignored",
       std::string("\x02S1kgx\x03"
                   "2\x03\x04"),
       StxAnd("1")},
      {"empty", std::string(), ""},
  };
  for (const ExtractionCase& test : cases) {
    EXPECT_EQ(Bytes(ExtractQuantity(Text(test.reply))), test.quantity) << test.name;
  }
}

TEST(ScaleReplyTest, SpaceOrLineEndBeforeEtxMovesTheCut) {
  // Removed before positions are counted, so the unit's last three
  // characters reach one further into the weight.
  for (const char* gap : {" ", "\r", "\n"}) {
    ReplyAssembly assembly;
    RunPolls(&assembly, {std::string("\x01\x02S 12.50kg") + gap + std::string("\x03\x04"), ""});
    EXPECT_EQ(Bytes(ExtractQuantity(assembly.reply)), StxAnd("12.5")) << int(*gap);
  }
}

}  // namespace
}  // namespace station
