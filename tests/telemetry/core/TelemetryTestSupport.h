#pragma once
// Helpers of the telemetry core tests: a capture of the SDK logger's lines and
// a runner for the command-line tools the tests check files with.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core::testing_support {

struct LoggedLine {
  int level;
  std::string message;
};

// Installs a handler that records every line (evaluating each message) for
// the object's lifetime, then puts the previous handler and level back. The
// logger calls a copy of its handler outside its lock, so an SDK thread may
// still be inside this one after the capture is gone: the lines live in a
// state that the handler shares.
class LogCapture {
 public:
  LogCapture() : previousHandler_(DRTLLogger::logHandler()), previousLevel_(DRTLLogger::currentLogLevel()) {
    DRTLLogger::setLogHandler([state = state_](const DRTLLogMessageProvider& message, int level, const std::string&,
                                               const char*, const char*, int) {
      std::string text = message ? message() : std::string();
      std::lock_guard lock(state->mutex);
      state->lines.push_back({level, std::move(text)});
    });
  }
  ~LogCapture() {
    DRTLLogger::setLogHandler(previousHandler_);
    DRTLLogger::setCurrentLogLevel(previousLevel_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LoggedLine> lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
  }
  // How many lines at `level` contain `text`.
  int count(int level, const std::string& text) const {
    int found = 0;
    for (const LoggedLine& line : lines()) found += line.level == level && line.message.find(text) != std::string::npos;
    return found;
  }
  bool contains(int level, const std::string& text) const { return count(level, text) > 0; }

 private:
  struct State {
    std::mutex mutex;
    std::vector<LoggedLine> lines;  // guarded by mutex
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  DRTLLogHandler previousHandler_;
  int previousLevel_;
};

// Runs a shell command line built by the test (fixed tools, quoted paths) and
// returns its standard output.
inline std::string runCommand(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
    pclose(pipe);
  }
  return output;
}

// One shell word in single quotes.
inline std::string quoted(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

}  // namespace telemetry::core::testing_support
