#include "dialogs/FolderPlaces.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>
#include <utility>

namespace {
TPlaceSourcesProvider &provider()
{
    static TPlaceSourcesProvider current;
    return current;
}

QString existingFolder(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir() ? QDir::cleanPath(path) : QString();
}

QString standardFolder(QStandardPaths::StandardLocation location) { return QStandardPaths::writableLocation(location); }

// Kernel views and helpers that a file manager never lists as drives.
bool isPseudoFileSystem(const QString &type)
{
    static const QStringList pseudo{"proc",      "sysfs",      "devtmpfs",        "devpts",     "tmpfs",
                                    "ramfs",     "cgroup",     "cgroup2",         "securityfs", "pstore",
                                    "debugfs",   "tracefs",    "configfs",        "fusectl",    "mqueue",
                                    "hugetlbfs", "autofs",     "binfmt_misc",     "bpf",        "efivarfs",
                                    "nsfs",      "rpc_pipefs", "fuse.gvfsd-fuse", "fuse.portal"};
    return pseudo.contains(type);
}

bool isBelow(const QString &path, const QString &folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// A mount point that a file manager shows as a drive.
bool isDriveMountPoint(const QString &mountPoint, const QString &userName)
{
    QStringList roots{QStringLiteral("/media"), QStringLiteral("/mnt")};
    if (!userName.isEmpty())
        roots << QStringLiteral("/run/media/") + userName;
    return std::any_of(roots.cbegin(), roots.cend(), [&](const QString &root) { return isBelow(mountPoint, root); });
}
}

TPlaceSources SessionPlaceSources()
{
    TPlaceSources sources;
    sources.home = QDir::homePath();
    sources.desktop = standardFolder(QStandardPaths::DesktopLocation);
    sources.music = standardFolder(QStandardPaths::MusicLocation);
    sources.videos = standardFolder(QStandardPaths::MoviesLocation);
    sources.userName = qEnvironmentVariable("USER", QFileInfo(sources.home).fileName());
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid())
            sources.volumes.append({volume.rootPath(), QString::fromUtf8(volume.fileSystemType()), volume.name()});
    return sources;
}

TPlaceSourcesProvider SetPlaceSourcesProvider(TPlaceSourcesProvider replacement)
{
    return std::exchange(provider(), std::move(replacement));
}

TPlaceSources CurrentPlaceSources() { return provider() ? provider()() : SessionPlaceSources(); }

QList<TPlace> PlacesOf(const TPlaceSources &sources)
{
    QList<TPlace> places;
    // A mount point is there while it is mounted; a user folder may be named but missing.
    const auto add = [&places](TPlaceKind kind, const QString &folder, const QString &name = QString()) {
        const QString path = kind == TPlaceKind::Drive ? QDir::cleanPath(folder) : existingFolder(folder);
        // XDG may point a user folder at home itself; it is listed once.
        const bool known = std::any_of(places.cbegin(), places.cend(), [&](const TPlace &p) { return p.path == path; });
        if (!path.isEmpty() && !known)
            places.append({kind, path, name});
    };
    add(TPlaceKind::Home, sources.home);
    add(TPlaceKind::Desktop, sources.desktop);
    add(TPlaceKind::Music, sources.music);
    add(TPlaceKind::Videos, sources.videos);
    add(TPlaceKind::FileSystem, QDir::rootPath());

    QList<TMountedVolume> drives;
    for (const TMountedVolume &volume : sources.volumes) {
        const QString mountPoint = QDir::cleanPath(volume.rootPath);
        if (!isPseudoFileSystem(volume.fileSystemType) && isDriveMountPoint(mountPoint, sources.userName))
            drives.append({mountPoint, volume.fileSystemType, volume.label});
    }
    std::sort(drives.begin(), drives.end(),
              [](const TMountedVolume &a, const TMountedVolume &b) { return a.rootPath < b.rootPath; });
    for (const TMountedVolume &drive : drives)
        add(TPlaceKind::Drive, drive.rootPath,
            drive.label.isEmpty() ? QFileInfo(drive.rootPath).fileName() : drive.label);
    return places;
}

TPlaceCaptions &PlaceCaptions()
{
    static TPlaceCaptions captions;
    return captions;
}

namespace {
QString languageCaption(TPlaceKind kind)
{
    const TPlaceCaptions &captions = PlaceCaptions();
    switch (kind) {
    case TPlaceKind::Home:
        return captions.home;
    case TPlaceKind::Desktop:
        return captions.desktop;
    case TPlaceKind::Music:
        return captions.music;
    case TPlaceKind::Videos:
        return captions.videos;
    case TPlaceKind::FileSystem:
        return captions.fileSystem;
    case TPlaceKind::Drive:
        break;
    }
    return QString();
}
}

QString CaptionOf(const TPlace &place)
{
    const QString caption = place.kind == TPlaceKind::Drive ? place.name : languageCaption(place.kind);
    if (!caption.isEmpty())
        return caption;
    // Without a language text a place still shows what it is.
    const QString name = QFileInfo(place.path).fileName();
    return name.isEmpty() ? place.path : name;
}

int PlaceHolding(const QList<TPlace> &places, const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    int best = -1;
    for (int i = 0; i < places.size(); ++i)
        if (isBelow(clean, places[i].path) && (best < 0 || places[i].path.size() > places[best].path.size()))
            best = i;
    return best;
}
