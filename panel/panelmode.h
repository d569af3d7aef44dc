#pragma once

// The operating modes of the panel, as held in MainWindow::panelMode. They
// decide what each parameter key, unit key and OK means.
namespace panelmode {

enum Mode { Normal = 0, Am = 1, Fm = 2, Delta = 3 };

} // namespace panelmode
