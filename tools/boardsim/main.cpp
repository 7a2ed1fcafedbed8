// boardsim: plays the DMX interface board on the board end of the serial line.

#include "tools/boardsim/boardcommand.h"
#include "tools/boardsim/boardsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("boardsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates the DMX interface board: prints every frame the daemon writes and "
                       "sends the commands read from standard input.\n\n")
        + BoardCommand::help());
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringList{QStringLiteral("p"), QStringLiteral("port")},
                                        QStringLiteral("Board end of the serial line."),
                                        QStringLiteral("path"), QStringLiteral("/dev/board"));
    const QCommandLineOption answerOption(QStringList{QStringLiteral("a"), QStringLiteral("answer-address")},
                                          QStringLiteral("Report CMD_DMX_ADDR after each start-address frame."));
    const QCommandLineOption stayOption(QStringList{QStringLiteral("s"), QStringLiteral("stay")},
                                        QStringLiteral("Keep running (and printing) after the end of input."));
    parser.addOptions({portOption, answerOption, stayOption});
    parser.process(app);

    BoardSimulator simulator(parser.isSet(answerOption), parser.isSet(stayOption));
    if (!simulator.open(parser.value(portOption)))
        return 1;
    simulator.startReadingInput();
    return app.exec();
}
