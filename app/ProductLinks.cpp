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
    for (int i = 0; i < entries.size(); ++i)
        QObject::connect(entries[i], &QAction::triggered, otherProducts,
                         [product = i + 1] { ShellOpen(ProductPage(frmCommon->HomePage, product)); });
}
