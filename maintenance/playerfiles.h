#pragma once

// Knows which files on the USB stick make up the box's configuration (config.ini and the
// tracks of its playlist), lists them for the configuration tool and deletes them.

#include <QObject>
#include <QStringList>

class PlayerFiles : public QObject
{
    Q_OBJECT
public:
    explicit PlayerFiles(QObject *parent = nullptr);

    QStringList extractFileListFrom(const QString &path) const;

public slots:
    bool clearConfiguration() const;

private:
    static bool isInsideRoot(const QString &root, const QString &path);
};

