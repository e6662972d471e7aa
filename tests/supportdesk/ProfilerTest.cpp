#include "support/Profiler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/Files.h"
#include "support/SystemProfile.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/supportdesk/FakeCommandRunner.h"

namespace fs = std::filesystem;
using support::Profiler;

namespace {

class RecordingDelegate : public support::ProfilerDelegate_Protocol {
 public:
  bool respondsTo(std::string_view operation) const override { return operation != "largeFolderZipped"; }
  void systemProfileRetrieved() override { calls.push_back("systemProfileRetrieved"); }
  void supportFolderZipped() override { calls.push_back("supportFolderZipped"); }
  void deviceModelNameRetrieved() override { calls.push_back("deviceModelNameRetrieved"); }
  void logsCollected() override { calls.push_back("logsCollected"); }
  void retrieveLogsFailed() override { calls.push_back("retrieveLogsFailed"); }
  void largeFolderZipped() override { calls.push_back("largeFolderZipped"); }
  platform::Dictionary applicationInfo() override {
    return {{"bundleName", "Vantelio Video"}, {"bundleVersion", "4.2"}};
  }
  std::vector<std::string> calls;
};

Profiler::Date utc(int year, unsigned month, unsigned day, int hour = 0, int minute = 0, int second = 0) {
  using namespace std::chrono;
  return sys_days{std::chrono::year{year} / std::chrono::month{month} / std::chrono::day{day}} + hours(hour) +
         minutes(minute) + seconds(second);
}

void writeFile(const fs::path& path, std::string_view text = "x") {
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(platform::writeFileAtomically(path, text));
}

void setModified(const fs::path& path, Profiler::Date date) {
  fs::last_write_time(path, std::chrono::file_clock::from_sys(date));
}

class ProfilerTest : public ::testing::Test {
 protected:
  ProfilerTest() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    sources_.applicationSupportFolder = home_ / "share" / "Corvane";
    sources_.userPreferencesFolder = home_ / "config";
    sources_.localPreferencesFolder = home_ / "etc";
    sources_.crashReportFolders = {home_ / "crash-user", home_ / "crash-system"};
    sources_.systemLogFolder = home_ / "log";
    sources_.systemJournalFolder = home_ / "journal";
    sources_.dmiFolder = home_ / "dmi";
    sources_.osReleaseFile = home_ / "os-release";
    sources_.cpuInfoFile = home_ / "cpuinfo";
    sources_.memInfoFile = home_ / "meminfo";
    fs::create_directories(support_);
  }

  Profiler makeProfiler() { return Profiler(&delegate_, runner_, sources_); }

  testing_support::TemporaryDirectory home_;
  fs::path support_ = home_ / "out" / "Support";
  support::SupportSources sources_;
  RecordingDelegate delegate_;
  std::shared_ptr<testing_support::FakeCommandRunner> runner_ = std::make_shared<testing_support::FakeCommandRunner>();
};

TEST_F(ProfilerTest, RequestFieldsReadBackFitForJson) {
  Profiler profiler = makeProfiler();
  EXPECT_EQ(profiler.applicationName(), "Vantelio Video");
  EXPECT_EQ(profiler.version(), "4.2");
  EXPECT_EQ(profiler.yourName(), "");
  EXPECT_EQ(profiler.problemDescription(), "");
  EXPECT_EQ(profiler.deviceModelName, "unknown_device");
  EXPECT_EQ(profiler.occuredDate, Profiler::Date{});

  profiler.setYourName("Ann \"Q\" O\\Neil\tx\ny");
  profiler.setEmail(" ann @ example.org ");
  profiler.setProblemDescription("says \"hi\"\n");
  profiler.setRequesterType("\"agent\"");
  EXPECT_EQ(profiler.yourName(), "Ann 'Q' ONeil x y");
  EXPECT_EQ(profiler.email(), "ann@example.org");
  EXPECT_EQ(profiler.problemDescription(), "says \"hi\"\n");
  EXPECT_EQ(profiler.requesterType(), "\"agent\"");
}

TEST_F(ProfilerTest, StringBetweenAndDateWindowEdges) {
  EXPECT_EQ(Profiler::stringBetween("Model Name: ", "a\nModel Name: Box 9\nb", '\n'), "Box 9");
  EXPECT_EQ(Profiler::stringBetween("Model Name: ", "Model Name: Box", '\n'), "Box");
  EXPECT_EQ(Profiler::stringBetween("Model Name: ", "nothing", '\n'), std::nullopt);
  std::string longLine = "K" + std::string(200000, 'v');
  EXPECT_EQ(Profiler::stringBetween("K", longLine, '\n')->size(), 100000u);

  auto start = utc(2026, 3, 9), end = utc(2026, 3, 11);
  EXPECT_TRUE(Profiler::dateIsBetween(start, start, end));
  EXPECT_TRUE(Profiler::dateIsBetween(end, start, end));
  EXPECT_FALSE(Profiler::dateIsBetween(end + std::chrono::seconds(1), start, end));
}

TEST_F(ProfilerTest, CopiesTheSupportFilesUnderTheirFixedNames) {
  writeFile(sources_.applicationSupportFolder / "Vantelio Video" / "a.cfg");
  writeFile(sources_.applicationSupportFolder / "StreamDeck" / "deck.json");
  writeFile(sources_.applicationSupportFolder / "Streaming Presets" / "p.plist");
  writeFile(sources_.userPreferencesFolder / "com.dirarovazovo.Vantelio.plist");
  writeFile(sources_.userPreferencesFolder / "org.other.plist");
  writeFile(sources_.userPreferencesFolder / "com.aja.devicesettings.plist");
  writeFile(sources_.localPreferencesFolder / "com.blackmagic-design.desktopvideo.prefspanel.plist");
  writeFile(home_ / "crash-user" / "2026" / "a.drcrash");
  writeFile(home_ / "crash-system" / "b.drcrash");
  writeFile(home_ / "attached.mov");
  writeFile(home_ / "technical" / "2026-03-10_Vantelio.log");

  Profiler profiler = makeProfiler();
  profiler.filesInvolved = {home_ / "attached.mov"};
  profiler.supportFilesPath = {home_ / "technical" / "2026-03-10_Vantelio.log"};
  profiler.copyFilesInvolvedAtPath(support_);
  profiler.copyApplicationSpecificFilesFolderToPath(support_);
  profiler.copyStreamDeckFolderToPath(support_);
  profiler.copyStreamingPresetsFolderToPath(support_);
  profiler.copyUserCorvanePreferencesFolderToPath(support_);
  profiler.copyVideoDevicesPath(support_);
  profiler.copyCrashLogToPath(support_);
  profiler.copySupportFilesAtPath(support_);
  profiler.copyAjaDeviceSettingsAtPath(support_);
  profiler.copyBMDDeviceSettingsAtPath(support_);

  for (const char* expected :
       {"Files Involved/attached.mov", "Vantelio Video/a.cfg", "StreamDeck/deck.json", "Streaming Presets/p.plist",
        "User Preferences/com.dirarovazovo.Vantelio.plist", "Diagnostic Reports/a.drcrash",
        "Diagnostic Reports/b.drcrash", "Support Files/2026-03-10_Vantelio.log", "com.aja.devicesettings.plist",
        "com.blackmagic-design.desktopvideo.prefspanel.plist"}) {
    EXPECT_TRUE(fs::exists(support_ / expected)) << expected;
  }
  EXPECT_FALSE(fs::exists(support_ / "User Preferences" / "org.other.plist"));
  EXPECT_FALSE(fs::exists(support_ / "com.aja.devicesettings"));
}

TEST_F(ProfilerTest, EmptyListsMakeNoFolderAndACopyNeverOverwrites) {
  writeFile(sources_.userPreferencesFolder / "com.aja.devicesettings.plist", "new");
  writeFile(support_ / "com.aja.devicesettings.plist", "kept");
  testing_support::CapturedDiagnostics diagnostics;
  Profiler profiler = makeProfiler();
  profiler.copyFilesInvolvedAtPath(support_);
  profiler.copySupportFilesAtPath(support_);
  profiler.copyAjaDeviceSettingsAtPath(support_);
  profiler.copyBMDDeviceSettingsAtPath(support_);
  EXPECT_FALSE(fs::exists(support_ / "Files Involved"));
  EXPECT_FALSE(fs::exists(support_ / "Support Files"));
  EXPECT_EQ(platform::readFile(support_ / "com.aja.devicesettings.plist").value(), "kept");
  EXPECT_EQ(diagnostics.count("Contact Corvane Support: Copy AJA Preferences: "), 1u);
  EXPECT_EQ(diagnostics.count("Contact Corvane Support: Copy BMD Preferences: Error: "), 1u);
}

TEST_F(ProfilerTest, SystemLogsInsideTheWindowAreCopiedBothEndsIncluded) {
  Profiler profiler = makeProfiler();
  profiler.occuredDate = utc(2026, 3, 10, 12);
  auto [start, end] = profiler.systemLogWindow();
  EXPECT_EQ(start, utc(2026, 3, 9));
  EXPECT_EQ(end, utc(2026, 3, 11, 12));
  struct Case {
    const char* name;
    Profiler::Date modified;
    bool copied;
  };
  const Case cases[] = {{"syslog", end, true},
                        {"syslog.1", start, true},
                        {"syslog.2.gz", start - std::chrono::seconds(1), false},
                        {"syslog.3.gz", end + std::chrono::seconds(1), false}};
  for (const auto& c : cases) {
    writeFile(sources_.systemLogFolder / c.name);
    setModified(sources_.systemLogFolder / c.name, c.modified);
  }
  int alerts = 0;
  profiler.setShowAlert([&] { ++alerts; });
  profiler.copySystemLogsToPath(support_);
  for (const auto& c : cases) EXPECT_EQ(fs::exists(support_ / c.name), c.copied) << c.name;
  EXPECT_EQ(alerts, 0);

  // Never set: the window lies around the epoch, so nothing is copied.
  Profiler unset = makeProfiler();
  fs::path other = home_ / "other";
  fs::create_directories(other);
  unset.copySystemLogsToPath(other);
  EXPECT_TRUE(fs::is_empty(other));
}

TEST_F(ProfilerTest, TechnicalLogsOfTheOccurredDateBecomeSupportFiles) {
  EXPECT_TRUE(makeProfiler().technicalLogFilesForOccuredDate().empty());  // folder not configured
  sources_.technicalLogFolder = home_ / "technical";
  Profiler profiler = makeProfiler();
  profiler.occuredDate = utc(2026, 3, 10, 12);
  writeFile(home_ / "technical" / "Vantelio_2026-03-10.log");
  writeFile(home_ / "technical" / "Vantelio_2026-03-01.log");
  writeFile(home_ / "technical" / "old" / "nested.log");
  setModified(home_ / "technical" / "Vantelio_2026-03-10.log", utc(2026, 3, 10, 13));
  setModified(home_ / "technical" / "Vantelio_2026-03-01.log", utc(2026, 3, 1, 13));
  profiler.supportFilesPath = profiler.technicalLogFilesForOccuredDate();
  EXPECT_EQ(profiler.supportFilesPath, (std::vector<fs::path>{home_ / "technical" / "Vantelio_2026-03-10.log"}));
}

TEST_F(ProfilerTest, AFailedSystemLogCopyStopsAndWarnsOnce) {
  Profiler profiler = makeProfiler();
  profiler.occuredDate = utc(2026, 3, 10, 12);
  profiler.setProblemDescription("Freeze");
  for (const char* name : {"syslog.2.gz", "syslog.1", "syslog"}) {
    writeFile(sources_.systemLogFolder / name);
    setModified(sources_.systemLogFolder / name, utc(2026, 3, 10));
  }
  writeFile(support_ / "syslog.1", "already there");
  int alerts = 0;
  profiler.setShowAlert([&] { ++alerts; });
  profiler.copySystemLogsToPath(support_);
  EXPECT_EQ(alerts, 1);
  EXPECT_TRUE(fs::exists(support_ / "syslog.2.gz"));
  EXPECT_FALSE(fs::exists(support_ / "syslog"));
  EXPECT_EQ(profiler.problemDescription(),
            "Freeze\n\n* WARNING * Logs submitted without admin privileges, some logs may be missing.");
}

TEST_F(ProfilerTest, JournalExportAsksForTheAdministratorOnlyWhenNeeded) {
  testing_support::CapturedDiagnostics diagnostics;
  Profiler profiler = makeProfiler();
  profiler.occuredDate = utc(2026, 3, 10, 8, 30, 15);
  fs::create_directories(sources_.systemJournalFolder);
  profiler.collectLogsToPath(support_);
  fs::remove(sources_.systemJournalFolder);
  profiler.collectLogsToPath(support_);
  ASSERT_EQ(runner_->calls.size(), 2u);
  const std::vector<std::string> journal = {"journalctl", "--no-pager", "--since", "2026-03-09 08:30:15",
                                            "--output=short-iso-precise"};
  EXPECT_EQ(runner_->calls[0].command.argv, journal);
  EXPECT_EQ(runner_->calls[0].command.outputFile, support_ / "SystemLogs_2026-03-09.log");
  std::vector<std::string> elevated = journal;
  elevated.insert(elevated.begin(), "pkexec");
  EXPECT_EQ(runner_->calls[1].command.argv, elevated);

  runner_->answer(0, 0);
  runner_->answer(1, 126);
  EXPECT_EQ(delegate_.calls, (std::vector<std::string>{"logsCollected", "retrieveLogsFailed"}));
  EXPECT_EQ(diagnostics.count("Contact Corvane Support: Profiler: logsCollected"), 1u);
  EXPECT_EQ(diagnostics.count(
                "Contact Corvane Support: Log Collect: Error: The administrator password is required to do this."),
            1u);
}

TEST_F(ProfilerTest, ModelNameProfileAndZipReachTheDelegate) {
  testing_support::CapturedDiagnostics diagnostics;
  Profiler profiler = makeProfiler();
  profiler.getDeviceModelName();
  EXPECT_EQ(profiler.deviceModelName, std::nullopt);
  writeFile(sources_.dmiFolder / "product_name", "Playout Box 9\n");
  profiler.getDeviceModelName();
  EXPECT_EQ(profiler.deviceModelName, "Playout Box 9");

  writeFile(sources_.cpuInfoFile, "processor\t: 0\nmodel name\t: Fast CPU\n\nprocessor\t: 1\nmodel name\t: Fast CPU\n");
  writeFile(sources_.osReleaseFile, "PRETTY_NAME=\"Debian GNU/Linux 13\"\n");
  profiler.gatherXmlSystemProfileThread();
  profiler.zipFolder(support_, false);
  profiler.zipFolder(support_, true);
  ASSERT_EQ(runner_->calls.size(), 3u);
  EXPECT_EQ(runner_->calls[0].command.argv, (std::vector<std::string>{"lsblk", "--json"}));
  EXPECT_EQ(runner_->calls[1].command.argv,
            (std::vector<std::string>{"zip", "-r", "-X", "Support.zip", "./Support"}));
  EXPECT_EQ(runner_->calls[1].command.workingFolder, support_.parent_path());
  EXPECT_EQ(diagnostics.count("Contact Corvane Support: Profiler: run command: zip -r -X Support.zip ./Support"), 2u);
  EXPECT_EQ(diagnostics.count("Contact Corvane Support: Profiler: run command: lsblk --json"), 1u);
  runner_->answer(0, 0, "{\"blockdevices\": []}");
  runner_->answer(1, 0);
  runner_->answer(2, 0);
  EXPECT_EQ(delegate_.calls, (std::vector<std::string>{"deviceModelNameRetrieved", "deviceModelNameRetrieved",
                                                       "systemProfileRetrieved", "supportFolderZipped"}));
  ASSERT_TRUE(profiler.xmlSystemProfile().has_value());
  const platform::Array& profile = *profiler.xmlSystemProfile();
  ASSERT_EQ(profile.size(), 5u);
  auto item = [&](std::size_t type, const char* key) {
    return profile[type].dictionary()->at("_items").array()->at(0).dictionary()->at(key).stringOr("");
  };
  EXPECT_EQ(item(0, "product_name"), "Playout Box 9");
  EXPECT_EQ(item(1, "PRETTY_NAME"), "Debian GNU/Linux 13");
  EXPECT_EQ(item(2, "model name"), "Fast CPU");
  EXPECT_EQ(item(4, "lsblk"), "{\"blockdevices\": []}");
}

TEST_F(ProfilerTest, ACompletionAfterTheWindowClosedIsDropped) {
  {
    Profiler profiler = makeProfiler();
    profiler.collectLogsToPath(support_);
  }
  runner_->answer(0, 0);
  EXPECT_TRUE(delegate_.calls.empty());
}

}  // namespace
