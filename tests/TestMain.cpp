// The entry of every test program: a Qt application object for the tests that need one, then
// GoogleTest.
#include <gmock/gmock.h>

#include <QApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
