// Test main for window tests: GoogleTest inside a QApplication on the offscreen platform.
#include <QApplication>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The raw peers of the tests are Qt sockets: keep them off the system proxy look-up,
    // whose library races with itself and is no part of what the tests check.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
