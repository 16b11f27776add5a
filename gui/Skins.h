#pragma once

#include <QString>

// File name of skin n (1 to 18) in the skins folder; any other index gives "Silver.ssk".
QString SkinFileName(int skinIndex);

// Applies the Qt style sheet held in file to the whole application, every
// window and dialog at once. A missing file leaves the look as it is,
// silently. A file that exists but cannot be read drops the style sheet in use
// (the plain look) and raises TolvaneError, so that the caller stops there.
void ApplyStyleSheetFile(const QString &file);
