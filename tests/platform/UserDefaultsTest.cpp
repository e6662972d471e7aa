#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setDiagnosticHandler([this](DiagnosticLevel, const std::string& message) {
      std::lock_guard guard(diagnosticsMutex_);
      diagnostics_.push_back(message);
    });
  }
  void TearDown() override { setDiagnosticHandler(nullptr); }

  std::vector<std::string> diagnostics() {
    std::lock_guard guard(diagnosticsMutex_);
    return diagnostics_;
  }

  Value fileContents() {
    Result<Value> read = readPropertyListFile(file_);
    EXPECT_TRUE(read.ok()) << read.error().describe();
    return read.ok() ? read.value() : Value();
  }

  testing_support::TemporaryDirectory folder_;
  const fs::path file_ = folder_ / "suite.plist";

 private:
  std::mutex diagnosticsMutex_;
  std::vector<std::string> diagnostics_;
};

TEST_F(UserDefaultsTest, ArgumentsBeatPersistentBeatsRegistered) {
  struct Case {
    const char* key;
    const char* expected;  // nullptr: absent
  } cases[] = {
      {"all", "argument"},           {"argumentAndSaved", "argument"}, {"argumentAndRegistered", "argument"},
      {"savedAndRegistered", "saved"}, {"savedOnly", "saved"},           {"registeredOnly", "registered"},
      {"nowhere", nullptr},
  };
  {
    UserDefaults earlier(file_);
    for (const char* key : {"all", "argumentAndSaved", "savedAndRegistered", "savedOnly"}) {
      earlier.setObject("saved", key);
    }
  }
  UserDefaults defaults(file_, {"/usr/bin/playout", "-all", "argument", "-argumentAndSaved", "argument",
                                "-argumentAndRegistered", "argument"});
  defaults.registerDefaults({{"all", "registered"},
                             {"argumentAndRegistered", "registered"},
                             {"savedAndRegistered", "registered"},
                             {"registeredOnly", "registered"}});

  Dictionary everything = defaults.dictionaryRepresentation();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    Value expected = c.expected ? Value(c.expected) : Value();
    EXPECT_EQ(defaults.objectForKey(c.key), expected);
    EXPECT_EQ(Value(everything)[c.key], expected);
  }
  EXPECT_EQ(everything.size(), 6u);
}

TEST_F(UserDefaultsTest, ArgumentValuesAreParsedAsPropertyListLiterals) {
  struct Case {
    const char* text;
    Value expected;
    bool reported;
  } cases[] = {
      {"<true/>", Value(true), false},
      {"<integer>-3</integer>", Value(-3), false},
      {"<array><string>a</string><real>1.5</real></array>", Value(Array{Value("a"), Value(1.5)}), false},
      {"<?xml version=\"1.0\"?><plist version=\"1.0\"><false/></plist>", Value(false), false},
      {"\"quoted \\\"word\\\"\"", Value("quoted \"word\""), false},
      {"3", Value("3"), false},  // plain text stays a string; getters convert
      {"YES", Value("YES"), false},
      {"", Value(""), false},
      {"<integer>3", Value("<integer>3"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto reportsBefore = diagnostics().size();
    UserDefaults defaults("", {"-key", c.text});
    EXPECT_EQ(defaults.objectForKey("key"), c.expected);
    EXPECT_EQ(diagnostics().size() - reportsBefore, c.reported ? 1u : 0u);
  }
}

TEST_F(UserDefaultsTest, ArgumentListPairsKeysWithTheFollowingArgument) {
  UserDefaults defaults("", {"playout", "positional", "-offset", "-3", "--verbose", "-channel", "2", "-dangling"});
  Dictionary expected{{"offset", Value("-3")}, {"channel", Value("2")}};
  EXPECT_EQ(defaults.dictionaryRepresentation(), expected);

  UserDefaults ended("", {"-a", "1", "--", "-b", "2"});
  EXPECT_EQ(ended.dictionaryRepresentation(), (Dictionary{{"a", Value("1")}}));
}

TEST_F(UserDefaultsTest, TypedGettersConvertLikeThePlatform) {
  struct Case {
    Value value;
    std::optional<std::string> string;
    bool boolean;
    std::int64_t integer;
    double real;
  } cases[] = {
      {Value(), std::nullopt, false, 0, 0.0},
      {Value("YES"), "YES", true, 0, 0.0},
      {Value("true"), "true", true, 0, 0.0},
      {Value("no"), "no", false, 0, 0.0},
      {Value("1"), "1", true, 1, 1.0},
      {Value("0"), "0", false, 0, 0.0},
      {Value(" 42 "), " 42 ", true, 42, 42.0},
      {Value("-2.75"), "-2.75", true, -2, -2.75},
      {Value("+7"), "+7", true, 7, 7.0},
      {Value("1e400"), "1e400", false, 0, 0.0},  // out of range: not a number
      {Value("12abc"), "12abc", false, 0, 0.0},
      {Value(true), "1", true, 1, 1.0},
      {Value(7), "7", true, 7, 7.0},
      {Value(0.1), "0.1", true, 0, 0.1},
      {Value(Array{Value(1)}), std::nullopt, false, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.describe());
    UserDefaults defaults("");
    defaults.registerDefaults({{"key", c.value}});
    EXPECT_EQ(defaults.stringForKey("key"), c.string);
    EXPECT_EQ(defaults.boolForKey("key"), c.boolean);
    EXPECT_EQ(defaults.integerForKey("key"), c.integer);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("key"), c.real);
  }

  UserDefaults defaults("");
  defaults.registerDefaults({{"list", Value(Array{Value("a")})}, {"map", Value(Dictionary{{"k", Value(1)}})}});
  EXPECT_EQ(defaults.arrayForKey("list"), (Array{Value("a")}));
  EXPECT_EQ(defaults.dictionaryForKey("map"), (Dictionary{{"k", Value(1)}}));
  EXPECT_FALSE(defaults.arrayForKey("map").has_value());
  EXPECT_FALSE(defaults.dictionaryForKey("absent").has_value());
}

TEST_F(UserDefaultsTest, ChangesArePersistedAtOnceButRegisteredAndArgumentValuesAreNot) {
  const Value nested(Dictionary{{"rows", Value(Array{Value(1), Value("two")})}, {"on", Value(true)}});
  {
    UserDefaults defaults(folder_ / "new folder" / "suite.plist", {"-fromCommandLine", "x"});
    defaults.registerDefaults({{"registered", Value(1)}});
    defaults.setObject(nested, "layout");
    defaults.setObject(2.5, "speed");
    defaults.setObject("gone soon", "temporary");
    defaults.removeObjectForKey("temporary");
    defaults.setObject(Value(), "speed");  // none removes
    // No synchronize(): each change is already on disk.
  }
  UserDefaults reopened(folder_ / "new folder" / "suite.plist");
  EXPECT_EQ(reopened.dictionaryRepresentation(), (Dictionary{{"layout", nested}}));
  EXPECT_TRUE(reopened.synchronize().ok());
  EXPECT_TRUE(diagnostics().empty());
}

// A node name with a control character once made the whole file unwritable,
// so every later setting of the session was lost.
TEST_F(UserDefaultsTest, ValueTheFileCannotHoldIsRefusedAndOtherKeysStillSave) {
  const struct {
    const char* name;
    Value value;
  } cases[] = {
      {"none inside", Value(Array{Value(1), Value()})},
      {"control character", Value(Array{Value(Dictionary{{"nodeName", Value("studio\x01a")}})})},
      {"control character in a key", Value(Dictionary{{"bell\x07", Value(1)}})},
      {"invalid UTF-8", Value("caf\xE9")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TemporaryDirectory folder;
    UserDefaults defaults(folder / "suite.plist");
    const auto reportsBefore = diagnostics().size();
    defaults.setObject(c.value, "bad");
    EXPECT_TRUE(defaults.objectForKey("bad").isNone());
    EXPECT_EQ(diagnostics().size(), reportsBefore + 1);
    defaults.setObject("kept", "good");
    EXPECT_TRUE(defaults.synchronize().ok());
    EXPECT_EQ(UserDefaults(folder / "suite.plist").dictionaryRepresentation(), (Dictionary{{"good", Value("kept")}}));
  }
}

// The reader takes character references the writer refuses: such a value in
// an older file is left out of the next save, and the rest is saved.
TEST_F(UserDefaultsTest, UnwritableValueReadFromTheFileDoesNotBlockSaving) {
  std::ofstream(file_) << "<plist version=\"1.0\"><dict><key>nodeName</key><string>a&#1;b</string>"
                          "<key>speed</key><integer>3</integer></dict></plist>";
  UserDefaults defaults(file_);
  defaults.setObject("new", "other");
  EXPECT_EQ(fileContents(), Value(Dictionary{{"other", Value("new")}, {"speed", Value(3)}}));
  ASSERT_EQ(diagnostics().size(), 1u);
  EXPECT_NE(diagnostics()[0].find("'nodeName'"), std::string::npos) << diagnostics()[0];
}

TEST_F(UserDefaultsTest, UnreadableFileIsKeptAsideAndNotOverwritten) {
  struct Case {
    const char* name;
    std::string contents;
  } cases[] = {
      {"truncated", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>a</key>\n\t<str"},
      {"not XML", "speed = 3;"},
      {"empty", ""},
      {"not a dictionary", "<plist version=\"1.0\"><array><integer>1</integer></array></plist>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TemporaryDirectory folder;
    const fs::path file = folder / "suite.plist";
    std::ofstream(file, std::ios::binary) << c.contents;
    const auto reportsBefore = diagnostics().size();

    UserDefaults defaults(file);
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    ASSERT_EQ(diagnostics().size(), reportsBefore + 1);
    EXPECT_NE(diagnostics().back().find(file.string()), std::string::npos) << diagnostics().back();

    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      if (entry.path().filename().string().starts_with("suite.plist.corrupt-")) aside.push_back(entry.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]).value(), c.contents);

    // The next change writes a fresh file; the kept copy stays as it was.
    defaults.setObject("fresh", "key");
    EXPECT_EQ(UserDefaults(file).objectForKey("key"), Value("fresh"));
    EXPECT_EQ(readFile(aside[0]).value(), c.contents);
  }
}

TEST_F(UserDefaultsTest, EveryFailedSaveIsReportedAndRetriedBySynchronize) {
  const fs::path blocker = folder_ / "config";
  std::ofstream(blocker) << "a file where the folder should be";
  UserDefaults defaults(blocker / "suite.plist");

  defaults.setObject(1, "a");
  defaults.setObject(2, "b");
  EXPECT_EQ(defaults.integerForKey("b"), 2);  // kept in memory
  EXPECT_EQ(diagnostics().size(), 2u);
  EXPECT_FALSE(defaults.synchronize().ok());
  EXPECT_EQ(diagnostics().size(), 3u);

  fs::remove(blocker);
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(UserDefaults(blocker / "suite.plist").dictionaryRepresentation(),
            (Dictionary{{"a", Value(1)}, {"b", Value(2)}}));
}

TEST_F(UserDefaultsTest, ObserversHearChangesOfTheEffectiveValue) {
  UserDefaults defaults(file_, {"-pinned", "argument"});
  std::vector<std::tuple<std::string, Value, Value>> seen;
  auto record = [&](std::string key) {
    return defaults.observeKey(key, [&seen, key](const Value& old, const Value& now) {
      seen.emplace_back(key, old, now);
    });
  };
  ObservationToken volume = record("volume");
  ObservationToken pinned = record("pinned");

  defaults.registerDefaults({{"volume", Value(5)}});  // none -> 5
  defaults.setObject(8, "volume");                    // 5 -> 8
  defaults.setObject(8, "volume");                    // same: silent
  defaults.registerDefaults({{"volume", Value(6)}});  // hidden under the saved 8: silent
  defaults.removeObjectForKey("volume");              // 8 -> registered 6
  defaults.setObject("saved", "pinned");              // hidden under the argument: silent
  defaults.setObject(1, "unobserved");

  using Change = std::tuple<std::string, Value, Value>;
  EXPECT_EQ(seen, (std::vector<Change>{{"volume", Value(), Value(5)},
                                       {"volume", Value(5), Value(8)},
                                       {"volume", Value(8), Value(6)}}));
}

TEST_F(UserDefaultsTest, ObserverMayRemoveItselfAndChangeDefaultsFromItsCallback) {
  UserDefaults defaults(file_);
  int calls = 0;
  ObservationToken token;
  token = defaults.observeKey("mode", [&](const Value&, const Value& now) {
    ++calls;
    token.reset();
    // Re-entering the defaults from a callback must not deadlock.
    defaults.setObject(now.stringOr("") + " (seen)", "lastMode");
  });
  defaults.setObject("live", "mode");
  defaults.setObject("rehearsal", "mode");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(defaults.stringForKey("lastMode"), "live (seen)");
}

TEST_F(UserDefaultsTest, ConcurrentChangesAllReachTheFile) {
  constexpr int kThreads = 4;
  constexpr int kChangesPerThread = 25;
  {
    UserDefaults defaults(file_);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i <= kChangesPerThread; ++i) {
          defaults.setObject(i, "thread" + std::to_string(t));
          EXPECT_GE(defaults.integerForKey("thread" + std::to_string(t)), i);
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }
  Value saved = fileContents();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(saved["thread" + std::to_string(t)], Value(kChangesPerThread)) << "thread " << t;
  }
}

TEST_F(UserDefaultsTest, StandardDefaultsLiveInTheConfigurationFolderAndCanBeReplaced) {
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> saved = oldConfig ? std::optional<std::string>(oldConfig) : std::nullopt;
  ::setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);

  UserDefaults::configureStandard("bad/name", {});
  const char* argv[] = {"playout", "-channel", "<integer>2</integer>", nullptr};
  UserDefaults::configureStandard("vz-test-suite", 3, argv);
  const bool configuredHere = diagnostics().size() == 1;  // only the bad name was refused
  UserDefaults::configureStandard("again", {});
  EXPECT_EQ(diagnostics().size(), configuredHere ? 2u : 3u);

  if (configuredHere) {
    UserDefaults& standard = UserDefaults::standard();
    EXPECT_EQ(standard.persistentDomainFile(), folder_ / "vz-test-suite.plist");
    EXPECT_EQ(standard.integerForKey("channel"), 2);
  }

  UserDefaults replacement("", {"-channel", "9"});
  {
    ScopedStandardUserDefaultsOverride useReplacement(replacement);
    EXPECT_EQ(&UserDefaults::standard(), &replacement);
  }
  EXPECT_NE(&UserDefaults::standard(), &replacement);

  if (saved) {
    ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  if (!configuredHere) GTEST_SKIP() << "the standard defaults were configured earlier in this process";
}

}  // namespace
}  // namespace platform
