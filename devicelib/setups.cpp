#include "setups.h"

#include "generator.h"
#include "models.h"
#include "scpi.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <cmath>

namespace rfgen::setups {

namespace {

constexpr int maxNameLength = 64;
constexpr qint64 maxFileBytes = 64 * 1024;
const QString suffix = QStringLiteral(".txt");
const QString panelPrefix = QStringLiteral("panel.");

struct NumberKey {
    const char *key;
    std::optional<double> Setup::*member;
};

// In the order the file lists them.
const NumberKey numberKeys[] = {
    {"frequency_hz", &Setup::frequencyHz},    {"amplitude_v", &Setup::amplitudeV},
    {"power_dbm", &Setup::powerDbm},          {"attenuation_db", &Setup::attenuationDb},
    {"sweep_start_hz", &Setup::sweepStartHz}, {"sweep_stop_hz", &Setup::sweepStopHz},
    {"sweep_step_hz", &Setup::sweepStepHz},   {"sweep_period_s", &Setup::sweepPeriodS},
};
const char levelControlKey[] = "level_control";
const char fmKindKey[] = "fm_kind";
const char gridKey[] = "grid_khz";
const int gridKilohertz[] = {1, 2, 5, 10};

QByteArray gridText(int index) {
    return QByteArray::number(gridKilohertz[index]);
}

int parseGrid(const QString &text) {
    for (int index = 0; index < 4; ++index)
        if (text == QLatin1String(gridText(index)))
            return index;
    return -1;
}

bool isText(const QByteArray &raw, QString &decoded) {
    decoded = QString::fromUtf8(raw);
    if (decoded.toUtf8() != raw) // bytes that are no UTF-8
        return false;
    for (QChar c : decoded)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
            return false;
    return true;
}

QString quoted(const QString &text) {
    return QStringLiteral("«") + text + QStringLiteral("»");
}

// One "key = value" line; the problem with it, empty when none.
class LineReader {
public:
    LineReader(Setup &setup, const PanelCheck &check) : setup(setup), check(check) {}

    QString read(const QByteArray &raw) {
        QString line;
        if (!isText(raw, line))
            return QCoreApplication::translate("rfgen::setups",
                                               "не текст (двоичные данные или управляющий символ)");
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            return QString();
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return QCoreApplication::translate("rfgen::setups",
                                               "нет знака «=» между ключом и значением");
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (seen.contains(key))
            return QCoreApplication::translate("rfgen::setups", "ключ %1 уже был").arg(quoted(key));
        seen.insert(key);
        return take(key, value);
    }

private:
    Setup &setup;
    const PanelCheck &check;
    QSet<QString> seen;

    QString take(const QString &key, const QString &value) {
        for (const NumberKey &number : numberKeys)
            if (key == QLatin1String(number.key))
                return takeNumber(setup.*number.member, value);
        if (key == QLatin1String(levelControlKey))
            return takeCode(setup.levelControl, scpi::parseLevelMode(value.toLatin1()), value);
        if (key == QLatin1String(fmKindKey))
            return takeCode(setup.fmKind, scpi::parseFmKind(value.toLatin1()), value);
        if (key == QLatin1String(gridKey))
            return takeCode(setup.grid, parseGrid(value), value);
        if (key.startsWith(panelPrefix) && key.size() > panelPrefix.size()) {
            const QString problem = check ? check(key, value) : QString();
            if (problem.isEmpty())
                setup.panel.insert(key, value);
            return problem;
        }
        return QCoreApplication::translate("rfgen::setups", "неизвестный ключ %1").arg(quoted(key));
    }

    static QString takeNumber(std::optional<double> &member, const QString &value) {
        double number = 0;
        if (!scpi::parseNumber(value.toLatin1(), number) || !std::isfinite(number))
            return QCoreApplication::translate("rfgen::setups", "%1 не число").arg(quoted(value));
        member = number;
        return QString();
    }

    static QString takeCode(std::optional<int> &member, int code, const QString &value) {
        if (code < 0)
            return QCoreApplication::translate("rfgen::setups", "значение %1 не из допустимых")
                .arg(quoted(value));
        member = code;
        return QString();
    }
};

// A set-up's file holds a whole sweep or none of it, and one level.
QString wholeProblem(const Setup &setup) {
    if (setup.amplitudeV && setup.powerDbm)
        return QCoreApplication::translate("rfgen::setups",
                                           "уровень задан дважды: amplitude_v и power_dbm");
    const bool any =
        setup.sweepStartHz || setup.sweepStopHz || setup.sweepStepHz || setup.sweepPeriodS;
    if (any && !setup.hasSweep())
        return QCoreApplication::translate(
            "rfgen::setups", "развертка задана не вся: нужны sweep_start_hz, sweep_stop_hz, "
                             "sweep_step_hz и sweep_period_s");
    return QString();
}

} // namespace

void Setup::takeSweepIfSetUp(double startHz, double stopHz, double stepHz, double periodS) {
    if (!(startHz < stopHz && stepHz > 0 && periodS > 0))
        return;
    sweepStartHz = startHz;
    sweepStopHz = stopHz;
    sweepStepHz = stepHz;
    sweepPeriodS = periodS;
}

QString folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/rfgen/setups");
}

QString nameProblem(const QString &name) {
    if (name.trimmed().isEmpty())
        return QCoreApplication::translate("rfgen::setups", "Имя набора пустое");
    if (name.size() > maxNameLength)
        return QCoreApplication::translate("rfgen::setups", "Имя набора длиннее %1 знаков")
            .arg(maxNameLength);
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1String("..")))
        return QCoreApplication::translate("rfgen::setups",
                                           "Имя набора не может содержать «/» и «..»");
    if (name.startsWith(QLatin1Char('.')))
        return QCoreApplication::translate("rfgen::setups",
                                           "Имя набора не может начинаться с точки");
    for (QChar c : name)
        if (c.category() == QChar::Other_Control)
            return QCoreApplication::translate("rfgen::setups",
                                               "Имя набора содержит управляющий символ");
    return QString();
}

QStringList names(const QString &folder) {
    QStringList found;
    const QStringList files =
        QDir(folder).entryList({QLatin1Char('*') + suffix}, QDir::Files | QDir::Readable);
    for (const QString &file : files) {
        const QString name = file.chopped(suffix.size());
        if (nameProblem(name).isEmpty())
            found << name;
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(found.begin(), found.end(), natural);
    return found;
}

QString pathOf(const QString &folder, const QString &name) {
    return folder + QLatin1Char('/') + name + suffix;
}

bool exists(const QString &folder, const QString &name) {
    return nameProblem(name).isEmpty() && QFile::exists(pathOf(folder, name));
}

QByteArray text(const Setup &setup) {
    QByteArray out = "# Набор rfgen: ключ = значение, в единицах, которые называет ключ.\n";
    const auto line = [&out](const QByteArray &key, const QByteArray &value) {
        out += key + " = " + value + '\n';
    };
    for (const NumberKey &number : numberKeys)
        if (const std::optional<double> &value = setup.*number.member)
            line(number.key, scpi::formatNumber(*value));
    if (setup.levelControl)
        line(levelControlKey, scpi::levelModeKeyword(*setup.levelControl));
    if (setup.fmKind)
        line(fmKindKey, scpi::fmKindKeyword(*setup.fmKind));
    if (setup.grid)
        line(gridKey, gridText(*setup.grid));
    for (auto entry = setup.panel.cbegin(); entry != setup.panel.cend(); ++entry)
        line(entry.key().toUtf8(), entry.value().toUtf8());
    return out;
}

bool parse(const QByteArray &text, Setup &setup, QString &why, const PanelCheck &panelCheck) {
    Setup parsed;
    LineReader reader(parsed, panelCheck);
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        QByteArray raw = lines[index];
        const bool last = index == lines.size() - 1; // what follows the last line feed
        if (last && raw.isEmpty())
            break;
        QString problem = last ? QCoreApplication::translate("rfgen::setups",
                                                             "строка не закончена: файл обрезан?")
                               : reader.read(raw.endsWith('\r') ? raw.chopped(1) : raw);
        if (!problem.isEmpty()) {
            why = QCoreApplication::translate("rfgen::setups", "строка %1: %2")
                      .arg(index + 1)
                      .arg(problem);
            return false;
        }
    }
    why = wholeProblem(parsed);
    if (!why.isEmpty())
        return false;
    setup = parsed;
    return true;
}

bool load(const QString &folder, const QString &name, Setup &setup, QString &why,
          const PanelCheck &panelCheck) {
    if (!(why = nameProblem(name)).isEmpty())
        return false;
    const QString path = QDir::toNativeSeparators(pathOf(folder, name));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = QCoreApplication::translate("rfgen::setups", "Не удалось прочитать %1: %2")
                  .arg(path, file.errorString());
        return false;
    }
    const QByteArray content = file.read(maxFileBytes + 1);
    if (content.size() > maxFileBytes) {
        why = QCoreApplication::translate("rfgen::setups", "%1: файл больше %2 КиБ, это не набор")
                  .arg(path)
                  .arg(maxFileBytes / 1024);
        return false;
    }
    if (!parse(content, setup, why, panelCheck)) {
        why = path + QStringLiteral(", ") + why;
        return false;
    }
    return true;
}

bool replaceFile(const QString &path, const QByteArray &text, QString &why) {
    QSaveFile file(path);
    // Flushed by hand: commit() misses a failed final flush (a full disk).
    const bool written = file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
                         file.flush() && file.commit();
    if (!written)
        why = file.errorString();
    return written;
}

bool save(const QString &folder, const QString &name, const Setup &setup, QString &why) {
    if (!(why = nameProblem(name)).isEmpty())
        return false;
    const QString path = pathOf(folder, name);
    if (!QDir().mkpath(folder) || !replaceFile(path, text(setup), why)) {
        why = QCoreApplication::translate("rfgen::setups",
                                          "Набор не сохранен: не удалось записать %1: %2")
                  .arg(QDir::toNativeSeparators(path), why);
        return false;
    }
    return true;
}

bool remove(const QString &folder, const QString &name, QString &why) {
    if (!(why = nameProblem(name)).isEmpty())
        return false;
    QFile file(pathOf(folder, name));
    if (file.remove())
        return true;
    why =
        QCoreApplication::translate("rfgen::setups", "Набор не удален: %1").arg(file.errorString());
    return false;
}

} // namespace rfgen::setups
