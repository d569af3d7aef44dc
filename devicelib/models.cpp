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
