// Replays the fuzzer's corpus (fuzz/corpus) through the receive path in a
// normal build: inputs that once found a fault, or reach far into the
// decoders, keep doing so.
#include "model/monitordata.h"
#include "support/helpers.h"
#include "support/receiveharness.h"

#include <QDir>
#include <QtTest>

class TestFuzzCorpus : public QObject
{
    Q_OBJECT
private slots:
    void replay_data()
    {
        columns<QString>("file");
        const QDir dir(QStringLiteral(FUZZ_CORPUS_DIR));
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(files.size() >= 10, "the corpus is missing");
        for (const QString &f : files)
            QTest::newRow(qPrintable(f)) << dir.filePath(f);
    }
    void replay()
    {
        QFETCH(QString, file);
        const QByteArray bytes = readFile(file);
        ReceiveHarness::runOne(reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()));
        // A whole monitoring answer reaches the image (cell 1 carries 3302 in that seed).
        if (file.endsWith(QLatin1String("seed-monitor")))
            QCOMPARE(liveData().registerImage[Reg::CellVoltage], quint16(3302));
    }
};

int main(int argc, char **argv)
{
    ReceiveHarness::initialize(&argc, &argv);
    TestFuzzCorpus test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fuzzcorpus.moc"
