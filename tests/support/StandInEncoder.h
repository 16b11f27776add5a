#pragma once

#include "support/TestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// The encoder a run finds in its program folder: the real libm9s, or a
// stand-in shell script that plays one of its behaviours. A stand-in script
// finds the target (the last argument) in "$last"; asked to probe a source,
// it prints trackList (no track unless told).
inline void installEncoder(const QString &folder, const QByteArray &script = QByteArray(),
                           const QByteArray &trackList = "libm9s-tracks 1\n")
{
    const QString path = folder + QStringLiteral("/libm9s");
    QFile::remove(path);
    if (script.isEmpty()) {
        QVERIFY(QFile::link(QStringLiteral(TOLVANE_PROGRAM_DIR "/libm9s"), path));
        return;
    }
    writeFile(path, "#!/bin/sh\nif [ \"$1\" = -probe ]; then printf '" + trackList
                        + "'; exit 0; fi\nfor last; do :; done\n" + script + "\n");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}
