#pragma once

// The process-wide message handler: the device has no console and keeps no log, so every
// diagnostic message is dropped.

#include <QtGlobal>

class QMessageLogContext;
class QString;

void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);
