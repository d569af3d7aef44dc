#pragma once

// Shared by the keypad and parameter-key tests: pressing the panel's real
// buttons by their key names, reading what a read-out draws, and picking the
// setting commands out of what the simulated instrument received.
#include "app/mainwindow.h"
#include "panel/panelmode.h"
#include "sim/instrument.h"
#include "ui_mainwindow.h"

#include <QImage>
#include <QLCDNumber>
#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace panelkeys {

// "0".."9", ".", "-", "C" (clear), "OK", "U1".."U3" (unit keys), "P1".."P6"
// (parameter keys) name the front-panel buttons.
inline QString buttonName(const QString &key) {
    if (key.size() == 1 && key[0].isDigit())
        return QStringLiteral("pushButton_Num") + key;
    if (key == QLatin1String("."))
        return QStringLiteral("pushButton_Dot");
    if (key == QLatin1String("-"))
        return QStringLiteral("pushButton_Minus");
    if (key == QLatin1String("C"))
        return QStringLiteral("pushButton_Clear");
    if (key == QLatin1String("OK"))
        return QStringLiteral("pushButton_OK");
    if (key.startsWith(QLatin1Char('U')))
        return QStringLiteral("pushButton_Units") + key.mid(1);
    if (key.startsWith(QLatin1Char('P')))
        return QStringLiteral("pushButton_Param") + key.mid(1);
    return QString();
}

inline QStringList keysOf(const QString &sequence) {
    return sequence.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Clicks the key's button as the operator does; false for an unknown key.
inline bool press(QWidget &window, const QString &key) {
    auto *button = window.findChild<QPushButton *>(buttonName(key));
    if (!button)
        return false;
    button->click();
    return true;
}

inline bool pressAll(QWidget &window, const QString &sequence) {
    for (const QString &key : keysOf(sequence))
        if (!press(window, key))
            return false;
    return true;
}

// A read-out keeps no text to read back, so what it draws is compared with a
// twin read-out of the same look that is given the expected text.
inline QImage drawing(const QLCDNumber &like, const QString &text) {
    QLCDNumber twin(like.digitCount());
    twin.setSmallDecimalPoint(like.smallDecimalPoint());
    twin.setSegmentStyle(like.segmentStyle());
    twin.setMode(like.mode());
    twin.setFrameStyle(like.frameStyle());
    twin.setPalette(like.palette());
    twin.setAutoFillBackground(like.autoFillBackground());
    twin.setFont(like.font());
    twin.setEnabled(like.isEnabled());
    twin.resize(like.size());
    twin.display(text);
    return twin.grab().toImage();
}

// The read-out is drawn first: drawing it may lay it out anew.
inline bool draws(QLCDNumber &display, const QString &text) {
    const QImage shown = display.grab().toImage();
    return shown == drawing(display, text);
}

// The commands of the received lines that set something (queries left out).
inline QList<QByteArray> settingCommands(const QList<QByteArray> &lines) {
    QList<QByteArray> commands;
    for (const QByteArray &line : lines)
        for (const QByteArray &command : line.split(';'))
            if (!command.trimmed().endsWith('?') && !command.trimmed().isEmpty())
                commands << command.trimmed();
    return commands;
}

// The setting commands with the given header, e.g. "FREQ".
inline QList<QByteArray> settingCommands(const QList<QByteArray> &lines, const QByteArray &header) {
    QList<QByteArray> matching;
    for (const QByteArray &command : settingCommands(lines))
        if (command.startsWith(header + ' '))
            matching << command;
    return matching;
}

} // namespace panelkeys

// The window's test fixtures: their bodies live here, so both tests share them.
struct PanelKeys {
    // The first poll reports every value; let it pass before the test acts.
    static void waitForFirstPoll(sim::Instrument &instrument) {
        QTRY_VERIFY(!instrument.receivedLines().isEmpty() &&
                    instrument.receivedLines().constLast().startsWith("FREQ?"));
        QTest::qWait(100);
    }

    // The driver sends the level control without waiting for the line to go
    // out; the test goes on once the instrument has it.
    static void holdLevel(MainWindow &window, sim::Instrument &instrument, int levelControl) {
        instrument.clearReceivedLines();
        window.generator->setLevelControl(levelControl);
        const QByteArray sent = levelControl == devicelink::AmplitudeLevelHeld
                                    ? QByteArrayLiteral("LEV:MODE AMPL")
                                    : QByteArrayLiteral("LEV:MODE ATT");
        QTRY_VERIFY(instrument.receivedRequests().contains(sent));
        instrument.clearReceivedLines();
    }

    // The mode is set as the mode keys leave it: panelMode, the mode key
    // checked, the parameter keys checkable.
    static void enterMode(MainWindow &window, int mode) {
        window.panelMode = mode;
        window.ui->pushButton_Delta->setChecked(mode == panelmode::Delta);
        window.ui->pushButton_FM->setChecked(mode == panelmode::Fm);
        window.ui->pushButton_AM->setChecked(mode == panelmode::Am);
        for (int index = 0; index < 6; ++index) {
            const bool checkable = mode == panelmode::Fm || mode == panelmode::Delta ||
                                   (mode == panelmode::Normal && index < 3) ||
                                   (mode == panelmode::Am && (index == 0 || index == 5));
            window.paramButtons[index]->setChecked(false);
            window.paramButtons[index]->setCheckable(checkable);
        }
        window.clearActive();
    }
};
