#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "node-standin/LineFramer.h"

namespace standin {
namespace {

constexpr const char* kClipXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>k</key>\n"
    "\t<string>v</string>\n</dict>\n</plist>\n";

// Feeds the chunks in turn and collects every line handed out.
std::vector<std::string> linesOf(const std::vector<std::string>& chunks, std::size_t limit = 1024) {
  LineFramer framer(limit);
  std::vector<std::string> lines;
  for (const std::string& chunk : chunks) {
    framer.append(chunk);
    for (LineFramer::Next next = framer.next(); next.outcome != LineFramer::Outcome::NeedMore; next = framer.next()) {
      if (next.outcome == LineFramer::Outcome::TooLong) {
        lines.push_back("<too long>");
        return lines;
      }
      lines.push_back(next.line);
    }
  }
  return lines;
}

TEST(LineFramerTest, CutsLinesAtEachAcceptedEnding) {
  const std::string xml = kClipXml;
  const std::string xmlLine = "pladditem " + xml.substr(0, xml.size() - 1);  // trimmed as handed out
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  } cases[] = {
      {"LF CR", {"pbstatus\n\rversion\n\r"}, {"pbstatus", "version"}},
      {"lone LF and CR LF", {"pbstatus\nversion\r\nnodename\n"}, {"pbstatus", "version", "nodename"}},
      {"ending split across reads", {"pbst", "atus\n", "\rversion\n\r"}, {"pbstatus", "version"}},
      {"blank lines skipped", {"\n\r\r\n  \n\rpbstatus\n\r"}, {"pbstatus"}},
      {"blanks in a line kept", {"unlock  pass word \n\r"}, {"unlock  pass word "}},
      {"unfinished line waits", {"pbstatus\n\rversi"}, {"pbstatus"}},
      {"XML keeps its own line feeds", {"pladditem " + xml + "\n\rpbstatus\n\r"}, {xmlLine, "pbstatus"}},
      {"XML in small pieces",
       {"pladditem <?xm", "l version=\"1.0\"?>\n", "<plist version=\"1.0\">\n<dict>\n", "</dict>\n</pl", "ist>\n",
        "\n\r"},
       {"pladditem <?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n</dict>\n</plist>"}},
      {"LF CR ends even inside XML",
       {"pladditem <?xml broken\n\rpbstatus\n\r"},
       {"pladditem <?xml broken", "pbstatus"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(linesOf(c.chunks), c.lines);
  }
}

TEST(LineFramerTest, RefusesALineBeyondTheLimitWithOrWithoutItsEnd) {
  EXPECT_EQ(linesOf({"ok\n\r", std::string(40, 'x')}, 32), (std::vector<std::string>{"ok", "<too long>"}));
  EXPECT_EQ(linesOf({std::string(40, 'x') + "\n\r"}, 32), std::vector<std::string>{"<too long>"});
  // An open XML text that never closes cannot be held forever either.
  EXPECT_EQ(linesOf({"pladditems <?xml\n", std::string(20, 'a') + "\n", std::string(20, 'a') + "\n"}, 32),
            std::vector<std::string>{"<too long>"});
  EXPECT_EQ(linesOf({std::string(32, 'x') + "\n\r"}, 32), std::vector<std::string>{std::string(32, 'x')});
}

TEST(LineFramerTest, ManyLinesInOneReadComeOutInOrder) {
  std::string burst;
  for (int i = 0; i < 2000; ++i) burst += "cmd" + std::to_string(i) + "\n\r";
  const std::vector<std::string> lines = linesOf({burst, "last\n\r"}, 64);
  ASSERT_EQ(lines.size(), 2001u);
  EXPECT_EQ(lines[1999], "cmd1999");
  EXPECT_EQ(lines[2000], "last");
}

}  // namespace
}  // namespace standin
