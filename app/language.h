#pragma once

// Chooses the on-screen language from the stick configuration at start-up.

#include <QTranslator>

class QCoreApplication;

// The process-wide translator; loaded and installed by setLanguage.
extern QTranslator translator;

void setLanguage(QCoreApplication &application);
