// main() of a QtTest program whose tests can open a socket: the process moves
// into a fresh private network namespace before the application starts.
#pragma once

#include "lab/netlab.h"

#include <QApplication>
#include <QtTest>

template <typename TestObject>
int RunQtTestInPrivateNetwork(int argc, char **argv)
{
    netlab::EnterPrivateNetwork();
    QApplication application(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    TestObject test;
    return QTest::qExec(&test, argc, argv);
}
