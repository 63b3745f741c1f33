// Keyboard commands every secondary window answers to.
#pragma once

class QWidget;

namespace chordwell::app {

/// Escape and Ctrl+W (⌘W on macOS) close the window `widget` belongs to,
/// as the platform's own utility windows do.
void addCloseShortcuts(QWidget* widget);

} // namespace chordwell::app
