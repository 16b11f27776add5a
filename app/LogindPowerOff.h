#pragma once

// Asks systemd-logind to switch the computer off (interactive, so polkit may
// ask the user). Asynchronous; without a system bus or logind nothing happens.
// Linked into the program only: no test can ever reach it.
void LogindPowerOff();
