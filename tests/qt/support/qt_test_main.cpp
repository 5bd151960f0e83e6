#include <gtest/gtest.h>

#include <QApplication>

#include "app/qt/fonts.h"

// The window's tests run without a display, in one QApplication per process.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QApplication::setApplicationName("stbup-gui");
  stbup::InstallFontSubstitutes();
  return RUN_ALL_TESTS();
}
