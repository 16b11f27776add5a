#include "gui/CommonServices.h"

#include "common/ConfigLocation.h"
#include "common/PowerOff.h"
#include "common/Settings.h"
#include "gui/Skins.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

TfrmCommon *frmCommon = nullptr;

namespace {

struct LanguageLinks
{
    const char *languageFile;
    const char *helpFile;
    const char *homePage;
    const char *supportMail;
    const char *feedbackPage;
};

const LanguageLinks &linksFor(int languageCode)
{
    static const LanguageLinks chinese{"language/gb.ini", "Tolvane_gb.html", "https://tolvane.example/zh/",
                                       "mailto:support-cn@tolvane.example", "https://tolvane.example/zh/contact/"};
    static const LanguageLinks english{"language/en.ini", "Tolvane.html", "https://tolvane.example/en/",
                                       "mailto:support@tolvane.example", "https://tolvane.example/en/feedback/"};
    static const LanguageLinks japanese{"language/jp.ini", "Tolvane_jp.html", "https://tolvane.example/ja/",
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

QString programFolder()
{
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

void ShellOpen(const QString &target)
{
    const QUrl url = target.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(target) : QUrl(target);
    QDesktopServices::openUrl(url);
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
    m_settings = std::make_unique<TSettings>(ConfigFile);
    LanguageCode = m_settings->Language();

    const LanguageLinks &links = linksFor(LanguageCode);
    LanguageFile = AppFolder + QLatin1String(links.languageFile);
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
