#pragma once
// The one QApplication of a view test binary, made on first use (on the
// offscreen platform CTest selects) and kept until the process ends, so that
// every test of every file can make widgets. Call it at the start of each
// test (or fixture) that touches Qt; it answers the existing application
// when there is one.

#include <QApplication>

namespace testing_support {

inline QApplication& qtTestApplication() {
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
  // Run by hand (not through CTest), the tests still need no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "app_view_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);  // lives for the process
  return *application;
}

}  // namespace testing_support
