#pragma once

#include <QString>
#include <QStringList>

// The panel speaks Russian, its own language, or English. The user's
// languages come from LANGUAGE (a colon-separated list) and then the locale
// variables; the first one the panel has wins, Russian when none does.
QStringList userLanguages();
QString panelLanguage(const QStringList &languages);

// Loads the chosen translation into the application; Russian needs none.
// Returns the language used.
QString installPanelLanguage();
