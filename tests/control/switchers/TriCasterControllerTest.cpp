// The TriCaster controller's input table, feed framing, input list and
// program triggers.

#include <gtest/gtest.h>

#include "control/switchers/TriCasterController.h"
#include "platform/RunLoop.h"
#include "tests/support/RunLoopWait.h"

namespace control {
namespace {

TEST(TriCasterControllerTest, InputTypesComeFromTheTallyName) {
  const std::pair<const char*, std::uint64_t> cases[] = {
      {"input1", 2}, {"BFR2", 4}, {"gfx1", 16}, {"preview", 64}, {"me_preview", 128}, {"previz", 512},
      {"black", 4096}, {"v1", 32}, {"V10", 32}, {"vx", 0}, {"ddr1", 0},
  };
  for (const auto& [name, type] : cases) EXPECT_EQ(typeOfInputWithTallyName(name), type) << name;
  EXPECT_EQ(TriCasterInput(32, std::string("v1"), std::nullopt, std::string("V1"), 3).isoLabel, "M/E 1");
  EXPECT_EQ(TriCasterInput(2, std::nullopt, std::nullopt, std::nullopt, 7).switcherInputName, "In 7");
}

TEST(TriCasterControllerTest, TheFeedSplitsAtEveryZeroByteAndBoundsAMessage) {
  TriCasterFeedAssembler assembler(16);
  auto first = assembler.append(std::string("<a/>\0<b/>\0<c", 12));
  EXPECT_EQ(first.messages, (std::vector<std::string>{"<a/>", "<b/>"}));
  auto second = assembler.append(std::string("/>\0", 3));
  EXPECT_EQ(second.messages, (std::vector<std::string>{"<c/>"}));
  auto endless = assembler.append(std::string(40, 'x'));
  EXPECT_TRUE(endless.overflowed);
  EXPECT_TRUE(endless.messages.empty());
  auto after = assembler.append(std::string("<d/>\0", 5));
  EXPECT_EQ(after.messages, (std::vector<std::string>{"<d/>"}));
}

TEST(TriCasterControllerTest, TheInputListPutsBlackFirstAndTakesNumbersAndLabels) {
  pugi::xml_document switcher;
  ASSERT_TRUE(switcher.load_string(
      "<switcher_update><inputs>"
      "<physical_input physical_input_number=\"Input1\" iso_label=\"Camera\"/>"
      "<physical_input physical_input_number=\"input2\"/>"
      "<simulated_input simulated_input_number=\"DDR1\" iso_label=\"Clips\"/>"
      "</inputs></switcher_update>"));
  pugi::xml_document tally;
  ASSERT_TRUE(tally.load_string(
      "<tally><column name=\"input1\" index=\"1\"/><column name=\"input2\" index=\"2\"/>"
      "<column name=\"ddr1\" index=\"3\"/><column name=\"preview\" index=\"4\"/><column name=\"black\" index=\"0\"/></tally>"));
  const auto inputs = TriCasterController::inputsFromDictionaries(switcher, tally, kTriCasterInputTypePreview);
  ASSERT_EQ(inputs.size(), 4u);
  EXPECT_EQ(inputs[0].tallyName, "black");
  EXPECT_EQ(inputs[1].switcherInputName, "Input1");
  EXPECT_EQ(inputs[1].isoLabel, "Camera");
  EXPECT_EQ(inputs[2].isoLabel, "input2");
  EXPECT_EQ(inputs[3].switcherInputName, "DDR1");
  EXPECT_EQ(inputs[3].isoLabel, "Clips");
  pugi::xml_document empty;
  EXPECT_TRUE(TriCasterController::inputsFromDictionaries(switcher, empty, 0).empty());
}

}  // namespace
}  // namespace control
