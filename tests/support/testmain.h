// main() of a test executable that touches the device: it runs only inside the box, since the
// code under test remounts file systems and reboots. Tests of the wire formats use QTEST_GUILESS_MAIN.
// Also the stand-ins such tests drive: the device's files, the daemon, the board, the media centre.
#pragma once

#include "tests/support/fakemediacentre.h"
#include "tools/standins/boardport.h"
#include "tools/standins/box.h"
#include "tools/standins/daemonprocess.h"
#include "tools/standins/devicefiles.h"

#include <QtTest/QtTest>

// The digest the box keeps of a password, and md5sum prints of a program, in lower-case hex.
inline QByteArray md5Hex(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex(); }

#define QUORVANT_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        Box::requireBox();                                                                         \
        QTEST_MAIN_IMPL(TestObject)                                                                \
    }
