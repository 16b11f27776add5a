#include "app/ProductLinks.h"

#include "gui/CommonServices.h"

#include <QAction>
#include <QMenu>

QString ProductPage(const QString &homePage, int product)
{
    QString page = homePage;
    if (!page.endsWith(QLatin1Char('/')))
        page += QLatin1Char('/');
    return page + QStringLiteral("products/%1/").arg(product);
}

void ConnectProductLinks(QMenu *otherProducts)
{
    const QList<QAction *> entries = otherProducts->actions();
    // The entry itself holds the link: the menu drops every connection of an
    // entry it loses, and a language without that product takes it out.
    for (int i = 0; i < entries.size(); ++i)
        QObject::connect(entries[i], &QAction::triggered, entries[i],
                         [product = i + 1] { ShellOpen(ProductPage(frmCommon->HomePage, product)); });
}
