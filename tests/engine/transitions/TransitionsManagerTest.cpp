#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/transitions/CVNLayerTransition.h"
#include "engine/transitions/CVNMovieTransition.h"
#include "engine/transitions/CVNTransitionsManager.h"
#include "foundation/CVNLogController.h"
#include "platform/Bundle.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/SilentNotificationCenter.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

Dictionary userLayer(const char* uniqueID, const char* name) {
  return {{"uniqueID", Value(uniqueID)},      {"displayName", Value(name)},    {"transitionType", Value("layer")},
          {"duration", Value(1.0)},           {"itemAEndOffset", Value(1.0)}, {"itemBStartOffset", Value(0.0)},
          {"userTransition", Value(true)}};
}

Dictionary movie(const char* uniqueID, const char* type) {
  return {{"uniqueID", Value(uniqueID)},
          {"displayName", Value(uniqueID)},
          {"transitionType", Value(type)},
          {"duration", Value(1.0)},
          {"CutFrameNumber", Value(10)},
          {"TransitionFilePath", Value("/movies/missing.mov")},
          {"ShouldPremultiplyByAlpha", Value(false)}};
}

std::vector<std::string> names(const CVNTransitionsManager::Transitions& transitions) {
  std::vector<std::string> result;
  for (const auto& transition : transitions) result.push_back(transition->name().value_or(""));
  return result;
}

class TransitionsManagerTest : public ::testing::Test {
 protected:
  TransitionsManagerTest() { manager_.setCustomTransitionsDirectoryPath(folder_.path()); }

  platform::Array shippedTransitions() {
    auto path = platform::Bundle::main()->pathForResource(kDefaultTransitionsResource, "plist");
    EXPECT_TRUE(path);
    auto array = platform::readPropertyListFile(*path);
    EXPECT_TRUE(array && array->array());
    return *array->array();
  }
  Array customFile() {
    auto read = platform::readPropertyListFile(manager_.customTransitionsFilePath());
    return read && read->array() ? *read->array() : Array{};
  }

  testing_support::CapturedDiagnostics diagnostics_;
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::NotificationCenter center_;
  CVNTransitionsManager manager_{&defaults_, center_};
};

TEST_F(TransitionsManagerTest, ShipsTheFiveLayerTransitionsSortedByName) {
  std::string error, warnings;
  ASSERT_TRUE(manager_.loadTransitionsFromArray(shippedTransitions(), &error, &warnings)) << error;
  EXPECT_EQ(warnings, "");
  EXPECT_EQ(names(manager_.transitions()),
            (std::vector<std::string>{"Cover", "Cross Fade", "Fade Out Fade In", "Push", "Reveal"}));
  for (const auto& builtIn : CVNLayerTransition::availableTransitions()) {
    auto loaded = manager_.transitionWithUniqueID(builtIn->uniqueID().value_or(""));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->dictionaryRepresentation(), builtIn->dictionaryRepresentation());
  }
  // Loading is no user action: nothing to undo, nothing saved.
  EXPECT_FALSE(manager_.undoManager().canUndo());
  EXPECT_FALSE(std::filesystem::exists(manager_.customTransitionsFilePath()));

  // The second load adds nothing and names the last duplicate.
  EXPECT_FALSE(manager_.loadTransitionsFromArray(shippedTransitions(), &error, nullptr));
  EXPECT_EQ(error, "Transition with uniqueID Reveal already exists");
  EXPECT_EQ(manager_.transitions().size(), 5u);

  platform::ScopedStandardUserDefaultsOverride standard(defaults_);
  EXPECT_EQ(CVNTransitionsManager::sharedTransitionsManager().transitions().size(), 5u);
}

TEST_F(TransitionsManagerTest, KeepsValidElementsOfAFileWithBadOnes) {
  const Array array{Value("a string"),
                    Value(userLayer("U1", "Clip 10")),
                    Value(Dictionary{{"transitionType", Value("wipe")}}),
                    Value(Dictionary{{"displayName", Value("no type")}}),
                    Value(movie("Mask", "maskingMovie")),
                    Value(movie("Alpha", "alphaMovie")),
                    Value(userLayer("U2", "Clip 2")),
                    Value(userLayer("U2", "Clip 2 again"))};
  std::string error, warnings;
  EXPECT_FALSE(manager_.loadTransitionsFromArray(array, &error, &warnings));
  EXPECT_EQ(warnings,
            "ignoring transition 0 (must be NSDictionary)\n"
            "ignoring transition 2 (Invalid transition type)\n"
            "ignoring transition 3 (Missing value for TransitionType)\n");
  EXPECT_EQ(error, "Transition with uniqueID U2 already exists");
  // User transitions first; digits compare by value; masking movies load.
  EXPECT_EQ(names(manager_.transitions()), (std::vector<std::string>{"Clip 2", "Clip 10", "Alpha", "Mask"}));

  error.clear();
  EXPECT_TRUE(manager_.loadTransitionsFromArray({Value(7)}, &error, &warnings));
  EXPECT_EQ(error, "");
  EXPECT_EQ(warnings, "ignoring transition 0 (must be NSDictionary)\n");
}

TEST_F(TransitionsManagerTest, RefusesFilesItCannotTrust) {
  const auto write = [&](const char* name, const std::string& bytes) {
    EXPECT_TRUE(platform::writeFileAtomically(folder_ / name, bytes));
    return folder_ / name;
  };
  const std::string dictionaryRoot = *platform::writePropertyList(Value(userLayer("U", "U")));
  const std::string huge = "<plist><array>" + std::string(kMaxTransitionsFileBytes, ' ') + "</array></plist>";
  struct Case {
    std::filesystem::path path;
    bool loads;
    std::string errorStart;
  } const cases[] = {
      {write("dictionary.plist", dictionaryRoot), false, "Invalid transition propertyList, root must be NSArray"},
      {write("damaged.plist", "<plist><array><dict>"), false, ""},
      {write("huge.plist", huge), false, ""},
      {folder_ / "missing.plist", false, "The file \"missing.plist\""},
      {write("notes.txt", "not a property list"), true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.filename().string());
    std::string error;
    EXPECT_EQ(manager_.loadTransitionsFromPropertyListAtURL(c.path, &error, nullptr), c.loads);
    EXPECT_EQ(error.empty(), c.loads);
    EXPECT_EQ(error.rfind(c.errorStart, 0), 0u) << error;
  }
  EXPECT_TRUE(manager_.transitions().empty());

  std::string error;
  EXPECT_FALSE(manager_.loadTransitionsFromUserDefaultsUsingKeyPath("UserTransitions", &error, nullptr));
  EXPECT_EQ(error, "Failed to load transitions from preferences (invalid or missing value for key UserTransitions)");
}

TEST_F(TransitionsManagerTest, HidesListedBuiltInTransitionsAndSavesTheList) {
  defaults_.setObject(Value(Array{Value("Push"), Value("U1")}), kHiddenTransitionsKey);
  Array array = shippedTransitions();
  array.emplace_back(userLayer("U1", "Mine"));
  ASSERT_TRUE(manager_.loadTransitionsFromArray(array, nullptr, nullptr));
  EXPECT_FALSE(manager_.transitionWithUniqueID("Push")->show());
  EXPECT_TRUE(manager_.transitionWithUniqueID("U1")->show());

  manager_.transitionWithUniqueID("Cover")->setShow(false);
  EXPECT_EQ(defaults_.arrayForKey(kHiddenTransitionsKey), (Array{Value("Cover"), Value("Push")}));
  EXPECT_EQ(manager_.undoManager().undoActionName(), "Show/Hide Transition");
  manager_.undoManager().undo();
  EXPECT_TRUE(manager_.transitionWithUniqueID("Cover")->show());
  EXPECT_EQ(defaults_.arrayForKey(kHiddenTransitionsKey), (Array{Value("Push")}));
}

TEST_F(TransitionsManagerTest, FindsByNameWithAScaledCopyOnlyWhereTheDurationIsEditable) {
  ASSERT_TRUE(manager_.loadTransitionsFromArray(shippedTransitions(), nullptr, nullptr));
  ASSERT_TRUE(manager_.addTransitionFromDictionary(movie("Burst", "alphaMovie"), nullptr));
  auto registered = manager_.transitionWithName(std::string("Fade Out Fade In"));
  auto scaled = manager_.transitionWithName(std::string("Fade Out Fade In"), 2.0);
  ASSERT_TRUE(scaled);
  EXPECT_NE(scaled, registered);
  EXPECT_DOUBLE_EQ(scaled->duration(), 2.0);
  EXPECT_DOUBLE_EQ(scaled->itemAEndOffset(), 1.0);
  EXPECT_DOUBLE_EQ(scaled->itemBStartOffset(), 1.0);
  EXPECT_DOUBLE_EQ(registered->duration(), 1.0);

  EXPECT_EQ(manager_.transitionWithName(std::string("Burst"), 2.0), manager_.transitionWithUniqueID("Burst"));
  EXPECT_FALSE(manager_.transitionWithName(std::nullopt, 2.0));
  EXPECT_FALSE(manager_.transitionWithName(std::string("Nothing"), 2.0));

  manager_.checkForMissingClips();
  EXPECT_FALSE(manager_.transitionWithUniqueID("Burst")->online());
}

TEST_F(TransitionsManagerTest, AddsAndRemovesWithUndoAndSavesAFileOthersCanRead) {
  ASSERT_TRUE(manager_.loadTransitionsFromArray(shippedTransitions(), nullptr, nullptr));
  std::string error;
  ASSERT_TRUE(manager_.addTransitionFromDictionary(userLayer("U1", "Mine"), &error)) << error;
  EXPECT_FALSE(manager_.addTransitionFromDictionary(userLayer("U1", "Again"), &error));
  EXPECT_EQ(error, "Transition with uniqueID U1 already exists");
  EXPECT_EQ(manager_.undoManager().undoActionName(), "Add Transition");
  EXPECT_EQ(manager_.transitions().front()->uniqueID(), "U1");

  // The custom file holds only user transitions, in a form python's plistlib reads.
  const auto output = folder_ / "python.txt";
  const std::string command = "python3 -c \"import plistlib,sys; t=plistlib.load(open(sys.argv[1],'rb')); "
                              "print(len(t), t[0]['uniqueID'], t[0]['displayName'], t[0]['userTransition'])\" '" +
                              manager_.customTransitionsFilePath().string() + "' > '" + output.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(*platform::readFile(output), "1 U1 Mine True\n");

  manager_.removeTransitionWithUniqueID("Push");
  EXPECT_EQ(manager_.undoManager().undoActionName(), "Remove Transition");
  manager_.undoManager().undo();
  EXPECT_EQ(manager_.transitions().at(4)->uniqueID(), "Push");
  manager_.undoManager().undo();
  EXPECT_FALSE(manager_.transitionWithUniqueID("U1"));
  EXPECT_TRUE(customFile().empty());
  manager_.undoManager().redo();
  EXPECT_TRUE(manager_.transitionWithUniqueID("U1"));
  EXPECT_EQ(customFile().size(), 1u);
}

TEST_F(TransitionsManagerTest, CustomFileLoadsBackIntoAnotherRegistry) {
  Dictionary withThumbnail = userLayer("U1", "Mine");
  withThumbnail["thumbnail"] = Value(platform::Data{0xFF, 0xD8, 0x00});
  Dictionary userMovie = movie("Burst", "maskingMovie");
  userMovie["userTransition"] = Value(true);
  ASSERT_TRUE(manager_.addTransitionFromDictionary(withThumbnail, nullptr));
  ASSERT_TRUE(manager_.addTransitionFromDictionary(userMovie, nullptr));
  ASSERT_TRUE(manager_.addTransitionFromDictionary(movie("Builtin", "alphaMovie"), nullptr));
  ASSERT_EQ(customFile().size(), 2u);  // only user transitions are the user's to keep

  CVNTransitionsManager reloaded(&defaults_, center_);
  reloaded.setCustomTransitionsDirectoryPath(folder_.path());
  reloaded.loadCustomTransitions();
  ASSERT_EQ(reloaded.transitions().size(), 2u);
  for (const auto& transition : reloaded.transitions()) {
    auto original = manager_.transitionWithUniqueID(transition->uniqueID().value_or(""));
    ASSERT_TRUE(original);
    EXPECT_EQ(transition->dictionaryRepresentation(), original->dictionaryRepresentation());
  }
  EXPECT_FALSE(reloaded.undoManager().canUndo());
}

// What the operator is shown, with its level.
class ShownMessages : public foundation::CVNLogControllerDelegate {
 public:
  bool implementsDisplayLogMessage() const override { return true; }
  void displayLogMessage(const std::string& message, std::int32_t logLevel) override {
    std::lock_guard lock(mutex_);
    messages_.push_back(std::to_string(logLevel) + " " + message);
  }
  std::vector<std::string> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

TEST_F(TransitionsManagerTest, ShowsLoadAndSaveProblemsAndKeepsWhatItHas) {
  foundation::CVNLogController::Environment environment;
  environment.defaults = &defaults_;
  environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
  environment.console = [](std::string_view) {};
  foundation::CVNLogController log(std::move(environment));
  ShownMessages shown;
  log.setLogDelegate(&shown);
  foundation::CVNLogController::setSharedLogControllerForTesting(&log);

  const Array custom{Value(userLayer("U1", "Mine")), Value("stray")};
  ASSERT_TRUE(platform::writePropertyListFile(manager_.customTransitionsFilePath(), Value(custom)));
  manager_.loadCustomTransitions();
  EXPECT_EQ(manager_.transitions().size(), 1u);

  // A folder that is a file: the save fails, the registry keeps the addition.
  ASSERT_TRUE(platform::writeFileAtomically(folder_ / "occupied", "file"));
  manager_.setCustomTransitionsDirectoryPath(folder_ / "occupied");
  ASSERT_TRUE(manager_.addTransitionFromDictionary(userLayer("U2", "Other"), nullptr));
  EXPECT_EQ(manager_.transitions().size(), 2u);

  ASSERT_TRUE(platform::writePropertyListFile(folder_ / "Transitions.plist", Value(Dictionary{})));
  manager_.setCustomTransitionsDirectoryPath(folder_.path());
  manager_.loadCustomTransitions();
  ASSERT_TRUE(log.flush(std::chrono::seconds(5)));
  foundation::CVNLogController::setSharedLogControllerForTesting(nullptr);
  log.setLogDelegate(nullptr);

  const auto messages = shown.messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages.front(), "1 ignoring transition 1 (must be NSDictionary)\n");
  EXPECT_EQ(messages[1].rfind("2 ", 0), 0u) << messages[1];
  EXPECT_EQ(messages.back(), "0 Invalid transition propertyList, root must be NSArray");
}

TEST_F(TransitionsManagerTest, NamesPropertyUndoAfterWhatTheGroupChanged) {
  ASSERT_TRUE(manager_.addTransitionFromDictionary(userLayer("U1", "Mine"), nullptr));
  auto transition = manager_.transitionWithUniqueID("U1");
  auto& undo = manager_.undoManager();

  transition->setName(std::string("Renamed"));
  EXPECT_EQ(undo.undoActionName(), "Transition Name");
  EXPECT_EQ(customFile().at(0)["displayName"], Value("Renamed"));

  undo.beginUndoGrouping();
  transition->setDuration(2.0);
  transition->setDuration(3.0);
  EXPECT_EQ(manager_.undoGroupPresentablePropertyName(), "Transition Duration");
  transition->setItemAEndOffset(0.5);
  transition->setName(std::string("Again"));
  undo.endUndoGrouping();
  EXPECT_EQ(undo.undoActionName(), "Change Multiple Transition Properties");
  EXPECT_EQ(manager_.undoGroupPresentablePropertyName(), "");

  undo.undo();  // every first old value of the group comes back
  EXPECT_EQ(transition->name(), "Renamed");
  EXPECT_DOUBLE_EQ(transition->duration(), 1.0);
  EXPECT_DOUBLE_EQ(transition->itemAEndOffset(), 1.0);
  EXPECT_EQ(undo.redoActionName(), "Change Multiple Transition Properties");
  undo.redo();
  EXPECT_EQ(transition->name(), "Again");
  EXPECT_DOUBLE_EQ(transition->duration(), 3.0);
  undo.undo();
  undo.undo();
  EXPECT_EQ(transition->name(), "Mine");
}

TEST_F(TransitionsManagerTest, AddThenRenameInOneGroupUndoesAsOneAddition) {
  auto& undo = manager_.undoManager();
  undo.beginUndoGrouping();
  ASSERT_TRUE(manager_.addTransitionFromDictionary(userLayer("U1", "Mine"), nullptr));
  manager_.transitionWithUniqueID("U1")->setName(std::string("Renamed"));
  undo.endUndoGrouping();
  EXPECT_EQ(undo.undoActionName(), "Add Transition");

  undo.undo();
  EXPECT_TRUE(manager_.transitions().empty());
  EXPECT_FALSE(undo.canUndo());
  undo.redo();
  EXPECT_EQ(manager_.transitionWithUniqueID("U1")->name(), "Renamed");
}

// Edits, lookups and property changes from several threads while the
// registry and the undo history change under them.
TEST_F(TransitionsManagerTest, StaysConsistentUnderEditsFromSeveralThreads) {
  ASSERT_TRUE(manager_.loadTransitionsFromArray(shippedTransitions(), nullptr, nullptr));
  constexpr int kRounds = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const std::string uniqueID = "T" + std::to_string(t) + "_" + std::to_string(round);
        Dictionary dictionary = userLayer(uniqueID.c_str(), uniqueID.c_str());
        EXPECT_TRUE(manager_.addTransitionFromDictionary(dictionary, nullptr));
        if (auto transition = manager_.transitionWithUniqueID(uniqueID)) transition->setDuration(2.0);
        manager_.transitionWithUniqueID("Cover")->setShow(round % 2 == 0);
        if (round % 3 == 0) manager_.removeTransitionWithUniqueID(uniqueID);
      }
    });
  }
  threads.emplace_back([&] {
    for (int round = 0; round < kRounds; ++round) EXPECT_FALSE(manager_.transitions().empty());
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(manager_.transitions().size(), 5u + 3u * (kRounds - (kRounds + 2) / 3));
  EXPECT_EQ(customFile().size(), manager_.transitions().size() - 5u);
}

}  // namespace
}  // namespace engine
