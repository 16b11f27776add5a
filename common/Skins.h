#pragma once

#include <QString>

// File name of skin n (1 to 18) in the skins folder; any other index gives "Silver.ssk".
QString SkinFileName(int skinIndex);

// Applies the Qt style sheet held in file to the whole application. A missing
// file leaves the look as it is; a file that exists but cannot be read raises.
void ApplyStyleSheetFile(const QString &file);
