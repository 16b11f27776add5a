#pragma once

#include "app/WindowTexts.h"
#include "conversion/EncoderCommand.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

namespace Ui {
class TfrmMain;
}
class QAction;
class QActionGroup;
class TConversionRun;
class TFileAdder;
class TFileQueue;
class TFileQueueView;
class TMediaProbe;
class TOutputOptionsView;
class TRunView;

// The main window: the form that owns the controls and the menus and hands
// their commands to the parts that do the work, one job each: the queue's
// table and row menu (TFileQueueView), files coming into the queue
// (TFileAdder), the output options (TOutputOptionsView) and the conversion
// run (TRunView). The queue is TFileQueue and the run TConversionRun; the
// window's words are TWindowTexts, which the language file fills
// (MainWindowLanguage.cpp) and every part reads.
class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The words the window shows now; set anew, they are shown at once.
    const TWindowTexts &Texts() const { return m_texts; }
    void SetTexts(const TWindowTexts &texts);
    // Captions and texts from the language file.
    void LoadLanguage(const QString &languageFile);
    // Japanese wants a font with its glyphs and has no Tools menu; off gives both back.
    void ApplyJapaneseCharset(bool on = true);

    TFileQueue *Queue() const { return m_queue; }
    TConversionRun *ConversionRun() const;

    // True when the path was taken into the queue (a file of no listed type
    // on trial until its probe finds sound). What is left out is told once
    // the add and its trials are over.
    bool AddFile(const QString &path);
    void AddFolder(const QString &folder, bool includeSubfolders, const QString &extension);
    // Files and folders given at once (dropped, or on the command line), in
    // their order: files through AddFile, folders searched with their
    // subfolders for every listed file.
    void AddPaths(const QStringList &paths);
    // Files of the last adds still waiting for their probe to find sound.
    int OnTrialCount() const;
    // The audio track chosen for a row, -1 for Automatic.
    int AudioTrackOfRow(int row) const;

    // The run's look: controls locked or free, the status line at rest, a
    // line of the encoder's output shown as the selected row's progress.
    void SetControlsEnabled(bool Enabled);
    void ResetStatus();
    void ParseEncoderOutput(const QString &Text);

    // The encoder command for one file: the controls are read at the moment of the call.
    QString GetOutputExt() const;
    int ChannelCount() const;
    // Source and Target are full paths; the program is libm9s in the program folder.
    TEncoderCommand BuildEncoderCommand(const QString &Source, const QString &Target);

public slots:
    void FormShow();

    void ActionFileAddExecute();
    void ActionFileBatchAddExecute();
    void ActionFileDeleteExecute();
    void ActionFileClearAllExecute();
    void ActionFileMoveUpExecute();
    void ActionFileMoveDownExecute();
    void ActionConvertNowExecute();
    void ActionSetDirectoryExecute();
    void ActionExitExecute();

    void editOutputFolderChange();
    void N_SettingClick();

    void N_LocalHelpClick();
    void N_HomePageClick();
    void N_SupportClick();
    void N_FeedBackClick();
    void N_UpdateClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void ConnectActions();
    // Skin -> N_Skin1 ... N_Skin18: each item carries its skin's number.
    void SetupSkinMenu();
    void SkinChosen(QAction *item);
    void SetupParts();
    void FormClose();
    // Closing while files convert: true when the user chose to stop and quit.
    bool ConfirmCloseDuringRun();
    // The texts in every part that shows them.
    void ShowTexts();
    // Options -> Language: the three languages, the one in use checked.
    void SetupLanguageMenu();
    void LanguageChosen(int code);

    Ui::TfrmMain *ui;
    TWindowTexts m_texts = EnglishWindowTexts();
    bool m_shown = false;
    bool m_japaneseCharset = false;
    QActionGroup *m_skinGroup = nullptr;
    QActionGroup *m_languageGroup = nullptr;
    TMediaProbe *m_probe = nullptr;
    TFileQueue *m_queue = nullptr;
    TFileQueueView *m_queueView = nullptr;
    TFileAdder *m_adder = nullptr;
    TOutputOptionsView *m_options = nullptr;
    TRunView *m_runView = nullptr;
};

extern TfrmMain *frmMain;

// Name of the file that is removed from the temporary folder when the main window closes.
QString TemporaryScriptPath();
