#pragma once

#include "app/WindowTexts.h"

#include <QString>

#include <vector>

// Where a language text goes.
enum class TLanguageTarget {
    Control,          // the caption of the control named like the key (or `control`)
    WindowTitle,      // the window's title
    ApplicationTitle, // message box captions and the name the desktop shows
    Stored,           // a text the main window keeps for later
    StatusReady,      // stored, and shown in the status label at once
    YesCaption,       // the countdown's Yes button and its base text
    ProductItem,      // a product link of the Tools menu: hidden while its caption is empty
    PlaceCaption,     // the caption of a place at the top of the folder trees
    BitrateUnit,      // the unit after each bit rate in its drop-down list
    OpenDialogFilter, // the next filter description of the open-file dialog
    ShortCaption,     // a button's own caption; a missing key gives its action's
    FormatItem,       // the item of the other-formats drop-down numbered at the key's end
    CannotOpen,       // what says a link or folder could not be opened
    TrackWord,        // a word of the audio-track menu's lines
    LoudnessItem,     // the item of the settings' loudness drop-down numbered at the key's end
};

struct TLanguageKey
{
    QString section;
    QString key;
    TLanguageTarget target = TLanguageTarget::Control;
    QString control;                         // object name when it differs from the key; an action for ShortCaption
    QString TWindowTexts::*stored = nullptr; // Stored and StatusReady only
    // What a missing key gives. Texts the first language files did not carry
    // fall back to English, so that no caption of theirs is ever empty.
    QString fallback;
};

// Every key of the language file in the order it is applied: App, the main
// window, then each dialog. Keys that name a control differently say so.
std::vector<TLanguageKey> LanguageKeys();
