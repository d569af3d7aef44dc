#include "models.h"

#include <cmath>

namespace rfgen {

namespace {
const ModelSpec models[] = {
    {OrvexModel, "Orvex", "ORVEX", "OG-6000", 25e6, 6e9, false, 0.001, 1.0, 0.001, 31.5, 0.5},
    {PylarModel, "Pylar", "PYLAR", "PL-3200", 9e3, 3.2e9, true, -50.0, 4.0, 0.01, 63.5, 0.5},
    {QuendtModel, "Quendt", "QUENDT", "QM-12750", 100e3, 12.75e9, false, 0.001, 2.0, 0.001, 110.0,
     0.1},
};
} // namespace

const ModelSpec *modelSpec(int code) {
    for (const ModelSpec &spec : models)
        if (spec.code == code)
            return &spec;
    return nullptr;
}

bool levelInDbm(int code) {
    const ModelSpec *spec = modelSpec(code);
    return spec && spec->levelInDbm;
}

int modelFromIdentification(const QByteArray &reply) {
    const QByteArray maker = reply.split(',').value(0).trimmed().toUpper();
    for (const ModelSpec &spec : models)
        if (!maker.isEmpty() && maker == spec.maker)
            return spec.code;
    return NoModel;
}

double gridStepHz(int index) {
    static const double steps[gridCount] = {1e3, 2e3, 5e3, 10e3};
    return index >= 0 && index < gridCount ? steps[index] : steps[defaultGridIndex];
}

namespace {
double levelInVolts(const ModelSpec &spec, double level) {
    return spec.levelInDbm ? dbmToVolts(level) : level;
}

double levelInDbm(const ModelSpec &spec, double level) {
    return spec.levelInDbm ? level : voltsToDbm(level);
}
} // namespace

bool settingRange(const ModelSpec &spec, scpi::Header header, int gridIndex, SettingRange &range) {
    using scpi::Header;
    const double lowest = spec.minFrequencyHz, highest = spec.maxFrequencyHz;
    switch (header) {
    case Header::Freq:
        range = {lowest, highest, resetFrequencyHz};
        return true;
    case Header::FmStart:
    case Header::FmStop:
        range = {lowest, highest, 0};
        return true;
    case Header::FmStep:
        range = {gridStepHz(gridIndex), highest - lowest, 0};
        return true;
    case Header::FmPeriod:
        range = {minFmPeriodS, maxFmPeriodS, resetFmPeriodS};
        return true;
    case Header::Att:
        range = {0, spec.maxAttenuationDb, 0};
        return true;
    case Header::Volt:
        range = {levelInVolts(spec, spec.minLevel), levelInVolts(spec, spec.maxLevel),
                 resetAmplitudeV};
        return true;
    case Header::Pow:
        range = {levelInDbm(spec, spec.minLevel), levelInDbm(spec, spec.maxLevel), resetLevelDbm};
        return true;
    default:
        return false;
    }
}

double roundToStep(double value, double step) {
    const double quotient = value / step;
    // Nudge by a few ulps of the quotient so that 1.4999999999999998 counts as a half.
    const double nudged = quotient + std::copysign(std::abs(quotient) * 1e-12, quotient);
    return std::round(nudged) * step;
}

bool withinHalfStep(double a, double b, double step) {
    return std::abs(a - b) <= step / 2 * (1 + 1e-9);
}

double voltsToDbm(double volts) {
    return 10.0 * std::log10(volts * volts / 100.0 / 0.001);
}

double dbmToVolts(double dBm) {
    return std::sqrt(std::pow(10.0, dBm / 10.0 - 3.0) * 100.0);
}

double fmPointCount(double startHz, double stopHz, double stepHz) {
    return std::floor((stopHz - startHz) / stepHz * (1 + 1e-12)) + 1;
}

} // namespace rfgen
