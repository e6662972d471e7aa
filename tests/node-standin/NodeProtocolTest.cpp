#include <gtest/gtest.h>

#include "tests/node-standin/StandinNodeFixture.h"

namespace standin {
namespace {

using namespace testing_node;

TEST_F(NodeProtocolTest, AnswersEachLineEndingWithPlainAndPropertyListReplies) {
  startNode();
  TestClient client(server_->port());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.command("version"), "200\r\n");
  client.send("nodename\n");
  EXPECT_EQ(client.readReply(false), "Studio A\r\n");
  client.send("nodeuniqueid\r\n");
  EXPECT_EQ(client.readReply(false), "NODE-ID\r\n");

  client.send("pbstatus\n\r");
  const std::string reply = client.readReply(true);
  EXPECT_TRUE(reply.starts_with("<?xml ver"));
  EXPECT_TRUE(reply.ends_with("</plist>\n"));
  const Value status = platform::readPropertyList(reply).value();
  EXPECT_EQ(status["status"].stringOr(""), "NOT_INITIALIZED");
  EXPECT_EQ(status["isAuthenticated"].booleanOr(false), true);
  EXPECT_EQ(status["slaveMode"].booleanOr(true), false);
  EXPECT_TRUE(status["currentDateTime"].isDate());
  EXPECT_TRUE(status["lockedClips"].isArray());
}

TEST_F(NodeProtocolTest, RefusesBadInputAndKeepsServingTheClient) {
  startNode();
  TestClient client(server_->port());
  const std::string refused[] = {
      "nosuchcommand",
      "PBSTATUS",
      "plsetloopmode 2",
      "plsetloopmode",
      "plsetchainmode 1 1",
      "plremoveitematindex -1",
      "fmmediafolderinfo NO-SUCH-FOLDER",
      "fmmediaitemschangessince NO-SUCH-FOLDER 0i",
      "pladditems <?xml this is not a property list",
      "pladditems <?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>",
      "pbplayitem",  // not initialized yet
      "pbscrubtotime nan",
      "bad \xff\xfe text",
      std::string("with\0nul", 8),
  };
  for (const std::string& line : refused) {
    SCOPED_TRACE(line);
    EXPECT_EQ(client.command(line), "ERROR\r\n");
  }
  EXPECT_EQ(client.query("fmmediaiteminfo NO-SUCH-FOLDER NO-ITEM"), std::nullopt);  // short enough to end an XML wait
  EXPECT_EQ(client.command("version"), "200\r\n");
}

TEST_F(NodeProtocolTest, PlaylistTransferThenPlaybackFollowsTheClock) {
  startNode();
  TestClient client(server_->port());
  const std::string before = client.command("pllastchangenumber");
  for (const char* line : {"plclearall", "plsetuniqueid PLAYLIST-1", "plsetloopmode 0", "plsetchainmode 1",
                           "plsetcuemode 0"}) {
    EXPECT_EQ(client.command(line), "OK\r\n") << line;
  }
  EXPECT_EQ(client.command("pladditems " + clipsText()), "OK\r\n");
  EXPECT_NE(client.command("pllastchangenumber"), before);

  const std::optional<Value> playlist = client.query("plplaylist");
  ASSERT_TRUE(playlist && playlist->isArray());
  ASSERT_EQ(playlist->array()->size(), 2u);
  const Value& first = playlist->array()->front();
  EXPECT_EQ(first["clipInfoPlaybackUniqueID"].stringOr(""), "P1");
  EXPECT_DOUBLE_EQ(first["clipInfoDurationInSeconds"].realOr(0), 3.0);  // 4 s file from its 1 s in point
  EXPECT_EQ(first["clipInfoOnline"].booleanOr(false), true);
  EXPECT_EQ(first["clipInfoRelativePathToMediaItem"].stringOr(""), "a.mov");

  EXPECT_EQ(client.query("pbstatus").value()["status"].stringOr(""), "NOT_INITIALIZED");
  EXPECT_EQ(client.command("pbinitialize"), "OK\r\n");
  EXPECT_EQ(client.command("pbplayitem P1 0.500000"), "OK\r\n");
  clock_.advance(3500ms);  // P1 ends after 2.5 s and chains into P2
  Value status = client.query("pbstatus").value();
  EXPECT_EQ(status["status"].stringOr(""), "PLAYING");
  EXPECT_EQ(status["playlistUniqueID"].stringOr(""), "PLAYLIST-1");
  EXPECT_EQ(status["clipPlaybackUniqueID"].stringOr(""), "P2");
  EXPECT_DOUBLE_EQ(status["position"].realOr(-1), 1.0);
  EXPECT_EQ(status["chainMode"].booleanOr(false), true);
  EXPECT_EQ(status["lockedClips"], Value(platform::Array{Value("P2")}));

  EXPECT_EQ(client.command("pbpause"), "OK\r\n");
  clock_.advance(10s);
  EXPECT_EQ(client.query("pbstatus").value()["status"].stringOr(""), "PAUSED");
  EXPECT_EQ(client.command("pbstartscheduler"), "OK\r\n");  // how clients resume without a schedule
  clock_.advance(10s);  // P2 ("Normal") ends the block: stopped on its last frame
  status = client.query("pbstatus").value();
  EXPECT_EQ(status["status"].stringOr(""), "STOPPED");
  EXPECT_EQ(status["clipPlaybackUniqueID"].stringOr(""), "P2");
  EXPECT_DOUBLE_EQ(status["position"].realOr(-1), 5.0);

  EXPECT_EQ(client.command("plremoveitematindex 0"), "OK\r\n");
  EXPECT_EQ(client.query("plplaylist").value().array()->size(), 1u);
}

TEST_F(NodeProtocolTest, MediaFoldersAnswerIDsInfoChangesAndThumbnails) {
  startNode();
  TestClient client(server_->port());
  const std::optional<Value> folders = client.query("fmmediafoldersuniqueids");
  ASSERT_TRUE(folders);
  EXPECT_EQ(*folders, Value(platform::Array{Value(folderID())}));
  EXPECT_EQ(client.query("fmmediafolderinfo " + folderID()).value()["absolutePath"].stringOr(""),
            media_.path().string());
  EXPECT_EQ(client.query("fmmediaitemsuniqueids " + folderID()).value().array()->size(), 2u);
  EXPECT_EQ(client.command("fmlastchangenumber " + folderID()), "2\r\n");

  const Value info = client.query("fmmediaiteminfo " + folderID() + " " + itemID("b.mov")).value();
  EXPECT_EQ(info["clipInfoRelativePathToMediaItem"].stringOr(""), "b.mov");
  EXPECT_DOUBLE_EQ(info["clipInfoDurationInSeconds"].realOr(0), 6.0);
  EXPECT_EQ(info["clipInfoValidationStatus"].integerOr(0), 2);
  EXPECT_EQ(info["clipInfoNodeUniqueID"].stringOr(""), "NODE-ID");

  const Value changes = client.query("fmmediaitemschangessince " + folderID() + " 1i").value();
  ASSERT_EQ(changes.array()->size(), 1u);
  EXPECT_EQ(changes.array()->front()["changeType"].stringOr(""), "mediaItemChangeTypeAdded");

  std::ofstream(media_ / "c.mov") << "c";
  EXPECT_EQ(client.command("fmlastchangenumber " + folderID()), "2\r\n");  // not rescanned yet
  clock_.advance(5s);
  EXPECT_EQ(client.command("fmlastchangenumber " + folderID()), "3\r\n");

  const std::optional<Value> thumbnail =
      client.query("fmmediaitemthumbnail " + folderID() + " " + itemID("a.mov") + " 2.000000");
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(*thumbnail, Value(platform::Data{'I', 'I', 2}));
  EXPECT_EQ(client.query("atattributenames").value().array()->size(), 3u);
  EXPECT_EQ(client.query("atattributeinfo Clip End Behaviour").value()["attributeType"].stringOr(""),
            "MultipleValues");
}

TEST_F(NodeProtocolTest, OnlyClientsThatUnlockedMayControlTheNode) {
  startNode("secret");
  TestClient operatorClient(server_->port());
  TestClient viewer(server_->port());
  EXPECT_EQ(operatorClient.query("pbstatus").value()["isAuthenticated"].booleanOr(true), false);
  EXPECT_EQ(operatorClient.command("pbinitialize"), "LOCKED\r\n");
  EXPECT_EQ(operatorClient.command("unlock wrong"), "ERROR\r\n");
  EXPECT_EQ(operatorClient.command("unlock secret"), "OK\r\n");
  EXPECT_EQ(operatorClient.query("pbstatus").value()["isAuthenticated"].booleanOr(false), true);
  EXPECT_EQ(operatorClient.command("setslavemode 1"), "OK\r\n");

  EXPECT_EQ(viewer.command("plclearall"), "LOCKED\r\n");
  const Value seen = viewer.query("pbstatus").value();
  EXPECT_EQ(seen["slaveMode"].booleanOr(false), true);
  EXPECT_EQ(seen["isAuthenticated"].booleanOr(true), false);

  EXPECT_EQ(operatorClient.command("lock"), "OK\r\n");
  EXPECT_EQ(operatorClient.command("pbstop"), "LOCKED\r\n");
}

TEST_F(NodeProtocolTest, ServesTwoClientsAtOnce) {
  startNode();
  TestClient first(server_->port());
  TestClient second(server_->port());
  first.send("plsetuni");  // an unfinished line holds up no one
  EXPECT_EQ(second.command("plsetuniqueid FROM-SECOND"), "OK\r\n");
  first.send("queid FROM-FIRST\n\r");
  EXPECT_EQ(first.readReply(false), "OK\r\n");
  EXPECT_EQ(second.query("pbstatus").value()["playlistUniqueID"].stringOr(""), "FROM-FIRST");

  // Commands sent back to back are answered in order.
  second.send("version\n\rnodename\n\rnodeuniqueid\n\r");
  EXPECT_EQ(second.readReply(false), "200\r\n");
  EXPECT_EQ(second.readReply(false), "Studio A\r\n");
  EXPECT_EQ(second.readReply(false), "NODE-ID\r\n");
}

TEST_F(NodeProtocolTest, OverlongLineClosesOnlyThatClient) {
  startNode();
  TestClient flooder(server_->port());
  TestClient bystander(server_->port());
  EXPECT_EQ(bystander.command("version"), "200\r\n");
  flooder.send(std::string(kTestLineLimit + 1, 'x'));
  EXPECT_EQ(flooder.readUntilClosed(), "ERROR\r\n");
  EXPECT_EQ(bystander.command("nodename"), "Studio A\r\n");
  TestClient newcomer(server_->port());
  EXPECT_EQ(newcomer.command("version"), "200\r\n");
}

}  // namespace
}  // namespace standin
