// One QApplication for every test of the program; the platform comes from
// QT_QPA_PLATFORM (offscreen for the unit tests, xcb under Xvfb).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
