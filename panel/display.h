#pragma once

#include <QString>
#include <QVector>

class QStringList;
class QWidget;

// Unit codes of the panel: how a value held in its base unit is shown.
namespace units {

enum Code {
    None = 0,
    Volt = 1,
    Millivolt = 2,
    DbmV = 3,
    Decibel = 4,
    Kilohertz = 5,
    Megahertz = 6,
    Gigahertz = 7,
    Second = 8,
    Millisecond = 9,
};

// True for the codes 1..9 that have a label and conversions.
bool isValid(int code);
// The unit label's text ("МГц"); empty for an invalid code.
QString label(int code);
// The unit's name in files ("MHz"); None for a name that is none.
QString word(int code);
int fromWord(const QString &word);
// The codes each kind of value may be shown in.
inline const QVector<int> amplitudeCodes = {Volt, Millivolt, DbmV};
inline const QVector<int> attenuationCodes = {Decibel};
inline const QVector<int> amplitudeStepCodes = {Volt, Millivolt, DbmV, Decibel};
inline const QVector<int> frequencyCodes = {Kilohertz, Megahertz, Gigahertz};
inline const QVector<int> periodCodes = {Second, Millisecond};

} // namespace units

// Amplitudes (V) and attenuations (dB) are kept to 0.001, halves away from zero.
double roundToThousandth(double value);

// Gives a key or label whose text changes the width of the widest text it may
// show (the form leaves such widths to this), so a new text is never cut and
// never moves its neighbours.
void reserveWidthFor(QWidget *widget, const QStringList &texts);
