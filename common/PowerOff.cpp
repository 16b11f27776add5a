#include "common/PowerOff.h"

namespace {
PowerOffHandler &installed()
{
    static PowerOffHandler handler;
    return handler;
}
}

PowerOffHandler SetPowerOffHandler(PowerOffHandler handler)
{
    PowerOffHandler previous = std::move(installed());
    installed() = std::move(handler);
    return previous;
}

void RequestPowerOff()
{
    if (installed())
        installed()();
}
