// The receive ring buffer: capacity limits, wrap-around and positions.
#include "link/ringbuffer.h"
#include <QtTest>
#include <vector>

static std::vector<quint8> counting(quint32 n, quint8 first = 0)
{
    std::vector<quint8> bytes(n);
    for (quint32 i = 0; i < n; ++i)
        bytes[i] = quint8(first + i);
    return bytes;
}

class TestRingBuffer : public QObject
{
    Q_OBJECT
    std::vector<quint8> out = std::vector<quint8>(300);
private slots:
    // Full at exactly its capacity; a write beyond it takes what fits.
    void capacity()
    {
        RingBuffer rb(300);
        QVERIFY(rb.isEmpty() && !rb.isFull() && rb.available() == 0 && rb.readPosition() == 0);
        const auto bytes = counting(350);
        QCOMPARE(rb.write(bytes.data(), 250), 250u);
        QCOMPARE(rb.write(bytes.data() + 250, 100), 50u); // the first 50 of the second write
        QVERIFY(rb.isFull() && !rb.isEmpty());
        QCOMPARE(rb.readPosition() + rb.writePosition(), 0u);
        QCOMPARE(rb.write(bytes.data(), 1), 0u);
        QCOMPARE(rb.read(out.data(), 0), 0u); // a zero-length read changes nothing
        QVERIFY(rb.isFull());
        QCOMPARE(rb.read(out.data(), 300), 300u);
        QVERIFY(out == counting(300) && rb.isEmpty());
        QCOMPARE(rb.write(bytes.data(), 10), 10u);
        QCOMPARE(rb.read(out.data(), 4), 4u);
        QCOMPARE(rb.available(), 6u);
        QCOMPARE(rb.read(out.data(), 100), 6u);
        QCOMPARE(int(out[0]), 4);
        QVERIFY(rb.isEmpty());
    }
    void wrapsAtEndAndClears()
    {
        RingBuffer rb(300);
        rb.write(out.data(), 290);
        rb.read(out.data(), 290);
        const auto bytes = counting(20, 100);
        QCOMPARE(rb.write(bytes.data(), 20), 20u);
        QCOMPARE(rb.writePosition(), 10u);
        QCOMPARE(rb.available(), 20u);
        QCOMPARE(rb.read(out.data(), 300), 20u);
        QVERIFY(std::equal(bytes.begin(), bytes.end(), out.begin()));
        QCOMPARE(rb.readPosition(), 10u);
        QCOMPARE(rb.write(out.data(), 0), 0u);
        rb.write(out.data(), 120);
        rb.clear();
        QVERIFY(rb.isEmpty() && !rb.isFull() && rb.available() == 0);
        QCOMPARE(rb.readPosition() + rb.writePosition(), 0u);
        QCOMPARE(rb.write(out.data(), 300), 300u);
    }
};
QTEST_APPLESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
