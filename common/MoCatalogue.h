#pragma once

#include <QHash>
#include <QString>

// A GNU gettext message catalogue (.mo) read whole: the translation of each
// original text. A missing or damaged file holds none. Only the first form
// of a plural entry is kept; texts are taken as UTF-8.
class TMoCatalogue
{
public:
    explicit TMoCatalogue(const QString &fileName);

    // The translation of original; empty when the catalogue has none.
    QString Translate(const QString &original) const;
    qsizetype Count() const { return m_texts.size(); }

private:
    QHash<QString, QString> m_texts;
};
