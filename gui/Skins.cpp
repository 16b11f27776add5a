#include "gui/Skins.h"

#include "common/TolvaneError.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <array>

namespace {
void setApplicationStyleSheet(const QString &sheet)
{
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        app->setStyleSheet(sheet);
}
}

QString SkinFileName(int skinIndex)
{
    static const std::array<const char *, 18> names{
        "Calmness.ssk",  "DiamondBlue.ssk", "DiamondGreen.ssk", "GlassGreen.ssk", "Longhorn.ssk",    "MacOS.ssk",
        "MP10.ssk",      "MSN.ssk",         "OneBlue.ssk",      "Silver.ssk",     "SportsBlack.ssk", "SportsBlue.ssk",
        "Midsummer.ssk", "Emerald.ssk",     "Warm.ssk",         "XPBlue.ssk",     "XPGreen.ssk",     "XPSilver.ssk"};
    if (skinIndex < 1 || skinIndex > 18)
        return QStringLiteral("Silver.ssk");
    return QLatin1String(names[static_cast<size_t>(skinIndex - 1)]);
}

void ApplyStyleSheetFile(const QString &file)
{
    const QFileInfo info(file);
    if (!info.exists())
        return;
    QFile in(file);
    // A folder of that name opens on Linux but reads as nothing; it is no skin.
    const bool opened = !info.isDir() && in.open(QIODevice::ReadOnly);
    const QByteArray bytes = opened ? in.readAll() : QByteArray();
    if (!opened || in.error() != QFileDevice::NoError) {
        // Like the skin engine, forget the skin that was in use before saying so.
        setApplicationStyleSheet(QString());
        const QString reason = info.isDir() ? QStringLiteral("Is a directory") : in.errorString();
        throw TolvaneError(QStringLiteral("Cannot open file \"%1\". %2").arg(file, reason));
    }
    setApplicationStyleSheet(QString::fromUtf8(bytes));
}
