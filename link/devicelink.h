#pragma once

// What the panel uses of the device library: the driver classes and the
// meaning of the plain int codes that cross its interface.
#include "devicelib/generator.h"

namespace devicelink {

// Model code reported by Searcher; any other value: no instrument recognised.
enum ModelCode { OrvexModel = 0, PylarModel = 1, QuendtModel = 2 };

// Which output level a driver holds (setLevelControl / getLevelControl).
enum LevelControl { AmplitudeLevelHeld = 0, AttenuationLevelHeld = 1 };

// Frequency grid index (setFrequencyGrid / getFrequencyGrid).
enum FrequencyGrid { Grid1KHz = 0, Grid2KHz = 1, Grid5KHz = 2, Grid10KHz = 3 };

// FM kind (setFmMode / getFmMode).
enum FmKind { ChirpUp = 0, ChirpDown = 1, FrequencyHopping = 2 };

} // namespace devicelink
