// Where the application's windows open: inside the free area of the screen,
// centred on the main window, or beside the mapping list. Plain geometry,
// so that the rules are tested for any screen without showing a window.
#pragma once

#include <QRect>
#include <QSize>

namespace chordwell::app {

/// The frame a window manager draws around a window's content (title bar
/// and borders), allowed for wherever a window must fit the screen.
inline constexpr int kWindowFrameHeight = 40;
inline constexpr int kWindowFrameWidth = 8;

/// A window of `size` (content) centred on `over` (a frame) and moved as
/// little as needed to lie inside `available`, frame included; shrunk to
/// fit when it is larger than `available`.
QRect centredWithin(const QRect& over, const QSize& size, const QRect& available);

/// Where the demo window goes: beside the main window when there is room
/// (right, then left, then below, then above), otherwise inside the main
/// window over its upper part, never over `keep` (the mapping list) where
/// that can be helped; as large as `wanted`, never smaller than `minimum`,
/// always inside `available`.
QRect demoWindowPlace(const QRect& available, const QRect& mainFrame, const QRect& keep,
                      const QSize& wanted, const QSize& minimum);

} // namespace chordwell::app
