#pragma once
// The command line of one quorvant-ctl command: its options and arguments, --help, --json and
// --timeout, and the checks of numbers and positional arguments every command needs.

#include "tools/ctl/ctloutput.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class CtlCommand
{
public:
    CtlCommand(const QString &name, const QString &description, int defaultTimeoutMs = 3000);

    void addOption(const QCommandLineOption &option);
    void addValueOption(const QString &name, const QString &valueName, const QString &description);
    void addFlag(const QString &name, const QString &description);
    void addPositional(const QString &name, const QString &description);

    // False when the command must end now with exitCode(): help was shown or the line was wrong.
    bool parse(const QStringList &arguments);
    int exitCode() const { return m_exitCode; }

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    QString value(const QString &name) const { return m_parser.value(name); }
    QString positional(int index) const { return m_parser.positionalArguments().value(index); }
    int timeoutMs() const;
    const CtlOutput &output() const { return m_output; }

    // Reads an integer option in [minimum, maximum]; on failure prints a usage error.
    bool intValue(const QString &name, int minimum, int maximum, int *result);
    int usageError(const QString &message);

private:
    QString helpText();

    QString m_name;
    QString m_description;
    int m_defaultTimeoutMs;
    int m_positionalCount = 0;
    int m_exitCode = CtlOutput::Ok;
    QCommandLineParser m_parser;
    CtlOutput m_output;
};
