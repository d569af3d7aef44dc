#pragma once

#include "scpi.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace rfgen {

enum ModelCode { OrvexModel = 0, PylarModel = 1, QuendtModel = 2, NoModel = -1 };

// What an instrument model accepts. The only place where model limits live.
struct ModelSpec {
    int code;
    const char *driverName; // "Orvex", "Pylar", "Quendt"
    const char *maker;      // maker field of *IDN?
    const char *product;    // model field of *IDN?
    double minFrequencyHz;
    double maxFrequencyHz;
    bool levelInDbm;  // true: POW in dBm, false: VOLT in volts
    double minLevel;  // V or dBm
    double maxLevel;  // V or dBm
    double levelStep; // 0.001 V or 0.01 dB
    double maxAttenuationDb;
    double attenuationStepDb;
};

// The limits of a model code, or nullptr for an unknown code.
const ModelSpec *modelSpec(int code);
// Whether the model's level is POW in dBm (false for an unknown code).
bool levelInDbm(int code);
// Model code from an *IDN? reply: the maker field only, case-insensitive,
// surrounding blanks ignored; NoModel when not recognised.
int modelFromIdentification(const QByteArray &reply);

// Frequency grid: index 0..3 is 1, 2, 5, 10 kHz.
constexpr int gridCount = 4;
constexpr int defaultGridIndex = 3;
double gridStepHz(int index);

constexpr double frequencyResolutionHz = 1.0;
constexpr double fmPeriodStepS = 1e-6;
constexpr double minFmPeriodS = 0.001;
constexpr double maxFmPeriodS = 1000.0;
constexpr int maxFmPoints = 100000;

// The power-on (*RST) state of every model; attenuation and the sweep's
// start, stop and step are 0. The level is the same on every model: 0.1 V is
// -10 dBm.
constexpr double resetFrequencyHz = 100e6;
constexpr double resetAmplitudeV = 0.1;
constexpr double resetLevelDbm = -10.0;
constexpr double resetFmPeriodS = 0.001;

// The limits and the power-on value of a number a client sets, in interface
// units (VOLT in volts and POW in dBm on every model). The sweep step lies
// between the frequency grid's step and the width of the frequency range.
struct SettingRange {
    double min = 0;
    double max = 0;
    double reset = 0;
};
// False for a header that takes no number.
bool settingRange(const ModelSpec &spec, scpi::Header header, int gridIndex, SettingRange &range);

// Rounds to the nearest multiple of step, halves away from zero; tolerant of
// binary representation error (0.0015 V rounds to 0.002 V).
double roundToStep(double value, double step);
// True when a and b are within half a step of each other.
bool withinHalfStep(double a, double b, double step);

// Peak volts into 50 ohm to dBm and back.
double voltsToDbm(double volts);
double dbmToVolts(double dBm);

// Number of points of a sweep from start to stop in steps of step.
double fmPointCount(double startHz, double stopHz, double stepHz);

} // namespace rfgen
