// The Attributes pane: mixed values, the box, node replacement, pending edits.

#include <gtest/gtest.h>

#include "tests/app/inspector/InspectorFixture.h"

namespace app::inspector::testing {
namespace {

class AttributesPaneTest : public InspectorTest {
 protected:
  void SetUp() override {
    context.attributes[kNodeA] = {makeAttribute("Output", "Logo", "Off", {"Off", "On"}),
                                  makeAttribute("Output", "Caption", "none"),
                                  makeAttribute("alpha plug", "Clip End Behaviour", "Stop", {"Stop", "Loop", "Hold"}),
                                  makeAttribute("Output", "Hidden", "x", {}, false)};
    playlistWindowBecomesKey();
  }
  AttributesClipInspectorViewController& pane() { return inspector.attributesClipInspectorViewController(); }
  AttributeViewController& editor(const std::string& name) {
    AttributeViewController* found = pane().editor(name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
  }
  static std::optional<std::string> attributeOf(const nodes::PlaylistItem& item, const std::string& name) {
    const auto attributes = item.attributes();
    if (!attributes || !attributes->contains(name)) return std::nullopt;
    return attributes->at(name).stringOr("");
  }
};

TEST_F(AttributesPaneTest, OutlineListsWritableAttributesByPluginSortedCaseInsensitively) {
  selectRows({0});
  const auto& plugins = pane().state().plugins;
  ASSERT_EQ(plugins.size(), 2U);
  EXPECT_EQ(plugins[0].first, "alpha plug");
  EXPECT_EQ(plugins[1].first, "Output");
  EXPECT_EQ(plugins[1].second, (std::vector<std::string>{"Caption", "Logo"}));
  EXPECT_EQ(pane().editor("Hidden"), nullptr);
}

TEST_F(AttributesPaneTest, DifferingValuesShowAMixedBoxAnEmptyFieldAndABoldLabel) {
  clip(0)->setAttributes(platform::Dictionary{{"Caption", platform::Value("A")}});
  clip(1)->setAttributes(platform::Dictionary{{"Caption", platform::Value("B")}});
  selectRows({0, 1});
  const AttributeEditorState& state = editor("Caption").state();
  EXPECT_EQ(state.checkBox, CheckState::Mixed);
  EXPECT_EQ(state.value, "");
  EXPECT_TRUE(state.labelBold);
}

TEST_F(AttributesPaneTest, UncheckingRemovesTheValueAndShowsTheDefaultDisabled) {
  clip(0)->setAttributes(platform::Dictionary{{"Caption", platform::Value("A")}});
  clip(1)->setAttributes(platform::Dictionary{{"Caption", platform::Value("A")}});
  selectRows({0, 1});
  AttributeViewController& caption = editor("Caption");
  ASSERT_EQ(caption.state().checkBox, CheckState::On);
  caption.attributeEnabledCheckboxChanged();
  EXPECT_EQ(attributeOf(*clip(0), "Caption"), std::nullopt);
  EXPECT_EQ(attributeOf(*clip(1), "Caption"), std::nullopt);
  EXPECT_EQ(caption.state().checkBox, CheckState::Off);
  EXPECT_EQ(caption.state().value, "none");
  EXPECT_FALSE(caption.state().controlEnabled);
  EXPECT_FALSE(caption.state().labelBold);
  EXPECT_TRUE(document->isDocumentEdited());
}

TEST_F(AttributesPaneTest, PlayingNodeGetsTheClipAndOnlyABRollAlsoPosts) {
  context.playlistOnNode[kNodeA] = "playlist-1";
  selectRows({1});
  editor("Logo").controlTextDidChange("On");
  ASSERT_TRUE(editor("Logo").attributeValueFieldChanged());
  EXPECT_EQ(context.replacements, (std::vector<Replacement>{{1, kNodeA}}));
  EXPECT_EQ(changeNotifications, 0);

  document->setAbRoll(true);
  editor("Logo").controlTextDidChange("Off");
  ASSERT_TRUE(editor("Logo").attributeValueFieldChanged());
  EXPECT_EQ(context.replacements.size(), 2U);
  EXPECT_EQ(changeNotifications, 1);
  EXPECT_EQ(lastChangeInfo.at("playlistUniqueID").stringOr(""), "playlist-1");
}

TEST_F(AttributesPaneTest, ATypedValueIsSavedBeforeTheSelectionChangesAndTheBoxStaysOn) {
  selectRows({0});
  AttributeViewController& caption = editor("Caption");
  caption.controlTextDidChange("typed");
  caption.attributeEnabledCheckboxChanged();  // off -> on writes the typed text
  caption.controlTextDidChange("typed again");
  selectRows({2});
  EXPECT_EQ(attributeOf(*clip(0), "Caption"), "typed again");
  EXPECT_EQ(attributeOf(*clip(2), "Caption"), std::nullopt);
  selectRows({0});
  EXPECT_EQ(editor("Caption").state().checkBox, CheckState::On);
  EXPECT_EQ(editor("Caption").state().value, "typed again");
}

TEST_F(AttributesPaneTest, RefusedValuesChangeNothing) {
  selectRows({0});
  const std::pair<const char*, std::string> refused[] = {
      {"Caption", "line\nbreak"}, {"Caption", std::string(4097, 'x')}, {"Logo", "Sometimes"}};
  for (const auto& [name, value] : refused) {
    editor(name).controlTextDidChange(value);
    EXPECT_FALSE(editor(name).attributeValueFieldChanged()) << name;
    EXPECT_EQ(attributeOf(*clip(0), name), std::nullopt) << name;
  }
  EXPECT_EQ(changeNotifications, 0);
}

TEST_F(AttributesPaneTest, ClipEndBehaviourRecomputesThePlaylistTimesAndExplainsMediaBrowserClips) {
  clip(0)->setMediaItemDurationInSeconds(10);
  selectRows({0});
  editor("Clip End Behaviour").controlTextDidChange("Loop");
  ASSERT_TRUE(editor("Clip End Behaviour").attributeValueFieldChanged());
  EXPECT_EQ(clip(0)->clipEndBehaviour(), nodes::ClipEndBehaviour::Loop);

  context.browserSelection = {clip(1)};
  context.center.post(kMediaBrowserSelectionDidChangedNotification);
  EXPECT_EQ(pane().state().selectionValidation, kMediaBrowserAttributesText);
  EXPECT_TRUE(pane().state().scrollViewHidden);
}

TEST_F(AttributesPaneTest, ExpandedPluginsAndEditorsSurviveANewAttributeList) {
  selectRows({0});
  AttributeViewController* before = pane().editor("Caption");
  pane().outlineViewItemWillExpand("Output");
  context.attributes[kNodeA].push_back(makeAttribute("Output", "Extra"));
  context.center.post(kPossibleClipAttributeDidChangeNotification);
  EXPECT_EQ(pane().editor("Caption"), before);
  EXPECT_NE(pane().editor("Extra"), nullptr);
  EXPECT_TRUE(pane().openPluginNames().contains("Output"));
}

}  // namespace
}  // namespace app::inspector::testing
