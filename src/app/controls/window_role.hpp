// What assistive technology is told a window is. Qt reports a top-level
// plain widget as a client area ("filler" to AT-SPI), so a screen reader
// would not announce the settings, help and demo windows as windows.
#pragma once

class QWidget;

namespace chordwell::app {

/// Makes `window` read as a window (or, with `dialog`, as a dialog).
void announceAsWindow(QWidget* window, bool dialog = false);

} // namespace chordwell::app
