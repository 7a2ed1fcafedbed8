// Runs build/quorvant-ctl on the tool host (the box's peer network namespace) while this thread's
// event loop keeps serving, so fake boxes in the test process can answer it.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QStringList>

#include <functional>

class CtlProcess
{
public:
    struct Result {
        int exitCode = -1; // -1: crashed or killed after the time limit
        QByteArray out;
        QByteArray err;
        QJsonDocument json() const { return QJsonDocument::fromJson(out); }
    };

    // `onExit` runs the moment the tool has exited, before the event loop turns again.
    static Result run(const QStringList &arguments, int timeoutMs = 30000, const std::function<void()> &onExit = {});
};
