#pragma once

#include <memory>

class QString;
class TfrmCommon;
class TfrmMain;
class TfrmSetting;
class TfrmPowerOffWindows;
class TfrmOverWrite;
class TFrmBatchAdd;
class TFrmDirectory;
class TfrmSearchProgress;

// Every window of the program, made once in the fixed start-up order
// (frmCommon, then frmMain, then the dialogs) and released in the reverse
// order. Its owner is the application object, or a test's fixture. While it
// lives, the windows are also reachable by their names (frmMain, frmSetting,
// ...), which it sets and clears; no window registers itself.
class TApplicationForms
{
public:
    // appFolder empty: the folder of the running program.
    explicit TApplicationForms(const QString &appFolder);
    ~TApplicationForms();
    TApplicationForms(const TApplicationForms &) = delete;
    TApplicationForms &operator=(const TApplicationForms &) = delete;

    TfrmMain &Main() const { return *m_main; }

private:
    std::unique_ptr<TfrmCommon> m_common;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmSetting> m_setting;
    std::unique_ptr<TfrmPowerOffWindows> m_powerOff;
    std::unique_ptr<TfrmOverWrite> m_overWrite;
    std::unique_ptr<TFrmBatchAdd> m_batchAdd;
    std::unique_ptr<TFrmDirectory> m_directory;
    std::unique_ptr<TfrmSearchProgress> m_searchProgress;
};
