#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class Generator;

// Saved set-ups: what the instrument holds (and, from the panel, how the panel
// shows it) kept under a name, one small text file each in the user's data
// folder, shared by the panel and `rfgen serve`. Recalling one never touches
// the RF output.
namespace rfgen::setups {

struct Setup {
    std::optional<double> frequencyHz;
    std::optional<double> amplitudeV; // the VOLT models' level
    std::optional<double> powerDbm;   // PYLAR's level; a set-up holds one of the two
    std::optional<double> attenuationDb;
    std::optional<int> levelControl, fmKind, grid; // the driver's codes
    // The sweep, kept only when one was set up (start below stop, a step).
    std::optional<double> sweepStartHz, sweepStopHz, sweepStepHz, sweepPeriodS;
    // The panel's own keys ("panel.…"): units and step sizes, as text.
    QMap<QString, QString> panel;

    bool hasLevel() const { return amplitudeV || powerDbm; }
    bool isEmpty() const {
        return !frequencyHz && !hasLevel() && !attenuationDb && !levelControl && !fmKind && !grid &&
               !sweepStartHz && panel.isEmpty();
    }
    bool hasSweep() const { return sweepStartHz && sweepStopHz && sweepStepHz && sweepPeriodS; }
    // Keeps a sweep only when one was set up (start below stop, a step, a period).
    void takeSweepIfSetUp(double startHz, double stopHz, double stepHz, double periodS);
};

// $XDG_DATA_HOME/rfgen/setups (~/.local/share/rfgen/setups).
QString folder();
// Why a name cannot name a set-up file (empty when it can): empty, a leading
// dot, '/', "..", a control character, more than 64 characters.
QString nameProblem(const QString &name);
// The set-ups in the folder, in natural order ("2" before "10").
QStringList names(const QString &folder);
QString pathOf(const QString &folder, const QString &name);
bool exists(const QString &folder, const QString &name);

// The file's text; the inverse of parse.
QByteArray text(const Setup &setup);
// Judges a panel key's value: empty when fine, else what is wrong with it.
using PanelCheck = std::function<QString(const QString &key, const QString &value)>;
// Parses a set-up file; on failure why says which line and what is wrong
// ("строка 3: …"). Without a check panel keys are kept as they stand.
bool parse(const QByteArray &text, Setup &setup, QString &why,
           const PanelCheck &panelCheck = PanelCheck());
// Reads and parses a saved set-up; why names the file (and the line).
bool load(const QString &folder, const QString &name, Setup &setup, QString &why,
          const PanelCheck &panelCheck = PanelCheck());
// Writes a set-up; a write that fails leaves the old file as it was.
bool save(const QString &folder, const QString &name, const Setup &setup, QString &why);
bool remove(const QString &folder, const QString &name, QString &why);

// A file written beside the old one that replaces it only when complete.
bool replaceFile(const QString &path, const QByteArray &text, QString &why);

// What the instrument holds now (for *SAV); false when it did not answer.
bool capture(Generator &generator, Setup &setup);

// The parts of a set-up an instrument may refuse.
enum class Part { Frequency, Level, Attenuation, Sweep }; // callers index names by it
struct Recall {
    QList<Part> refused;
    Setup held; // what the instrument holds now of what the set-up gave
};
// Sends a set-up through the driver as typed values go, sweep stopped first,
// the output level never passing above the old and the new one (the
// attenuation before a level rise); the output is left as it is. With
// report, each value the instrument now holds is reported as a client's is.
Recall apply(Generator &generator, const Setup &setup, bool report);

} // namespace rfgen::setups
