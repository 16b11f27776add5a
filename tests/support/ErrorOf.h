#pragma once

#include "common/TolvaneError.h"

#include <QString>

// The text of the error a call raises; empty when it raises none.
template <typename Call> QString ErrorOf(Call &&call)
{
    try {
        call();
    } catch (const TolvaneError &e) {
        return e.text();
    }
    return QString();
}
