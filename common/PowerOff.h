#pragma once

#include <functional>

// Switching the computer off goes through this seam. The library itself never
// reaches the platform: the program installs the real request at start-up,
// tests install a recorder, and without either the request does nothing.
using PowerOffHandler = std::function<void()>;

PowerOffHandler SetPowerOffHandler(PowerOffHandler handler);
void RequestPowerOff();
