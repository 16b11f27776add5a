#include "common/ConfigLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString configName = QStringLiteral("config.ini");

bool permissionAllowsWriting(const QString &folder)
{
    // Asks the system for the current user, so a read-only mount counts too.
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

FolderWritableCheck &installed()
{
    static FolderWritableCheck check = permissionAllowsWriting;
    return check;
}

// A first start in the user's folder begins with the settings the program
// folder ships, if any. Failures are left to the first write, which reports
// the file it could not write.
void seedUserConfig(const QString &shipped, const QString &userFile)
{
    QDir().mkpath(QFileInfo(userFile).absolutePath());
    if (QFileInfo(shipped).isFile() && QFile::copy(shipped, userFile))
        QFile::setPermissions(userFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                            | QFileDevice::ReadOther);
}

} // namespace

FolderWritableCheck SetFolderWritableCheck(FolderWritableCheck check)
{
    FolderWritableCheck previous = std::move(installed());
    installed() = check ? std::move(check) : FolderWritableCheck(permissionAllowsWriting);
    return previous;
}

bool IsFolderWritable(const QString &folder) { return installed()(folder); }

QString UserConfigFolder()
{
    // A relative $XDG_CONFIG_HOME is not to be trusted, so it counts as unset.
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(folder))
        folder = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(folder) + QStringLiteral("/Tolvane/");
}

QString ChooseConfigFile(const QString &appFolder)
{
    // Callers hand the folder with or without its "/": joined without one,
    // "/opt/tolvane" would name "/opt/tolvaneconfig.ini".
    const QString beside = QDir(appFolder).filePath(configName);
    if (IsFolderWritable(appFolder))
        return beside;
    const QString user = UserConfigFolder() + configName;
    if (!QFileInfo::exists(user))
        seedUserConfig(beside, user);
    return user;
}
