#include "common/MoCatalogue.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <optional>

namespace {

// The file's words are in the byte order of the machine that wrote it; the
// magic number tells which.
constexpr quint32 Magic = 0x950412de;

class TMoReader
{
public:
    explicit TMoReader(QByteArray bytes) : m_bytes(std::move(bytes))
    {
        const std::optional<quint32> magic = wordAt(0);
        m_bigEndian = magic && *magic != Magic && qbswap(*magic) == Magic;
        m_valid = magic && (*magic == Magic || m_bigEndian);
    }

    bool valid() const { return m_valid; }

    std::optional<quint32> word(qsizetype offset) const
    {
        const std::optional<quint32> value = wordAt(offset);
        if (!value)
            return std::nullopt;
        return m_bigEndian ? qbswap(*value) : *value;
    }

    // String number index of the table at tableOffset, up to its first NUL
    // (the end of a plural entry's first form).
    std::optional<QString> string(quint32 tableOffset, quint32 index) const
    {
        const std::optional<quint32> length = word(qsizetype(tableOffset) + qsizetype(index) * 8);
        const std::optional<quint32> offset = word(qsizetype(tableOffset) + qsizetype(index) * 8 + 4);
        if (!length || !offset || qsizetype(*offset) + qsizetype(*length) > m_bytes.size())
            return std::nullopt;
        QByteArray text = m_bytes.mid(*offset, *length);
        const qsizetype nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        return QString::fromUtf8(text);
    }

private:
    std::optional<quint32> wordAt(qsizetype offset) const
    {
        if (offset < 0 || offset + 4 > m_bytes.size())
            return std::nullopt;
        return qFromLittleEndian<quint32>(m_bytes.constData() + offset);
    }

    QByteArray m_bytes;
    bool m_bigEndian = false;
    bool m_valid = false;
};

} // namespace

TMoCatalogue::TMoCatalogue(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const TMoReader mo(file.readAll());
    const std::optional<quint32> count = mo.word(8);
    const std::optional<quint32> originals = mo.word(12);
    const std::optional<quint32> translations = mo.word(16);
    if (!mo.valid() || !count || !originals || !translations)
        return;
    for (quint32 i = 0; i < *count; ++i) {
        const std::optional<QString> original = mo.string(*originals, i);
        const std::optional<QString> translation = mo.string(*translations, i);
        if (!original || !translation)
            return; // a table cut short: what came before it stays
        // The entry without an original is the catalogue's own header.
        if (!original->isEmpty() && !translation->isEmpty())
            m_texts.insert(*original, *translation);
    }
}

QString TMoCatalogue::Translate(const QString &original) const { return m_texts.value(original); }
