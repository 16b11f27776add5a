#include "gui/CommonServices.h"

#include "common/ConfigLocation.h"
#include "common/IniFile.h"
#include "common/LanguageFile.h"
#include "common/PowerOff.h"
#include "common/Settings.h"
#include "common/TolvaneError.h"
#include "gui/Skins.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

#include <array>

TfrmCommon *frmCommon = nullptr;

namespace {

struct LanguageLinks
{
    const char *helpFile;
    const char *homePage;
    const char *supportMail;
    const char *feedbackPage;
};

const LanguageLinks &linksFor(int languageCode)
{
    static const LanguageLinks chinese{"Tolvane_gb.html", "https://tolvane.example/zh/",
                                       "mailto:support-cn@tolvane.example", "https://tolvane.example/zh/contact/"};
    static const LanguageLinks english{"Tolvane.html", "https://tolvane.example/en/", "mailto:support@tolvane.example",
                                       "https://tolvane.example/en/feedback/"};
    static const LanguageLinks japanese{"Tolvane_jp.html", "https://tolvane.example/ja/",
                                        "mailto:support-jp@tolvane.example", "https://tolvane.example/ja/questions/"};
    switch (languageCode) {
    case 1:
        return chinese;
    case 3:
        return japanese;
    default:
        return english;
    }
}

QString englishCannotOpen(TOpenTarget kind)
{
    switch (kind) {
    case TOpenTarget::Page:
        return QStringLiteral("No web browser opened the page. Its address, to copy into one: %s");
    case TOpenTarget::Mail:
        return QStringLiteral("No e-mail program opened. Please write to: %s");
    case TOpenTarget::Local:
        break;
    }
    return QStringLiteral("No program opened it. Its path, to copy into a file manager: %s");
}

std::array<QString, 3> &cannotOpenTexts()
{
    static std::array<QString, 3> texts{englishCannotOpen(TOpenTarget::Page), englishCannotOpen(TOpenTarget::Mail),
                                        englishCannotOpen(TOpenTarget::Local)};
    return texts;
}

QString programFolder()
{
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

void SetCannotOpenText(TOpenTarget kind, const QString &text)
{
    // A translation that does not name the target once would leave the user
    // nothing to copy: English then.
    cannotOpenTexts()[int(kind)] = text.count(QLatin1String("%s")) == 1 ? text : englishCannotOpen(kind);
}

QString CannotOpenText(TOpenTarget kind) { return cannotOpenTexts()[int(kind)]; }

void ShellOpen(const QString &target)
{
    const bool local = target.startsWith(QLatin1Char('/'));
    const QUrl url = local ? QUrl::fromLocalFile(target) : QUrl(target);
    if (QDesktopServices::openUrl(url))
        return;
    // A desktop without a browser, mail program or file manager for it.
    const bool mail = url.scheme() == QLatin1String("mailto");
    const TOpenTarget kind = local ? TOpenTarget::Local : mail ? TOpenTarget::Mail : TOpenTarget::Page;
    throw TolvaneError(CannotOpenText(kind).replace(QLatin1String("%s"), mail ? url.path() : target));
}

TfrmCommon::TfrmCommon(const QString &appFolder, QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("frmCommon"));
    FormCreate(appFolder);
}

TfrmCommon::~TfrmCommon() = default;

void TfrmCommon::FormCreate(const QString &appFolder)
{
    AppFolder = appFolder.isEmpty() ? programFolder() : appFolder;
    if (!AppFolder.endsWith(QLatin1Char('/')))
        AppFolder += QLatin1Char('/');
    ConfigFile = ChooseConfigFile(AppFolder);
    // A config.ini the user may not write is read and written in memory from
    // the start: changes apply until the program ends, and the window says
    // so once instead of at every change.
    const TIniFile config(ConfigFile);
    SettingsKeptInMemory = !config.IsWritable();
    if (SettingsKeptInMemory)
        config.KeepInMemory();
    m_settings = std::make_unique<TSettings>(ConfigFile);
    TakeLanguage(m_settings->Language());
}

void TfrmCommon::SetLanguage(int code)
{
    m_settings->SetLanguage(code);
    TakeLanguage(code);
}

void TfrmCommon::TakeLanguage(int code)
{
    LanguageCode = code;
    const LanguageLinks &links = linksFor(LanguageCode);
    LanguageFile = AppFolder + LanguageFileName(LanguageCode);
    HelpFile = AppFolder + QLatin1String(links.helpFile);
    HomePage = QLatin1String(links.homePage);
    SupportMail = QLatin1String(links.supportMail);
    FeedbackPage = QLatin1String(links.feedbackPage);
}

void TfrmCommon::OpenHomePage() const { ShellOpen(HomePage); }
void TfrmCommon::OpenSupportMail() const { ShellOpen(SupportMail); }
void TfrmCommon::OpenHelpFile() const { ShellOpen(HelpFile); }
void TfrmCommon::OpenFeedbackPage() const { ShellOpen(FeedbackPage); }

void TfrmCommon::ApplySkin(int skinIndex)
{
    LoadSkinFile(AppFolder + QStringLiteral("skins/") + SkinFileName(skinIndex));
}

void TfrmCommon::LoadSkinFile(const QString &skinFile) { ApplyStyleSheetFile(skinFile); }

void TfrmCommon::SaveSkinIndex(int skinIndex) const { m_settings->SetSkin(skinIndex); }

int TfrmCommon::ReadSkinIndex() const { return m_settings->Skin(); }

bool TfrmCommon::IsAutoPowerOff() const { return m_settings->AutoPowerOff(); }

int TfrmCommon::AutoPowerOffWaitTime() const { return m_settings->AutoPowerOffWaitTime(); }

void TfrmCommon::PowerOff() const { RequestPowerOff(); }
