#include "drivers.h"

#include "models.h"

namespace rfgen {

std::unique_ptr<Generator> makeDriver(int model) {
    switch (model) {
    case PylarModel:
        return std::make_unique<Pylar>();
    case QuendtModel:
        return std::make_unique<Quendt>();
    default:
        return std::make_unique<Orvex>();
    }
}

void connectDriver(Generator &driver, QSerialPortInfo &port) {
    if (auto *pylar = qobject_cast<Pylar *>(&driver))
        pylar->connect(port);
    else if (auto *orvex = qobject_cast<Orvex *>(&driver))
        orvex->connect(port);
}

} // namespace rfgen
