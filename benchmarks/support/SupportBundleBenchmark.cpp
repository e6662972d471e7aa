// Making and zipping a support bundle that carries a generated 200 MiB folder
// of involved files, through the Contact Support window's Collect Logs, against
// `zip -r -X` of the same folder in the same run. The counters are MiB/s of
// the involved files and the ratio of the bundle's throughput to zip's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "benchmarks/BenchmarkSupport.h"
#include "platform/DispatchQueue.h"
#include "support/ProcessCommandRunner.h"
#include "support/window/ContactSupportWindowController.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/supportwindow/ScriptedSupportCollaborators.h"

namespace {

constexpr std::int64_t kMiB = 1 << 20;
constexpr int kFiles = 20;
constexpr std::int64_t kFileSize = 10 * kMiB;

// Runs the zip for real; the journal and the profile are answered at once, so
// the figure is the bundle's own work.
class ZipOnlyRunner : public support::CommandRunner {
 public:
  void run(support::Command command, Completion completion) override {
    if (command.argv.front() == "zip") {
      real_.run(std::move(command), std::move(completion));
      return;
    }
    platform::DispatchQueue::main().async([completion] {
      support::CommandResult result;
      result.exitStatus = 0;
      completion(result);
    });
  }

 private:
  support::ProcessCommandRunner real_;
};

void makeInvolvedFolder(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  std::mt19937_64 random(7);
  std::string bytes(static_cast<std::size_t>(kFileSize), '\0');
  for (int file = 0; file < kFiles; ++file) {
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      const std::uint64_t value = random();
      std::memcpy(bytes.data() + i, &value, 8);
    }
    std::ofstream(folder / ("take" + std::to_string(file) + ".mov"), std::ios::binary) << bytes;
  }
}

double timeZip(const std::filesystem::path& folder) {
  const std::string command = "cd '" + folder.parent_path().string() + "' && zip -q -r -X plain.zip './" +
                              folder.filename().string() + "'";
  return bench::secondsOf([&] {
    if (std::system(command.c_str()) != 0) std::abort();
  });
}

double timeBundle(const testing_support::TemporaryDirectory& home, const std::filesystem::path& involved) {
  testing_support::FakeApplication application;
  support::window::ContactSupportServices services;
  services.makeHelpDesk = [](support::ZendeskControllerDelegate_Protocol&) {
    auto desk = std::make_unique<testing_support::ScriptedHelpDesk>();
    desk->reachable = support::window::SupportHelpDesk::Reachability::Unreachable;
    return desk;
  };
  services.makeCloudUpload = [](support::AmazonUploaderControllerDelegateProtocol&) {
    return std::make_unique<testing_support::ScriptedCloudUpload>();
  };
  services.commandRunner = std::make_shared<ZipOnlyRunner>();
  services.sources.systemJournalFolder = home.path();
  services.computerName = "bench";
  services.desktopFolder = home / "out";
  std::filesystem::create_directories(home / "out");
  support::window::ContactSupportWindowController window(application.info, &application, std::move(services));
  testing_support::RecordingSupportView view;
  view.folderToChoose = home / "out";
  window.setView(&view);
  window.showWindow();
  window.collectingLogsContinueClick();
  testing_support::runMainLoopUntil([&] { return window.state().contactType == 2; }, "the unreachable desk");
  window.nextButtonPushed();
  window.occurredChose(1);
  window.profiler().filesInvolved = {involved};
  const double seconds = bench::secondsOf([&] {
    window.continuePushed();
    testing_support::runMainLoopUntil([&] { return window.state().page == support::window::Page::Confirmation; },
                                      "the bundle", std::chrono::minutes(5));
  });
  window.setView(nullptr);
  return window.state().confirmationTitle == "You're almost done!" ? seconds : -1;
}

void BM_SupportBundleAgainstZip(benchmark::State& state) {
  testing_support::TemporaryDirectory home;
  const std::filesystem::path involved = home / "involved";
  makeInvolvedFolder(involved);
  const double mib = static_cast<double>(kFiles * kFileSize) / kMiB;
  double zip = 0, bundle = 0;
  for (auto _ : state) {
    zip = timeZip(involved);
    bundle = timeBundle(home, involved);
  }
  state.counters["zip_MiBps"] = zip > 0 ? mib / zip : 0;
  state.counters["bundle_MiBps"] = bundle > 0 ? mib / bundle : 0;
  state.counters["bundle_vs_zip"] = zip > 0 && bundle > 0 ? zip / bundle : 0;
}
BENCHMARK(BM_SupportBundleAgainstZip)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
