#pragma once

class QString;

// Creates frmCommon and then every window, once, in the fixed start-up order:
// frmMain first (the main form), then the dialogs. appFolder empty: the
// folder of the running program.
void CreateApplicationForms(const QString &appFolder);

// Releases what CreateApplicationForms made, dialogs first (for tests).
void DestroyApplicationForms();
