#pragma once

#include <QHash>
#include <QMainWindow>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "conversion/ConversionRun.h"
#include "conversion/EncoderCommand.h"
#include "conversion/FileQueueRules.h"
#include "conversion/RunEstimate.h"
#include "conversion/RunTally.h"

#include <QElapsedTimer>

namespace Ui {
class TfrmMain;
}
class QAction;
class QActionGroup;
class QFileDialog;
class QMenu;
class TConsoleIO;
class TFileQueue;
class TFileQueueModel;
class TMediaProbe;
class TSourceLinks;

// The main window: the file queue, the output options, the progress display
// and the menus. Its handlers are spread over a few files by subject:
// MainWindow.cpp (start-up, output folder, help, skins), MainWindowQueue.cpp
// (the file queue), MainWindowRun.cpp (what the conversion run reports),
// MainWindowOptions.cpp (format and options of the encoder command),
// MainWindowSettings.cpp (options kept in config.ini) and
// MainWindowLanguage.cpp (captions and texts from the language file).
// The queue is TFileQueue and the run TConversionRun; the window shows them
// and answers the run's question through AnswerFileExists.
class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // Texts kept from the language file for later use.
    QString StringStartCaption;
    QString StringStopCaption;
    QString msgStatusReady;
    QString msgStatusRun;
    QString msgClearAll;
    QString msgFolderView;
    QString msgFinishInfo;
    QString msgNoOutputFolder;
    QString msgFailedFiles;
    QString msgNoAudioTracks;    // the audio-track menu's line for a file without tracks
    QString msgSettingsInMemory; // config.ini cannot be written; "%s" takes its path
    QString msgColumnFile;       // the queue's column headers
    QString msgColumnLength;
    QString msgColumnState;
    // Texts of a run: each row's state, the time left in the title, the
    // end message's summary. English where the language file lacks them.
    QString msgStateWaiting;
    QString msgStateConverting; // a file whose duration the encoder cannot tell
    QString msgStateDone;
    QString msgStateSkipped;
    QString msgStateFailed;
    QString msgStateStopped;
    QString msgTimeLeft;       // "about %s left"
    QString msgStatusRunFiles; // the status line while several files convert at once
    QString msgRunSummary;     // files converted, files of the run, time taken
    QString msgMoreFailed;     // the failed files the end message leaves out
    QString msgSpanSeconds;    // spans of time, each number a "%s"
    QString msgSpanMinutes;
    QString msgSpanMinutesSeconds;
    QString msgSpanHours;
    QString msgSpanHoursMinutes;
    QString msgStateIncomplete; // the source ends before its declared length
    QString msgStateChapter;    // "chapter %s of %s": a source converted one file per chapter
    QString msgSourceEndsEarly; // "the source ends at %s of %s"
    QString msgOldFileKept;     // an overwrite that did not complete
    QString msgIncompleteFiles; // the end message's count of incomplete files
    QString msgFailNoSound;     // why a file failed, one text per kind the encoder names
    QString msgFailUnreadable;
    QString msgFailAccess;
    QString msgFailDiskFull;
    QString msgFailCannotKeep;
    QString msgFailCheck;
    QString msgFailOther;
    QString msgFailFolderAccess;   // the output folder may not be written; "%s" takes it
    QString msgFailFolderNotMade;  // the output folder cannot be made; "%s" takes it
    QString msgFailNotAFile;       // no file has the output's name; "%s" takes it
    QString msgFailSourceGone;     // a queued file was moved or deleted
    QString msgFailNameTooLong;    // the output's name is too long for its file system
    QString msgOutputBesideSource; // the output took a free name beside its own source; "%s": that name
    QString msgPartKept;           // "%s of %s kept as %s."
    QString msgStoppedPartNote;    // in a kept part's file name: "stopped at %s"
    QString msgRunStopped;         // the end message after a stop opens with it
    QString msgRunSkipped;         // the end message's other counts
    QString msgRunFailed;
    QString msgRunStoppedFiles;
    QString msgRunChapters;     // files written one per chapter, and the files they made
    QString msgStatusAudioLeft; // the status line's "%s of audio left" in the file being converted
    QString msgCloseDuringRun;  // closing the window while files convert asks first
    QString msgStopAndQuit;
    QString msgKeepConverting;
    QString msgShowInFolder; // the row menu's entry for a file converted
    QString msgOutputTip;    // a row's tool tip: "Output: %s"
    // The line beside Convert that says which settings apply to every file.
    QString msgRunWide;
    QString msgRunWideLoudness;
    QString msgRunWideChapters;
    QString msgRunWideKeepFolders;
    QString msgLoudnessNotForCopy; // why a loudness level is greyed for the original audio
    // The open-file dialog's title and filter descriptions, English where the
    // language file lacks them.
    QString OpenDialogCaption = QLatin1String(OpenDialogEnglishTitle);
    QStringList OpenDialogFilterTexts;
    // The message after an add that left files out, and the state of a file
    // on trial (QueueTextKeys has their keys and English).
    QString msgNotAdded;
    QString msgNotAddedMore;
    QString msgReasonNoSound;
    QString msgReasonNotMedia;
    QString msgReasonInList;
    QString msgReasonNotAFile;
    QString msgStateChecking;

    QString LoadOutputFolder() const;
    void SaveOutputFolder();

    // Captions and texts from the language file.
    void LoadLanguage(const QString &languageFile);
    // Japanese wants a font with its glyphs and has no Tools menu; off gives both back.
    void ApplyJapaneseCharset(bool on = true);

    // The file queue: the files, the probe that learns their lengths and
    // tracks, and the table listViewFiles shows.
    TFileQueue *Queue = nullptr;
    TMediaProbe *Probe = nullptr;
    TFileQueueModel *QueueModel = nullptr;
    // True when the path was taken into the queue (a file of no listed type
    // on trial until its probe finds sound). What is left out is told once
    // the add and its trials are over.
    bool AddFile(const QString &path);
    void AddFolder(const QString &folder, bool includeSubfolders, const QString &extension);
    // Files and folders given at once (dropped, or on the command line), in
    // their order: files through AddFile, folders searched with their
    // subfolders for every listed file.
    void AddPaths(const QStringList &paths);
    // The same with the bytes the file system holds (a dropped name need not be UTF-8).
    void AddNativePaths(const QList<QByteArray> &paths);
    // Where Add Files and batch add open: the folder used last, else the
    // videos folder, else home.
    QString AddStartFolder() const;
    // Files of the last adds still waiting for their probe to find sound.
    int OnTrialCount() const { return int(OnTrial.size()); }

    // File queue: tests answer the open-file dialog through this hook; it gets
    // the prepared dialog and returns the chosen files. Empty: the real dialog.
    using TOpenDialogRunner = std::function<QStringList(QFileDialog &dialog)>;
    static TOpenDialogRunner OpenDialogRunner;
    // File queue: the folder search handles the window's events at the first
    // entry after this many milliseconds (0: after every entry). Handling them
    // after every entry would repaint the window once per row.
    static int SearchYieldIntervalMs;

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

    void N_Skin1Click();
    void N_Skin2Click();
    void N_Skin3Click();
    void N_Skin4Click();
    void N_Skin5Click();
    void N_Skin6Click();
    void N_Skin7Click();
    void N_Skin8Click();
    void N_Skin9Click();
    void N_Skin10Click();
    void N_Skin11Click();
    void N_Skin12Click();
    void N_Skin13Click();
    void N_Skin14Click();
    void N_Skin15Click();
    void N_Skin16Click();
    void N_Skin17Click();
    void N_Skin18Click();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void FormCreate();
    void FormClose();
    void ConnectActions();
    // Closing while files convert: true when the user chose to stop and quit.
    bool ConfirmCloseDuringRun();
    // The line beside Convert: the settings that apply to every file, and
    // a loudness level the original audio does not take.
    void ShowRunWideSettings();
    // Options -> Language: the three languages, the one in use checked.
    void SetupLanguageMenu();
    void LanguageChosen(int code);
    QActionGroup *LanguageGroup = nullptr;
    bool m_japaneseCharset = false;
    void SkinMenuClick(int skinIndex);
    // Format, bit rate, sample rate and channels: restored from config.ini,
    // written back when the user changes them.
    void SetupOutputSettings();
    // Shows a stored format; the controls it does not use are disabled.
    void ShowOutputFormat(const QString &format);
    void OutputFormatChanged();
    void ApplyFormatToControls();

    Ui::TfrmMain *ui;
    bool m_shown = false;

    // File queue
    void SetupFileQueue();
    QList<int> SelectedRows() const; // top to bottom
    int SelectedRow() const;         // the first selected; -1 for none
    void DeleteSelectedFile();
    void MoveSelectedUp();
    void MoveSelectedDown();
    void SwapRows(int from, int to);
    // The queue's "Audio track" menu: filled from the selected row's file
    // each time it opens; the choice is kept in the row's item.
    void FillAudioTrackMenu();
    void AudioTrackChosen(QAction *item);
    // False when the search was cancelled or the window closed.
    bool SearchFolder(const QString &folder, bool includeSubfolders, const QString &extension);
    bool AddNative(const QByteArray &native, bool fromFolderSearch);
    struct TAdmitted
    {
        QString Source;
        TAddVerdict Verdict;
    };
    std::optional<TAdmitted> Admit(const QByteArray &native, bool fromFolderSearch, bool refusePassOver);
    // An add may nest (a drop during a folder search); the files it left out
    // are told when the outermost one ends and no file of it is on trial.
    void BeginAdd() { ++AddDepth; }
    void EndAdd();
    void TellNotAdded();
    void SaveLastAddFolder(const QString &folder);
    std::unique_ptr<TSourceLinks> SourceLinks;
    int AddDepth = 0;
    QList<TNotAddedFile> NotAdded;
    quint64 AddOrder = 0;               // counts the paths offered, for the order of NotAdded
    QHash<quint64, quint64> TrialOrder; // by id: when a file on trial was offered
    void Refuse(const QString &name, TNotAdded reason) { NotAdded.append({name, reason, AddOrder}); }
    QSet<quint64> OnTrial; // ids of the files still waiting for their probe
    void listViewFilesContextPopup(const QPoint &pos);
    // A row whose file was converted opens the folder of what it wrote.
    void ShowSelectedInFolder();
    // An edited path goes through the rules an added one does; false keeps the old path.
    bool AcceptEditedPath(int row, const QString &path);
    QAction *ShowInFolderItem = nullptr;
    QFileDialog *OpenDialog = nullptr;
    QMenu *PopupMenu = nullptr;
    QMenu *AudioTrackMenu = nullptr;
    QAction *AutomaticTrackItem = nullptr;
    QActionGroup *AudioTrackGroup = nullptr;

    // Conversion run: the engine runs it, the window draws what it reports.
public:
    TConversionRun *ConversionRun = nullptr; // owns the runner, the choices and the file being converted

    void RunConversion();
    void StopConversion();
    void SetControlsEnabled(bool Enabled);
    void ResetStatus();
    void ForceOutputFolder(const QString &Folder);
    void ParseEncoderOutput(const QString &Text);

    QString SourceOfRow(int row) const;
    // The audio track chosen for a row, -1 for Automatic.
    int AudioTrackOfRow(int row) const;
    // The format and options the controls show now; a run reads them once.
    TOutputOptions CurrentOptions() const;
    // The folder holding libm9s.
    QString EncoderFolder() const;

public slots:
    void ConsoleIOProcessStatusChange(TConsoleIO *Sender, bool IsRunning);

private:
    void SetupConversionRun();
    void CloseConversionRun();
    void ShowFileStarted(int row);
    void ShowRunEnded();
    void AskFileExists(const QString &target, const QString &source);
    double ElapsedRunSeconds() const;
    void ShowProgress(const TProgressView &view);
    void ShowEndOfRun(const QString &folder, const QStringList &failedSources);
    void SetupQueueColumns();
    // The texts of the queue's view, from the language; the length and
    // state columns fit their widest words.
    void ApplyQueueTexts();
    // The state column holds its longest word; with chapters, "chapter 12 of 12 · 100%".
    void FitStateColumn(bool chapters);
    void ShowFileOutcome(int row, TFileOutcome outcome, const QString &reason);
    TReportTexts ReportTexts() const;
    void ShowRunInTitle();
    void RestoreTitle();
    TSpanTexts SpanTexts() const;
    TTallyTexts TallyTexts() const;
    void ShowStoppedRun();
    TRunTally RunTally;       // how the files of the run ended, for its end message
    TRunEstimate RunEstimate; // the whole run's share done and time left
    QElapsedTimer RunClock;   // since the run started
    int RunFiles = 0;         // rows when the run started
    int FinishedFiles = 0;    // however they ended
    qint64 RunTookMs = 0;     // the last run's time, for its end message
    QString TitleBeforeRun;   // the window's title, given back when the run ends
    // End of conversion run

    // Encoder command for one file: the controls are read at the moment of the call.
public:
    QString GetOutputExt() const;
    int BitrateOfIndex(int Position) const;
    int SampleRateOfIndex(int Position) const;
    int ChannelCount() const;
    // Source and Target are full paths; the program is libm9s in the program folder.
    TEncoderCommand BuildEncoderCommand(const QString &Source, const QString &Target);
    // End of encoder command for one file
};

extern TfrmMain *frmMain;

// A text of the run with its key in section frmMain and its English.
struct TRunTextKey
{
    const char *key;
    QString TfrmMain::*text;
    const char *english;
};
const std::vector<TRunTextKey> &RunTextKeys();
// The texts of adding files to the queue.
const std::vector<TRunTextKey> &QueueTextKeys();

// The English status line, also used in place of a language's unusable one.
extern const char DefaultStatusRunText[];

// Name of the file that is removed from the temporary folder when the main window closes.
QString TemporaryScriptPath();
