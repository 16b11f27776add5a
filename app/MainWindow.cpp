#include "app/MainWindow.h"
#include "ui_MainWindow.h"

#include "app/ActionBinding.h"
#include "app/FileAdder.h"
#include "app/FileQueueModel.h"
#include "app/FileQueueView.h"
#include "app/OutputOptionsView.h"
#include "app/ProductLinks.h"
#include "app/RunView.h"
#include "common/ErrorReport.h"
#include "common/Settings.h"
#include "conversion/ConversionRun.h"
#include "conversion/FileQueue.h"
#include "conversion/MediaProbe.h"
#include "conversion/TemporaryOutput.h"
#include "dialogs/DirectoryChooser.h"
#include "dialogs/SettingsDialog.h"
#include "gui/CommonServices.h"

#include <QActionGroup>
#include <QCloseEvent>
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
    SetupSkinMenu();
    setAcceptDrops(true);
    SetupLanguageMenu();
    SetupParts();
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
}

void TfrmMain::SetupSkinMenu()
{
    m_skinGroup = new QActionGroup(this);
    const QList<QAction *> items{ui->N_Skin1,  ui->N_Skin2,  ui->N_Skin3,  ui->N_Skin4,  ui->N_Skin5,  ui->N_Skin6,
                                 ui->N_Skin7,  ui->N_Skin8,  ui->N_Skin9,  ui->N_Skin10, ui->N_Skin11, ui->N_Skin12,
                                 ui->N_Skin13, ui->N_Skin14, ui->N_Skin15, ui->N_Skin16, ui->N_Skin17, ui->N_Skin18};
    for (int position = 0; position < items.size(); ++position) {
        items[position]->setData(position + 1);
        m_skinGroup->addAction(items[position]);
    }
    connect(m_skinGroup, &QActionGroup::triggered, this, &TfrmMain::SkinChosen);
}

void TfrmMain::SkinChosen(QAction *item)
{
    const int skin = item->data().toInt();
    frmCommon->ApplySkin(skin);
    frmCommon->SaveSkinIndex(skin);
}

// The parts in the order they depend on each other: the queue, what adds to
// it and its view, the options, then the run over all of them.
void TfrmMain::SetupParts()
{
    m_probe = new TMediaProbe(frmCommon ? frmCommon->AppFolder : QString(), this);
    m_queue = new TFileQueue(this);
    m_queue->setObjectName(QStringLiteral("Queue"));
    m_queue->SetProbe(m_probe);
    m_adder = new TFileAdder(*this, m_texts, *m_queue);
    m_queueView = new TFileQueueView(*this, *ui, m_texts, *m_queue, *m_probe);
    m_queueView->Model().SetEditCheck(
        [this](int row, const QString &path) { return m_adder->AcceptEditedPath(row, path); });
    m_options = new TOutputOptionsView(*this, *ui, m_texts);
    m_runView = new TRunView(*this, *ui, m_texts, *m_queue, *m_probe, *m_queueView, *m_options);
}

TConversionRun *TfrmMain::ConversionRun() const { return &m_runView->Run(); }

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
    const QString folder = frmCommon->Settings().OutputFolder();
    if (ui->editOutputFolder->text() != folder)
        ui->editOutputFolder->setText(folder);
    // A run cut short by a crash may have left hidden files behind.
    RemoveAbandonedTemporaries();
    // Said once, when the window is up: settings still change, in memory.
    if (frmCommon->SettingsKeptInMemory)
        QTimer::singleShot(0, this, [this] {
            ReportError(QString(m_texts.msgSettingsInMemory).replace(QLatin1String("%s"), frmCommon->ConfigFile));
        });
}

void TfrmMain::editOutputFolderChange() { frmCommon->Settings().SetOutputFolder(ui->editOutputFolder->text()); }

void TfrmMain::ActionExitExecute() { close(); }

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // Files converting are not dropped on a slip of the hand.
    const TConversionRun &run = m_runView->Run();
    if (run.IsActive() && !run.IsClosing() && !ConfirmCloseDuringRun()) {
        event->ignore();
        return;
    }
    FormClose();
    QMainWindow::closeEvent(event);
}

bool TfrmMain::ConfirmCloseDuringRun()
{
    QMessageBox box(QMessageBox::Question, ApplicationTitle(), m_texts.msgCloseDuringRun, QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("msgCloseDuringRun"));
    QPushButton *quit = box.addButton(m_texts.msgStopAndQuit, QMessageBox::AcceptRole);
    quit->setObjectName(QStringLiteral("buttonStopAndQuit"));
    QPushButton *keep = box.addButton(m_texts.msgKeepConverting, QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("buttonKeepConverting"));
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    // The run may have ended while the question waited: then there is nothing to stop.
    return box.clickedButton() == quit;
}

void TfrmMain::FormClose()
{
    m_runView->Run().Close();
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
    m_adder->AddNativePaths(paths);
}

// Every language has a local help page of its own.
void TfrmMain::N_LocalHelpClick() { frmCommon->OpenHelpFile(); }

void TfrmMain::N_HomePageClick() { frmCommon->OpenHomePage(); }
void TfrmMain::N_SupportClick() { frmCommon->OpenSupportMail(); }
void TfrmMain::N_FeedBackClick() { frmCommon->OpenFeedbackPage(); }
void TfrmMain::N_UpdateClick() { frmCommon->OpenHomePage(); }

void TfrmMain::N_SettingClick()
{
    // Modeless: a second click only brings the open dialog to the front.
    if (!frmSetting->isVisible())
        frmSetting->show();
    frmSetting->raise();
    frmSetting->activateWindow();
}

void TfrmMain::ActionSetDirectoryExecute()
{
    if (!FrmDirectory)
        return;
    FrmDirectory->currentFolder = ui->editOutputFolder->text();
    if (FrmDirectory->exec() == QDialog::Accepted)
        ui->editOutputFolder->setText(FrmDirectory->chosenFolder);
}

// The design's handlers: each hands its command to the part that does it.
void TfrmMain::ActionFileAddExecute() { m_adder->AddFromDialog(); }
void TfrmMain::ActionFileBatchAddExecute() { m_adder->ShowBatchAdd(); }
void TfrmMain::ActionFileDeleteExecute() { m_queueView->DeleteSelected(); }
void TfrmMain::ActionFileClearAllExecute() { m_queueView->ClearAll(); }
void TfrmMain::ActionFileMoveUpExecute() { m_queueView->MoveSelectedUp(); }
void TfrmMain::ActionFileMoveDownExecute() { m_queueView->MoveSelectedDown(); }
void TfrmMain::ActionConvertNowExecute() { m_runView->ConvertOrStop(); }

bool TfrmMain::AddFile(const QString &path) { return m_adder->AddFile(path); }

void TfrmMain::AddFolder(const QString &folder, bool includeSubfolders, const QString &extension)
{
    m_adder->AddFolder(folder, includeSubfolders, extension);
}

void TfrmMain::AddPaths(const QStringList &paths) { m_adder->AddPaths(paths); }
int TfrmMain::OnTrialCount() const { return m_adder->OnTrialCount(); }
int TfrmMain::AudioTrackOfRow(int row) const { return m_queueView->AudioTrackOfRow(row); }
void TfrmMain::SetControlsEnabled(bool Enabled) { m_runView->SetControlsEnabled(Enabled); }
void TfrmMain::ResetStatus() { m_runView->ResetStatus(); }
void TfrmMain::ParseEncoderOutput(const QString &Text) { m_runView->ParseEncoderOutput(Text); }
QString TfrmMain::GetOutputExt() const { return m_options->GetOutputExt(); }
int TfrmMain::ChannelCount() const { return m_options->ChannelCount(); }

TEncoderCommand TfrmMain::BuildEncoderCommand(const QString &Source, const QString &Target)
{
    const TOutputOptions options = m_options->CurrentOptions();
    return ::BuildEncoderCommand(ConversionRun()->FFMpeg, frmCommon->AppFolder,
                                 {Source, Target, FormatOfName(options.Extension), options.Bitrate, options.SampleRate,
                                  options.Channels, -1, options.VerifyOutput, options.Loudness});
}
