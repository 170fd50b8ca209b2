// The virtual key codes the window's keyboard commands are written in, and
// their one translation from Qt's key events.
#pragma once

class QKeyEvent;

namespace vk {

constexpr int Left = 37;
constexpr int Up = 38;
constexpr int Right = 39;
constexpr int Down = 40;
constexpr int Add = 107;       // plus on the numeric pad
constexpr int Subtract = 109;  // minus on the numeric pad
constexpr int OemPlus = 187;   // the "=/+" key of the main keyboard
constexpr int OemMinus = 189;  // the "-/_" key of the main keyboard

// The virtual key code of a key press; 0 for keys the window does not use.
int FromQt(const QKeyEvent& e);

}  // namespace vk
