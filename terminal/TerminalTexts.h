#pragma once

#include "conversion/FileReport.h"
#include "conversion/RunTally.h"

#include <QString>

// The words of a terminal run in the user's language, from the language file
// config.ini names, as the window says them: why a file failed or stopped,
// and the summary. The words that begin each file's line ("done:",
// "failed:") stay as they are, for the scripts that read them.
struct TTerminalTexts
{
    TReportTexts Report;
    TTallyTexts Tally;
};

// languageFile: the user's language file; a key it lacks (or a missing file)
// leaves englishFile's words, and then the built-in ones.
TTerminalTexts TerminalTextsOf(const QString &languageFile, const QString &englishFile);
