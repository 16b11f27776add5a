// A conversion run without a window, for the test that kills the program in
// the middle of an overwrite:
//   rundriver <encoder folder> <output folder> <config.ini> <source>...
// Every existing target is overwritten. "writing" goes to standard output at
// the encoder's first report, so the test knows when to strike.
#include "conversion/ConversionRun.h"
#include "conversion/OutputNames.h"
#include "conversion/TemporaryOutput.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
class TDriverOwner : public IConversionOwner
{
public:
    explicit TDriverOwner(const QStringList &arguments) : m_arguments(arguments) {}

    int RowCount() const override { return int(m_arguments.size()) - 4; }
    QString SourceOfRow(int row) const override { return m_arguments.value(row + 4); }
    TOutputOptions CurrentOptions() const override { return {}; }
    QString EncoderFolder() const override { return m_arguments.value(1); }
    quint8 AskFileExists(const QString &) override { return ocOverwriteAll; }
    void RememberTemporaryFolder(const QString &folder) override
    {
        ::RememberTemporaryFolder(m_arguments.value(3), folder);
    }

private:
    QStringList m_arguments;
};
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TDriverOwner owner(app.arguments());
    TConversionRun run(owner);
    QObject::connect(&run, &TConversionRun::FileProgress, [] {
        std::puts("writing");
        std::fflush(stdout);
    });
    return run.Run(app.arguments().value(2)) ? 0 : 1;
}
