#include "app/language.h"

#include <QCoreApplication>
#include <QTranslator>

QStringList userLanguages() {
    QStringList languages =
        QString::fromLocal8Bit(qgetenv("LANGUAGE")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    // The locale itself, in POSIX order of precedence.
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = QString::fromLocal8Bit(qgetenv(variable));
        if (!value.isEmpty()) {
            languages << value;
            break;
        }
    }
    return languages;
}

// "en_GB.UTF-8@euro" names English; C and POSIX name no language.
QString panelLanguage(const QStringList &languages) {
    for (const QString &entry : languages) {
        const QString language = entry.section(QLatin1Char('_'), 0, 0)
                                     .section(QLatin1Char('.'), 0, 0)
                                     .section(QLatin1Char('@'), 0, 0)
                                     .toLower();
        if (language == QLatin1String("ru") || language == QLatin1String("en"))
            return language;
    }
    return QStringLiteral("ru");
}

QString installPanelLanguage() {
    Q_INIT_RESOURCE(translations);
    static QTranslator translator; // lives as long as the program
    QCoreApplication::removeTranslator(&translator);
    const QString language = panelLanguage(userLanguages());
    if (language == QLatin1String("ru"))
        return language;
    if (!translator.load(QStringLiteral(":/i18n/rfpanel_") + language))
        return QStringLiteral("ru");
    QCoreApplication::installTranslator(&translator);
    return language;
}
