// Runner of the suites without widgets: tests that wait pump the Qt event
// loop.
#include <gmock/gmock.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
