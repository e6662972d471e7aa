#include "nodes/link/TelnetController.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "nodes/link/NodeSocket.h"
#include "platform/Clock.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/Thread.h"
#include "tests/nodes/ScriptedNodeServer.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"

namespace nodes {
namespace {

using testing_support::runMainLoopUntil;
using testing_support::ScriptedNodeServer;
using testing_support::waitForCondition;
using Reply = ScriptedNodeServer::Reply;

constexpr const char* kSmallPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<string>ok</string>\n</plist>\n";

class RecordingLinkDelegate : public TelnetControllerDelegate {
 public:
  void nodeConnectionDidOpen(TelnetController&) override { ++opened; }
  void nodeConnectionDidClose(TelnetController&) override { ++closed; }
  void nodeConnectionDidNotOpen(TelnetController&) override { ++notOpened; }
  std::string nodeUniqueID() const override { return "node-1"; }

  std::atomic<int> opened{0};
  std::atomic<int> closed{0};
  std::atomic<int> notOpened{0};
};

// Runs processCommandSynchronously on a thread of its own, as the node's
// polling thread does.
class PendingCall {
 public:
  PendingCall(TelnetController& controller, std::shared_ptr<TelnetCommand> command)
      : controller_(controller),
        command_(std::move(command)),
        thread_("test.pollingStandIn", [this, &controller](std::stop_token) {
          controller.processCommandSynchronously(command_);
          returned_.store(true);
        }) {}
  // A failed test must not leave the call blocked on a clock nobody advances.
  ~PendingCall() {
    if (!returned()) controller_.stopConnection();
  }
  bool returned() const { return returned_.load(); }
  bool waitReturned() { return waitForCondition([this] { return returned(); }, "the call to return"); }

 private:
  TelnetController& controller_;
  std::shared_ptr<TelnetCommand> command_;
  std::atomic<bool> returned_{false};
  platform::Thread thread_;
};

class TelnetControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { controller_.setDelegate(delegate_); }

  void connect() {
    const int before = delegate_->opened.load();
    controller_.startConnectionWithHostAddress("127.0.0.1", server_.port());
    ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->opened.load() > before; }, "the link to open"));
    ASSERT_TRUE(controller_.isConnected());
  }

  std::shared_ptr<TelnetCommand> send(std::string text, bool xml = false, std::int32_t priority = 0) {
    auto command = std::make_shared<TelnetCommand>(std::move(text), priority, xml);
    controller_.processCommandSynchronously(command);
    return command;
  }

  // Answers "echo X" with "X\r\n", "xml" with a small property list, and
  // whatever `script_` says for the rest.
  Reply answer(const std::string& line) {
    if (line.starts_with("echo ")) return Reply::text(line.substr(5) + "\r\n");
    if (line == "xml") return Reply::text(kSmallPlist);
    return script_ ? script_(line) : Reply::silent();
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::CapturedDiagnostics diagnostics_;
  ScriptedNodeServer::Script script_;
  ScriptedNodeServer server_{[this](const std::string& line) { return answer(line); }};
  std::shared_ptr<RecordingLinkDelegate> delegate_ = std::make_shared<RecordingLinkDelegate>();
  TelnetController controller_;
};

TEST_F(TelnetControllerTest, SendsTextThenLineFeedThenCarriageReturnAndReadsPlainReply) {
  connect();
  const auto command = send("echo OK");
  EXPECT_EQ(server_.receivedBytes(), "echo OK\n\r");
  ASSERT_TRUE(command->hasResponse());
  EXPECT_EQ(command->responseString(), "OK");
  EXPECT_EQ(command->responseData(), "OK\r\n");
  EXPECT_EQ(send("xml", true)->responsePropertyList().value(), platform::Value("ok"));
}

TEST_F(TelnetControllerTest, XMLReplyInPiecesCompletesAtItsEndTagWhateverTextPrecedesIt) {
  // Longer than one read, multi-byte characters cut between pieces, and the
  // end tag split across the last two pieces.
  std::string body;
  for (int i = 0; i < 400; ++i) body += "\xC3\xA9t\xC3\xA9 ";
  const std::string reply = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<string>") +
                            body + "\xE2\x82\xAC</string>\n</plist>\n\r";
  const std::size_t endTag = reply.rfind("</plist>");
  script_ = [&](const std::string&) {
    return Reply::held({reply.substr(0, 101), reply.substr(101, endTag + 3 - 101), reply.substr(endTag + 3)});
  };
  connect();
  auto command = std::make_shared<TelnetCommand>("plist", 0, true);
  PendingCall call(controller_, command);
  ASSERT_TRUE(waitForCondition([&] { return server_.heldPieceCount() == 2; }, "the first piece"));
  server_.release();
  ASSERT_TRUE(waitForCondition([&] { return server_.heldPieceCount() == 1 && server_.isIdle(); }, "the second piece"));
  EXPECT_FALSE(command->isFinished());
  server_.release();
  ASSERT_TRUE(call.waitReturned());
  ASSERT_TRUE(command->hasResponse());
  EXPECT_EQ(command->responseData(), reply);
  EXPECT_EQ(command->responsePropertyList().value(), platform::Value(body + "\xE2\x82\xAC"));
}

struct FramingCase {
  const char* name;
  std::string data;
  bool xml;
  std::optional<std::size_t> end;
};

TEST(NodeReplyFramingTest, PlainRepliesEndAtTheirLineEndAndPropertyListsAtTheirEndTag) {
  const std::string head = "<?xml version=\"1.0\"?><plist>";
  const std::string tail = "</plist>";
  const std::string longWord(5000, 'w');
  const std::vector<FramingCase> cases{
      {"plain word and CR LF", "OK\r\n", false, 4},
      {"plain word without its line end yet", "OK\r", false, std::nullopt},
      {"plain reply longer than one read", longWord + "\r\n", false, longWord.size() + 2},
      {"bytes after a plain line end are not the reply's", "OK\r\nSTALE", false, 4},
      {"empty plain reply", "\r\n", false, 2},
      {"end tag and line feed", head + tail + "\n", true, head.size() + tail.size() + 1},
      {"end tag, LF then CR", head + tail + "\n\r", true, head.size() + tail.size() + 2},
      {"end tag before its line feed arrived", head + tail, true, head.size() + tail.size()},
      {"end tag cut", head + "</pli", true, std::nullopt},
      {"text after the end tag", head + tail + "\nmore", true, head.size() + tail.size() + 1},
      {"multi-byte characters right before the end", head + "\xF0\x9F\x8E\xAC" + tail + "\n", true,
       head.size() + 4 + tail.size() + 1},
      {"stale line end before the property list", "\r" + head + tail + "\n", true, head.size() + tail.size() + 2},
      {"refusal word to a property-list command", "LOCKED\r\n", true, 8},
      {"refusal word without its line end yet", "ERR", true, std::nullopt},
      {"beginning of a header", "<?xm", true, std::nullopt},
      {"plain text holding an end tag", "nothing" + tail + "\n", true, 16},
      {"a property list to a plain command ends at its first line end", head + "\n" + tail + "\n", false,
       head.size() + 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nodeReplyEnd(c.data, c.xml), c.end) << c.name;
    // However the bytes arrive, the end is the same.
    for (std::size_t cut = 0; cut <= c.data.size(); ++cut) {
      const auto early = nodeReplyEnd(std::string_view(c.data).substr(0, cut), c.xml);
      if (early) {
        EXPECT_EQ(early, std::optional<std::size_t>(std::min(*early, c.end.value_or(SIZE_MAX))))
            << c.name << " cut at " << cut;
        continue;
      }
      EXPECT_EQ(nodeReplyEnd(c.data, c.xml, cut), c.end) << c.name << " searched " << cut;
    }
  }
}

TEST(TelnetFramingTest, RefusesCommandTextThatCouldBreakTheLine) {
  const std::vector<std::pair<std::string, bool>> cases{
      {"unlock s3cret", true},
      {"unlock pa\tss", true},
      {std::string("pladditems <?xml version=\"1.0\"?>\n<plist>\n\t<array/>\n</plist>\n"), true},
      {"plinsertitematindex 2 <?xml version=\"1.0\"?>\r\n<plist/>\n<plist></plist>", true},
      {"unlock pass\nwordpbstop", false},
      {"unlock pass\rword", false},
      {"unlock pass\n\rpbstop", false},
      {"pladditems <?xml?>\n\r<plist></plist>", false},
      {std::string("nodename\0x", 10), false},
      {"name \x1b[2J", false},
      {"pladditems <?xml?>\n<plist></plist>\npbstop", false},
  };
  for (const auto& [text, safe] : cases) EXPECT_EQ(TelnetController::checkCommandText(text).ok(), safe) << text;
}

TEST_F(TelnetControllerTest, RefusedCommandFinishesUnansweredAndIsNeverWritten) {
  connect();
  const auto refused = send("unlock pass\nwordpbstop");
  EXPECT_TRUE(refused->isFinished());
  EXPECT_FALSE(refused->hasResponse());
  EXPECT_EQ(send("echo next")->responseString(), "next");
  EXPECT_EQ(server_.lines(), std::vector<std::string>{"echo next"});
}

TEST_F(TelnetControllerTest, ShortReplyToXMLCommandCompletesAtOnce) {
  script_ = [](const std::string&) { return Reply::text("ERROR\r\n"); };
  connect();
  const auto command = send("fmmediaiteminfo a b", true);
  ASSERT_TRUE(command->hasResponse());
  EXPECT_EQ(command->responseString(), "ERROR");
  EXPECT_FALSE(command->responsePropertyList().ok());
}

TEST_F(TelnetControllerTest, PlainReplyInPiecesEndsAtItsLineEndAndNeverShiftsOntoTheNextCommand) {
  const std::string longWord(3 * TelnetController::kReadChunkBytes, 'w');
  script_ = [&](const std::string& line) {
    if (line == "split") return Reply::held({"PA", "RT1", "\r\n"});
    if (line == "long") return Reply::split({longWord.substr(0, 100), longWord.substr(100) + "\r\n"});
    return Reply::silent();
  };
  connect();
  auto first = std::make_shared<TelnetCommand>("split");
  PendingCall call(controller_, first);
  ASSERT_TRUE(waitForCondition([&] { return server_.heldPieceCount() == 2 && server_.isIdle(); }, "the first piece"));
  server_.release();
  ASSERT_TRUE(waitForCondition([&] { return server_.heldPieceCount() == 1 && server_.isIdle(); }, "the second piece"));
  EXPECT_FALSE(first->isFinished());
  server_.release();
  ASSERT_TRUE(call.waitReturned());
  EXPECT_EQ(first->responseString(), "PART1");
  EXPECT_EQ(first->responseData(), "PART1\r\n");
  EXPECT_EQ(send("echo two")->responseString(), "two");
  EXPECT_EQ(send("long")->responseString(), longWord);
  EXPECT_EQ(diagnostics_.count("discarded"), 0u);

  server_.sendUnsolicited("STALE\r\n");
  ASSERT_TRUE(waitForCondition([&] { return diagnostics_.count("discarded 5 bytes") == 1; }, "the discard"));
  EXPECT_EQ(send("echo three")->responseString(), "three");
}

TEST_F(TelnetControllerTest, ReplyThatNeverComesEndsAfterTheLimitOnTheClockAndClosesTheLink) {
  connect();
  auto command = std::make_shared<TelnetCommand>("silent");
  PendingCall call(controller_, command);
  ASSERT_TRUE(waitForCondition([&] { return clock_.waiterCount() == 1 && server_.countLines("silent") == 1; },
                               "the caller to wait"));
  clock_.advance(TelnetController::kReplyTimeLimit - std::chrono::milliseconds(1));
  EXPECT_FALSE(command->isFinished());
  clock_.advance(std::chrono::milliseconds(1));
  ASSERT_TRUE(call.waitReturned());
  EXPECT_FALSE(command->hasResponse());
  EXPECT_FALSE(controller_.isConnected());
  EXPECT_EQ(diagnostics_.count("because of a timeout"), 1u);
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->closed.load() == 1; }, "the close to be reported"));
  ASSERT_TRUE(waitForCondition([&] { return !server_.hasClient(); }, "the server to see the close"));
}

// The caller reads a prompt reply itself; one that comes after it gave up
// waiting on the socket is read by the link thread, and the link goes on.
TEST_F(TelnetControllerTest, ReplySlowerThanTheCallersOwnReadIsTakenOverByTheLinkThread) {
  script_ = [](const std::string& line) { return line == "late" ? Reply::held({"", "late\r\n"}) : Reply::silent(); };
  connect();
  EXPECT_EQ(send("echo prompt")->responseString(), "prompt");
  auto command = std::make_shared<TelnetCommand>("late");
  PendingCall call(controller_, command);
  ASSERT_TRUE(waitForCondition([&] { return clock_.waiterCount() == 1 && server_.countLines("late") == 1; },
                               "the caller to leave the socket"));
  server_.release();
  ASSERT_TRUE(call.waitReturned());
  EXPECT_EQ(command->responseString(), "late");
  EXPECT_EQ(send("echo after")->responseString(), "after");
  EXPECT_TRUE(controller_.isConnected());
}

TEST_F(TelnetControllerTest, DroppedLinkAbandonsEveryCommandOfThatConnectionAndReconnects) {
  script_ = [](const std::string& line) { return line == "drop" ? Reply::drop() : Reply::silent(); };
  connect();
  auto outstanding = std::make_shared<TelnetCommand>("silent");
  PendingCall call(controller_, outstanding);
  ASSERT_TRUE(waitForCondition([&] { return controller_.currentTelnetCommand() == outstanding; }, "the send"));
  auto queued = std::make_shared<TelnetCommand>("echo queued");
  controller_.addNewCommand(queued);
  server_.dropClient();
  ASSERT_TRUE(call.waitReturned());
  EXPECT_FALSE(outstanding->hasResponse());
  EXPECT_TRUE(queued->isFinished());
  EXPECT_FALSE(queued->hasResponse());
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->closed.load() == 1; }, "the close to be reported"));
  ASSERT_TRUE(waitForCondition([&] { return !controller_.communicationsThreadIsRunning(); }, "the link thread to end"));

  connect();
  EXPECT_EQ(send("echo again")->responseString(), "again");
  EXPECT_EQ(server_.connectionCount(), 2u);
  EXPECT_EQ(server_.countLines("echo queued"), 0u);  // not replayed onto the new connection
}

TEST_F(TelnetControllerTest, QueueOrdersByPriorityAndMergesEqualTexts) {
  script_ = [](const std::string& line) { return line == "hold" ? Reply::held({"", "held\r\n"}) : Reply::silent(); };
  connect();
  auto holder = std::make_shared<TelnetCommand>("hold");
  PendingCall call(controller_, holder);
  ASSERT_TRUE(waitForCondition([&] { return server_.heldPieceCount() == 1; }, "the send"));

  const auto make = [](const char* text, std::int32_t priority) {
    return std::make_shared<TelnetCommand>(text, priority);
  };
  auto status = make("echo status", 2), query = make("echo query", 0), control = make("echo control", 2),
       late = make("echo late", 0), duplicate = make("echo query", 2);
  for (const auto& command : {status, query, control, late, duplicate}) controller_.addNewCommand(command);
  const std::vector<std::shared_ptr<TelnetCommand>> expected{status, control, query, late};
  EXPECT_EQ(controller_.telnetCommands(), expected);

  server_.release();
  ASSERT_TRUE(call.waitReturned());
  ASSERT_TRUE(waitForCondition([&] { return late->isFinished(); }, "the queue to drain"));
  EXPECT_EQ(server_.lines(),
            (std::vector<std::string>{"hold", "echo status", "echo control", "echo query", "echo late"}));
  EXPECT_EQ(duplicate->responseString(), "query");
}

TEST_F(TelnetControllerTest, EndlessPlainReplyClosesTheLinkInsteadOfGrowing) {
  script_ = [](const std::string&) {
    const std::string chunk(64 * 1024, 'x');
    return Reply::split(std::vector<std::string>(kMaxPlainReplyBytes / chunk.size() + 1, chunk));
  };
  connect();
  const auto command = send("name");
  EXPECT_FALSE(command->hasResponse());
  EXPECT_FALSE(controller_.isConnected());
  EXPECT_EQ(diagnostics_.count("is longer than"), 1u);
}

// A playlist of 9,000 clips as a node writes it: about 17.6 MB of XML.
std::string largePlaylistReply(std::size_t clips) {
  platform::Array items;
  items.reserve(clips);
  const std::string description(1640, 'd');
  for (std::size_t i = 0; i < clips; ++i) {
    items.push_back(platform::Value(platform::Dictionary{
        {"clipUniqueID", platform::Value("clip-" + std::to_string(i))},
        {"mediaItemPath", platform::Value("/Volumes/Media/Programmes/Evening/item-" + std::to_string(i) + ".mov")},
        {"clipName", platform::Value("Evening item " + std::to_string(i))},
        {"clipDescription", platform::Value(description)},
        {"duration", platform::Value(static_cast<long long>(1500 + i))},
    }));
  }
  return platform::writePropertyList(platform::Value(std::move(items))).value();
}

TEST_F(TelnetControllerTest, LargePlaylistReplyArrivesWhole) {
  const std::string reply = largePlaylistReply(9000);
  ASSERT_GT(reply.size(), 17'500'000u);
  ASSERT_LT(reply.size(), kMaxPropertyListReplyBytes);
  script_ = [&](const std::string&) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < reply.size(); at += 1'000'000) pieces.push_back(reply.substr(at, 1'000'000));
    return Reply::split(std::move(pieces));
  };
  connect();
  const auto command = send("plplaylist", true);
  ASSERT_TRUE(command->hasResponse());
  EXPECT_TRUE(controller_.isConnected());
  const auto playlist = command->responsePropertyList();
  ASSERT_TRUE(playlist.ok());
  ASSERT_NE(playlist.value().array(), nullptr);
  EXPECT_EQ(playlist.value().array()->size(), 9000u);
  EXPECT_EQ(diagnostics_.count("is longer than"), 0u);
}

TEST_F(TelnetControllerTest, StartingWhileTheLinkThreadRunsPostsDidNotOpen) {
  connect();
  int posted = 0;
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      kNodeConnectionDidNotOpenNotification, delegate_.get(), [&](const platform::Notification&) { ++posted; });
  controller_.startConnectionWithHostAddress("127.0.0.1", server_.port());
  EXPECT_EQ(posted, 1);
  EXPECT_TRUE(controller_.isConnected());  // the open link is untouched
  EXPECT_EQ(delegate_->closed.load(), 0);
}

TEST_F(TelnetControllerTest, RefusedConnectionReportsDidNotOpenThenClose) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ::close(listener);  // nothing listens on that port now

  controller_.startConnectionWithHostAddress("127.0.0.1", ntohs(address.sin_port));
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->closed.load() == 1; }, "the failure to be reported"));
  EXPECT_EQ(delegate_->notOpened.load(), 1);
  EXPECT_EQ(delegate_->opened.load(), 0);
  EXPECT_FALSE(controller_.isTryingToConnect());
}

TEST(NodeSocketTest, WriteToAVanishedPeerFailsInsteadOfRepeating) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  detail::NodeSocket socket(pair[0]);
  ::close(pair[1]);
  const detail::IoResult result = socket.writeSome("pbstatus\n\r");
  EXPECT_EQ(result.outcome, detail::IoOutcome::Failed);
  EXPECT_NE(result.error, 0);
}

}  // namespace
}  // namespace nodes
