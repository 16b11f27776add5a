#pragma once

#include <QString>

class QMenu;

// Page of the maker's product number n (1 to 10) on the site of the chosen
// language, below its home page.
QString ProductPage(const QString &homePage, int product);

// Makes each entry of the Tools menu's product list open its page.
void ConnectProductLinks(QMenu *otherProducts);
