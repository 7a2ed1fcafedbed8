#include "tools/ctl/ctlcommand.h"

#include <QTextStream>

CtlCommand::CtlCommand(const QString &name, const QString &description, int defaultTimeoutMs)
    : m_name(name), m_description(description), m_defaultTimeoutMs(defaultTimeoutMs)
{
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addHelpOption();
    addFlag(QStringLiteral("json"), QStringLiteral("Print the result as JSON."));
    if (defaultTimeoutMs > 0)
        addValueOption(QStringLiteral("timeout"), QStringLiteral("ms"),
                       QStringLiteral("How long to wait for the box (default %1 ms).").arg(defaultTimeoutMs));
}

void CtlCommand::addOption(const QCommandLineOption &option)
{
    m_parser.addOption(option);
}

void CtlCommand::addValueOption(const QString &name, const QString &valueName, const QString &description)
{
    m_parser.addOption(QCommandLineOption(name, description, valueName));
}

void CtlCommand::addFlag(const QString &name, const QString &description)
{
    m_parser.addOption(QCommandLineOption(name, description));
}

void CtlCommand::addPositional(const QString &name, const QString &description)
{
    m_parser.addPositionalArgument(name, description);
    ++m_positionalCount;
}

bool CtlCommand::parse(const QStringList &arguments)
{
    if (!m_parser.parse(arguments)) {
        usageError(m_parser.errorText());
        return false;
    }
    m_output = CtlOutput(m_parser.isSet(QStringLiteral("json")));
    if (m_parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << helpText();
        m_exitCode = CtlOutput::Ok;
        return false;
    }
    const int given = m_parser.positionalArguments().size();
    if (given != m_positionalCount) {
        usageError(given < m_positionalCount ? QStringLiteral("missing argument")
                                             : QStringLiteral("unexpected argument: %1")
                                                   .arg(m_parser.positionalArguments().value(m_positionalCount)));
        return false;
    }
    int timeout = 0;
    if (m_defaultTimeoutMs > 0 && isSet(QStringLiteral("timeout"))
        && !intValue(QStringLiteral("timeout"), 1, 3600000, &timeout))
        return false;
    return true;
}

int CtlCommand::timeoutMs() const
{
    if (m_defaultTimeoutMs <= 0 || !isSet(QStringLiteral("timeout")))
        return m_defaultTimeoutMs;
    return value(QStringLiteral("timeout")).toInt();
}

bool CtlCommand::intValue(const QString &name, int minimum, int maximum, int *result)
{
    bool ok = false;
    const int number = value(name).toInt(&ok);
    if (!ok || number < minimum || number > maximum) {
        usageError(QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"")
                       .arg(name).arg(minimum).arg(maximum).arg(value(name)));
        return false;
    }
    *result = number;
    return true;
}

int CtlCommand::usageError(const QString &message)
{
    m_exitCode = m_output.fail(CtlOutput::Usage,
                               QStringLiteral("%1: %2 (see quorvant-ctl %1 --help)").arg(m_name, message));
    return m_exitCode;
}

QString CtlCommand::helpText()
{
    m_parser.setApplicationDescription(m_description);
    QString text = m_parser.helpText();
    // The parser names the program by its path in the usage line; people type the command too.
    const int end = text.indexOf(QLatin1Char('\n'));
    const QString usage = text.left(end);
    const int options = usage.indexOf(QStringLiteral(" [options]"));
    if (usage.startsWith(QStringLiteral("Usage: ")) && options > 0)
        text.replace(0, options, QStringLiteral("Usage: quorvant-ctl ") + m_name);
    return text;
}
