#include "tools/ctl/ctloutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace {

void writeTo(FILE *stream, const QString &text)
{
    QTextStream out(stream);
    out << text;
    if (!text.endsWith(QLatin1Char('\n')))
        out << '\n';
}

} // namespace

CtlOutput::CtlOutput(bool json) : m_json(json) {}

void CtlOutput::print(const QJsonValue &json, const QString &human) const
{
    if (!m_json) {
        writeTo(stdout, human);
        return;
    }
    const QJsonDocument document = json.isArray() ? QJsonDocument(json.toArray())
                                                  : QJsonDocument(json.toObject());
    writeTo(stdout, QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
}

int CtlOutput::fail(ExitCode code, const QString &message) const
{
    writeTo(stderr, QStringLiteral("quorvant-ctl: ") + message);
    if (m_json) {
        const QJsonObject error{{QStringLiteral("error"), exitCodeName(code)},
                                {QStringLiteral("message"), message},
                                {QStringLiteral("exitCode"), int(code)}};
        writeTo(stdout, QString::fromUtf8(QJsonDocument(error).toJson(QJsonDocument::Compact)));
    }
    return code;
}

void CtlOutput::note(const QString &message) const
{
    writeTo(stderr, message);
}

QString CtlOutput::table(const QStringList &headers, const QVector<QStringList> &rows)
{
    QVector<int> widths;
    for (const QString &header : headers)
        widths.append(header.size());
    for (const QStringList &row : rows)
        for (int column = 0; column < row.size() && column < widths.size(); ++column)
            widths[column] = std::max(widths[column], int(row[column].size()));

    auto line = [&widths](const QStringList &cells) {
        QStringList padded;
        for (int column = 0; column < cells.size(); ++column)
            padded.append(column + 1 < cells.size() ? cells[column].leftJustified(widths.value(column))
                                                    : cells[column]);
        return padded.join(QStringLiteral("  ")) + QLatin1Char('\n');
    };
    QString text = line(headers);
    for (const QStringList &row : rows)
        text += line(row);
    return text;
}

QString CtlOutput::fields(const QVector<QPair<QString, QString>> &pairs)
{
    int width = 0;
    for (const auto &pair : pairs)
        width = std::max(width, int(pair.first.size()) + 1);
    QString text;
    for (const auto &pair : pairs)
        text += (pair.first + QLatin1Char(':')).leftJustified(width + 1) + pair.second + QLatin1Char('\n');
    return text;
}

QString CtlOutput::exitCodeName(ExitCode code)
{
    switch (code) {
    case Ok: return QStringLiteral("ok");
    case Failure: return QStringLiteral("failure");
    case Usage: return QStringLiteral("usage");
    case NoBox: return QStringLiteral("no-box");
    case Timeout: return QStringLiteral("timeout");
    case LoginRefused: return QStringLiteral("login-refused");
    case MalformedReply: return QStringLiteral("malformed-reply");
    case ConnectionClosed: return QStringLiteral("connection-closed");
    case Refused: return QStringLiteral("refused");
    }
    return QStringLiteral("unknown");
}
