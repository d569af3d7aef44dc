#pragma once

#include "generator.h"

#include <memory>

namespace rfgen {

// The driver of a model code (ORVEX for an unknown code).
std::unique_ptr<Generator> makeDriver(int model);
// connect() is not virtual: each driver family has its own.
void connectDriver(Generator &driver, QSerialPortInfo &port);

} // namespace rfgen
