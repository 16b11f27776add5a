#pragma once

#include <QObject>
#include <QString>

#include <memory>

class TSettings;

// Common services every window asks for: the program folder, config.ini, the
// language chosen at start-up with its links, help, skins and power-off.
// Exactly one instance exists, frmCommon, created before any window.
class TfrmCommon : public QObject
{
    Q_OBJECT
public:
    // appFolder empty: the folder of the running executable.
    explicit TfrmCommon(const QString &appFolder = QString(), QObject *parent = nullptr);
    ~TfrmCommon() override;

    // Every key of ConfigFile, typed; the one way the program reads and writes them.
    TSettings &Settings() const { return *m_settings; }

    // Taken from config.ini by FormCreate; the language and what follows it
    // change with SetLanguage.
    QString AppFolder;  // ends in "/"
    QString ConfigFile; // kept in memory when the user may not write it
    bool SettingsKeptInMemory = false;
    int LanguageCode = 2;
    QString LanguageFile;
    QString HelpFile;
    QString HomePage;
    QString SupportMail;
    QString FeedbackPage;

    // Keeps code (1 Chinese, 2 English, 3 Japanese) in config.ini and takes
    // its language file, help page and links.
    void SetLanguage(int code);

    void OpenHomePage() const;
    void OpenSupportMail() const;
    void OpenHelpFile() const;
    void OpenFeedbackPage() const;

    void ApplySkin(int skinIndex);
    void LoadSkinFile(const QString &skinFile);
    void SaveSkinIndex(int skinIndex) const;
    int ReadSkinIndex() const;

    bool IsAutoPowerOff() const;
    int AutoPowerOffWaitTime() const;
    void PowerOff() const;

private:
    void FormCreate(const QString &appFolder);
    void TakeLanguage(int code);

    std::unique_ptr<TSettings> m_settings;
};

extern TfrmCommon *frmCommon;

// What the desktop could not open: a web page, an e-mail address or a local
// file or folder. Each has its own text, "%s" taking the address or path.
enum class TOpenTarget { Page, Mail, Local };
void SetCannotOpenText(TOpenTarget kind, const QString &text);
QString CannotOpenText(TOpenTarget kind);

// Opens a web address, "mailto:" link or local document with the desktop's
// handler. When no program takes it, raises TolvaneError with the address or
// path, for the user to copy and open by hand.
void ShellOpen(const QString &target);
