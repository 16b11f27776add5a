#pragma once

#include <QList>
#include <QString>

#include <functional>

// The top level of both folder trees: the places a user looks for first,
// then the whole file system and the drives a file manager would show.

enum class TPlaceKind { Home, Desktop, Music, Videos, FileSystem, Drive };

struct TPlace
{
    TPlaceKind kind;
    QString path;
    QString name; // a drive's label, else the name of its mount folder; empty for the others
};

struct TMountedVolume
{
    QString rootPath;
    QString fileSystemType;
    QString label;
};

// Where the places come from: the home folder, the user's standard folders
// (empty when unknown) and the mounted volumes.
struct TPlaceSources
{
    QString home;
    QString desktop;
    QString music;
    QString videos;
    QString userName;
    QList<TMountedVolume> volumes;
};

// The sources of the running session: $HOME, the XDG user folders and the
// volumes the system has mounted.
TPlaceSources SessionPlaceSources();

// Tests put a fake home and mount list here; empty: SessionPlaceSources.
using TPlaceSourcesProvider = std::function<TPlaceSources()>;
TPlaceSourcesProvider SetPlaceSourcesProvider(TPlaceSourcesProvider provider);
TPlaceSources CurrentPlaceSources();

// Home, Desktop, Music, Videos (the folders that exist, each once), the file
// system's root, then the drives mounted below /media, /run/media/<user> or
// /mnt in the order of their mount points. Pseudo file systems are left out.
QList<TPlace> PlacesOf(const TPlaceSources &sources);

// The caption each kind of place shows, from the language file; a drive shows
// its name.
struct TPlaceCaptions
{
    QString home = QStringLiteral("Home");
    QString desktop = QStringLiteral("Desktop");
    QString music = QStringLiteral("Music");
    QString videos = QStringLiteral("Videos");
    QString fileSystem = QStringLiteral("File system");
};
TPlaceCaptions &PlaceCaptions();
QString CaptionOf(const TPlace &place);

// The place whose folder holds path most closely (the longest match), or -1.
int PlaceHolding(const QList<TPlace> &places, const QString &path);
