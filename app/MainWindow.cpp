#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ActionBinding.h"
#include "app/ProductLinks.h"
#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "conversion/EncoderOutput.h"
#include "conversion/SourcePaths.h"
#include "conversion/TemporaryOutput.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeySequence>
#include <QLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QUrl>

TfrmMain *frmMain = nullptr;

namespace {
// The client area the window is laid out for; the menu bar comes on top.
constexpr int ClientWidth = 414;
constexpr int ClientHeight = 423;
}

QString TemporaryScriptPath() { return QDir(QDir::tempPath()).filePath(QStringLiteral("v9i.avs")); }

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent), ui(new Ui::TfrmMain)
{
    ui->setupUi(this);
    // The third format button is never shown: it keeps WAV, MP3 and the
    // formats of the drop-down one exclusive choice. As a window of its own it
    // stays out of the accessibility tree, where a hidden button still shows.
    ui->radioButtonFormatOther->setWindowFlags(Qt::Window);
    // The client area the controls were laid out for is the least it gets;
    // what the window grows by goes to the queue.
    ui->centralwidget->setMinimumSize(ClientWidth, ClientHeight);
    ui->layoutMain->setStretchFactor(ui->listViewFiles, 1);
    ui->listViewFiles->setMinimumHeight(ui->listViewFiles->fontMetrics().height() * 4);
    ConnectActions();
    SetupFileQueue();
    FormCreate();
}

TfrmMain::~TfrmMain() { delete ui; }

void TfrmMain::ConnectActions()
{
    // The menus say what the command opens; the button has room for a word.
    BindButtonToAction(ui->buttonAdd, ui->ActionFileAdd, TButtonCaption::OwnCaption);
    BindButtonToAction(ui->buttonDelete, ui->ActionFileDelete);
    BindButtonToAction(ui->buttonClearAll, ui->ActionFileClearAll);
    BindButtonToAction(ui->buttonMoveUp, ui->ActionFileMoveUp);
    BindButtonToAction(ui->buttonMoveDown, ui->ActionFileMoveDown);
    BindButtonToAction(ui->BitBtnOutput, ui->ActionSetDirectory);
    BindButtonToAction(ui->buttonConvert, ui->ActionConvertNow);

    BindProxyToAction(ui->N1_1, ui->ActionFileAdd);
    BindProxyToAction(ui->N1_11, ui->ActionFileBatchAdd);
    BindProxyToAction(ui->N1_2, ui->ActionFileDelete);
    BindProxyToAction(ui->N1_3, ui->ActionFileClearAll);
    BindProxyToAction(ui->N1_5, ui->ActionFileMoveUp);
    BindProxyToAction(ui->N1_6, ui->ActionFileMoveDown);
    BindProxyToAction(ui->N1_8, ui->ActionConvertNow);
    BindProxyToAction(ui->N1_10, ui->ActionExit);

    // The menus hold stand-ins of the actions: the window itself takes their keys.
    ui->ActionFileAdd->setShortcut(QKeySequence::Open);
    ui->ActionConvertNow->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    addActions({ui->ActionFileAdd, ui->ActionConvertNow});
    // Delete belongs to the queue: in the folder field or a drop-down it is theirs.
    ui->ActionFileDelete->setShortcut(QKeySequence::Delete);
    ui->ActionFileDelete->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ui->listViewFiles->addAction(ui->ActionFileDelete);

    connect(ui->ActionFileAdd, &QAction::triggered, this, &TfrmMain::ActionFileAddExecute);
    connect(ui->ActionFileBatchAdd, &QAction::triggered, this, &TfrmMain::ActionFileBatchAddExecute);
    connect(ui->ActionFileDelete, &QAction::triggered, this, &TfrmMain::ActionFileDeleteExecute);
    connect(ui->ActionFileClearAll, &QAction::triggered, this, &TfrmMain::ActionFileClearAllExecute);
    connect(ui->ActionFileMoveUp, &QAction::triggered, this, &TfrmMain::ActionFileMoveUpExecute);
    connect(ui->ActionFileMoveDown, &QAction::triggered, this, &TfrmMain::ActionFileMoveDownExecute);
    connect(ui->ActionConvertNow, &QAction::triggered, this, &TfrmMain::ActionConvertNowExecute);
    connect(ui->ActionSetDirectory, &QAction::triggered, this, &TfrmMain::ActionSetDirectoryExecute);
    connect(ui->ActionExit, &QAction::triggered, this, &TfrmMain::ActionExitExecute);

    connect(ui->editOutputFolder, &QLineEdit::textChanged, this, &TfrmMain::editOutputFolderChange);
    connect(ui->N_Setting, &QAction::triggered, this, &TfrmMain::N_SettingClick);

    connect(ui->N_LocalHelp, &QAction::triggered, this, &TfrmMain::N_LocalHelpClick);
    connect(ui->N_HomePage, &QAction::triggered, this, &TfrmMain::N_HomePageClick);
    connect(ui->N_Support, &QAction::triggered, this, &TfrmMain::N_SupportClick);
    connect(ui->N_FeedBack, &QAction::triggered, this, &TfrmMain::N_FeedBackClick);
    connect(ui->N_Update, &QAction::triggered, this, &TfrmMain::N_UpdateClick);
    ConnectProductLinks(ui->N_OtherProducts);

    connect(ui->N_Skin1, &QAction::triggered, this, &TfrmMain::N_Skin1Click);
    connect(ui->N_Skin2, &QAction::triggered, this, &TfrmMain::N_Skin2Click);
    connect(ui->N_Skin3, &QAction::triggered, this, &TfrmMain::N_Skin3Click);
    connect(ui->N_Skin4, &QAction::triggered, this, &TfrmMain::N_Skin4Click);
    connect(ui->N_Skin5, &QAction::triggered, this, &TfrmMain::N_Skin5Click);
    connect(ui->N_Skin6, &QAction::triggered, this, &TfrmMain::N_Skin6Click);
    connect(ui->N_Skin7, &QAction::triggered, this, &TfrmMain::N_Skin7Click);
    connect(ui->N_Skin8, &QAction::triggered, this, &TfrmMain::N_Skin8Click);
    connect(ui->N_Skin9, &QAction::triggered, this, &TfrmMain::N_Skin9Click);
    connect(ui->N_Skin10, &QAction::triggered, this, &TfrmMain::N_Skin10Click);
    connect(ui->N_Skin11, &QAction::triggered, this, &TfrmMain::N_Skin11Click);
    connect(ui->N_Skin12, &QAction::triggered, this, &TfrmMain::N_Skin12Click);
    connect(ui->N_Skin13, &QAction::triggered, this, &TfrmMain::N_Skin13Click);
    connect(ui->N_Skin14, &QAction::triggered, this, &TfrmMain::N_Skin14Click);
    connect(ui->N_Skin15, &QAction::triggered, this, &TfrmMain::N_Skin15Click);
    connect(ui->N_Skin16, &QAction::triggered, this, &TfrmMain::N_Skin16Click);
    connect(ui->N_Skin17, &QAction::triggered, this, &TfrmMain::N_Skin17Click);
    connect(ui->N_Skin18, &QAction::triggered, this, &TfrmMain::N_Skin18Click);
}

void TfrmMain::FormCreate()
{
    setAcceptDrops(true);
    SetupLanguageMenu();
    SetupOutputSettings();
    SetupConversionRun();
    connect(&frmCommon->Settings(), &TSettings::Changed, this, &TfrmMain::ShowRunWideSettings);
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        FormShow();
    }
}

void TfrmMain::FormShow()
{
    if (frmCommon->LanguageCode == 3)
        ApplyJapaneseCharset();
    LoadLanguage(frmCommon->LanguageFile);
    frmCommon->ApplySkin(frmCommon->ReadSkinIndex());
    // Opens at its least size, which the language's texts and the skin decide,
    // in the middle of the screen.
    resize(minimumSizeHint());
    if (QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());

    // Setting the same text changes nothing and so writes nothing.
    const QString folder = LoadOutputFolder();
    if (ui->editOutputFolder->text() != folder)
        ui->editOutputFolder->setText(folder);
    // A run cut short by a crash may have left hidden files behind.
    RemoveAbandonedTemporaries();
    // Said once, when the window is up: settings still change, in memory.
    if (frmCommon->SettingsKeptInMemory)
        QTimer::singleShot(0, this, [this] {
            ReportError(QString(msgSettingsInMemory).replace(QLatin1String("%s"), frmCommon->ConfigFile));
        });
}

QString TfrmMain::LoadOutputFolder() const { return frmCommon->Settings().OutputFolder(); }

void TfrmMain::SaveOutputFolder() { frmCommon->Settings().SetOutputFolder(ui->editOutputFolder->text()); }

void TfrmMain::editOutputFolderChange() { SaveOutputFolder(); }

void TfrmMain::ActionExitExecute() { close(); }

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // Files converting are not dropped on a slip of the hand.
    if (ConversionRun && ConversionRun->IsActive() && !ConversionRun->IsClosing() && !ConfirmCloseDuringRun()) {
        event->ignore();
        return;
    }
    FormClose();
    QMainWindow::closeEvent(event);
}

bool TfrmMain::ConfirmCloseDuringRun()
{
    QMessageBox box(QMessageBox::Question, ApplicationTitle(), msgCloseDuringRun, QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("msgCloseDuringRun"));
    QPushButton *quit = box.addButton(msgStopAndQuit, QMessageBox::AcceptRole);
    quit->setObjectName(QStringLiteral("buttonStopAndQuit"));
    QPushButton *keep = box.addButton(msgKeepConverting, QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("buttonKeepConverting"));
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    // The run may have ended while the question waited: then there is nothing to stop.
    return box.clickedButton() == quit;
}

void TfrmMain::ShowRunWideSettings()
{
    // Before the texts are set there are no words to say it with.
    if (msgRunWide.isEmpty())
        return;
    // A copy is not re-encoded: no level can be reached, tags can still be written.
    const bool copy = GetOutputExt() == QLatin1String("copy");
    if (frmSetting)
        frmSetting->SetLoudnessLevelsApply(!copy, msgLoudnessNotForCopy);
    const TSettings &settings = frmCommon->Settings();
    QStringList parts;
    const QString loudness = settings.Loudness();
    bool notForCopy = false;
    if (loudness != QLatin1String("off")) {
        // The words of the settings dialog's list, in the user's language.
        const auto *choices =
            frmSetting ? frmSetting->findChild<QComboBox *>(QStringLiteral("comboLoudness")) : nullptr;
        const int position = int(TSettings::LoudnessChoices().indexOf(loudness));
        const QString shown = choices && position >= 0 ? choices->itemText(position) : loudness;
        QString part = FormatText(msgRunWideLoudness, {shown});
        notForCopy = copy && loudness != QLatin1String("replaygain");
        if (notForCopy)
            part += QStringLiteral(" (") + msgLoudnessNotForCopy + QLatin1Char(')');
        parts << part;
    }
    if (settings.SplitChapters())
        parts << msgRunWideChapters;
    if (settings.KeepFolders())
        parts << msgRunWideKeepFolders;
    const QString text = parts.isEmpty() ? QString() : FormatText(msgRunWide, {parts.join(QStringLiteral(" \u00B7 "))});
    // Empty rather than hidden: a hidden label still reaches screen readers.
    ui->labelRunWide->setText(text);
    ui->labelRunWide->setToolTip(text);
}

void TfrmMain::FormClose()
{
    CloseConversionRun();
    QFile::remove(TemporaryScriptPath());
}

void TfrmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent *event)
{
    // The URL's own bytes: toLocalFile() would turn a name that is no UTF-8 into U+FFFD.
    QList<QByteArray> paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    // Accepted first: the drag source is not kept waiting while folders are searched.
    event->acceptProposedAction();
    AddNativePaths(paths);
}

// Every language has a local help page of its own.
void TfrmMain::N_LocalHelpClick() { frmCommon->OpenHelpFile(); }

void TfrmMain::N_HomePageClick() { frmCommon->OpenHomePage(); }
void TfrmMain::N_SupportClick() { frmCommon->OpenSupportMail(); }
void TfrmMain::N_FeedBackClick() { frmCommon->OpenFeedbackPage(); }
void TfrmMain::N_UpdateClick() { frmCommon->OpenHomePage(); }

void TfrmMain::SkinMenuClick(int skinIndex)
{
    frmCommon->ApplySkin(skinIndex);
    frmCommon->SaveSkinIndex(skinIndex);
}

void TfrmMain::N_Skin1Click() { SkinMenuClick(1); }
void TfrmMain::N_Skin2Click() { SkinMenuClick(2); }
void TfrmMain::N_Skin3Click() { SkinMenuClick(3); }
void TfrmMain::N_Skin4Click() { SkinMenuClick(4); }
void TfrmMain::N_Skin5Click() { SkinMenuClick(5); }
void TfrmMain::N_Skin6Click() { SkinMenuClick(6); }
void TfrmMain::N_Skin7Click() { SkinMenuClick(7); }
void TfrmMain::N_Skin8Click() { SkinMenuClick(8); }
void TfrmMain::N_Skin9Click() { SkinMenuClick(9); }
void TfrmMain::N_Skin10Click() { SkinMenuClick(10); }
void TfrmMain::N_Skin11Click() { SkinMenuClick(11); }
void TfrmMain::N_Skin12Click() { SkinMenuClick(12); }
void TfrmMain::N_Skin13Click() { SkinMenuClick(13); }
void TfrmMain::N_Skin14Click() { SkinMenuClick(14); }
void TfrmMain::N_Skin15Click() { SkinMenuClick(15); }
void TfrmMain::N_Skin16Click() { SkinMenuClick(16); }
void TfrmMain::N_Skin17Click() { SkinMenuClick(17); }
void TfrmMain::N_Skin18Click() { SkinMenuClick(18); }
