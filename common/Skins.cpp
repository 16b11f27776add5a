#include "Skins.h"

#include "TolvaneError.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <array>

QString SkinFileName(int skinIndex)
{
    static const std::array<const char *, 18> names{
        "Calmness.ssk", "DiamondBlue.ssk", "DiamondGreen.ssk", "GlassGreen.ssk", "Longhorn.ssk", "MacOS.ssk",
        "MP10.ssk",     "MSN.ssk",         "OneBlue.ssk",      "Silver.ssk",     "SportsBlack.ssk", "SportsBlue.ssk",
        "Midsummer.ssk", "Emerald.ssk",    "Warm.ssk",         "XPBlue.ssk",     "XPGreen.ssk", "XPSilver.ssk"};
    if (skinIndex < 1 || skinIndex > 18)
        return QStringLiteral("Silver.ssk");
    return QLatin1String(names[static_cast<size_t>(skinIndex - 1)]);
}

void ApplyStyleSheetFile(const QString &file)
{
    if (!QFileInfo::exists(file))
        return;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw TolvaneError(QStringLiteral("Cannot open file \"%1\". %2").arg(file, in.errorString()));
    const QString sheet = QString::fromUtf8(in.readAll());
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        app->setStyleSheet(sheet);
}
