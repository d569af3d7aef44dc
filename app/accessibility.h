#pragma once

// Makes the panel's keys and read-outs work through the accessibility
// interface as they do under the mouse; installed once for the process.
void installPanelAccessibility();
