#pragma once

// Installs a new daemon program from a USB stick once its MD5 control file vouches for it, completes
// the boot configuration and reboots; a marker file on the stick puts the network back to DHCP.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class Updater : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *searchRoot = "/media";
    static constexpr const char *updateFilePattern = "quorvant*";
    static constexpr const char *networkResetMarker = "/media/ZR605/resetnetwork.txt";
    static constexpr const char *installedProgram = "/cfg/quorvant";
    // A new program starts on trial: the service's start check counts its starts in the marker and,
    // should it not come up, puts the program it replaced (kept under the second name) back.
    static constexpr const char *trialMarker = "/cfg/.quorvant.trial";
    static constexpr const char *previousProgram = "/cfg/.quorvant.previous";
    static constexpr const char *bootConfigPath = "/boot/config.txt";
    static constexpr int noticeDuration = 5000;

    // The two update files the run uses; both empty when neither of the first two is a control file.
    struct UpdatePair
    {
        QString controlFile;
        QString programFile;
        bool isValid() const { return !controlFile.isEmpty(); }
    };

    explicit Updater(QObject *parent = nullptr);

    void checkForUpdates();
    bool compareFiles(const QString &controlFile, const QString &programFile);
    bool checkConfigFile();

    static UpdatePair pickUpdatePair(const QStringList &files);
    // The text appended to the boot configuration for the settings not marked present.
    static QByteArray bootConfigBlock(const bool present[3]);

signals:
    void updateInfo(QString title, QString info, int duration);
    // Shown whatever the notice setting: why a file on the stick was not used.
    void updateWarning(QString title, QString info, int duration);

private slots:
    void runUpdate();
    void reboot();

private:
    bool prepareProgram(const QString &programFile, const QByteArray &digest) const;
    bool startTrial() const;
    void endTrial() const;
    bool takeOffStick(const QString &first, const QString &second);
    void removeUpdateFiles(const QString &first, const QString &second) const;

    QStringList m_updateFiles;
};
