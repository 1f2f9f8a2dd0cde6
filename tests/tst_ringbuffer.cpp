// The receive ring buffer: capacity limits, wrap-around and positions.
#include "link/ringbuffer.h"

#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

namespace {
std::vector<quint8> counting(quint32 n, quint8 first = 0)
{
    std::vector<quint8> bytes(n);
    for (quint32 i = 0; i < n; ++i)
        bytes[i] = quint8(first + i);
    return bytes;
}
} // namespace

class TestRingBuffer : public QObject
{
    Q_OBJECT

private slots:
    void newBufferIsEmpty();
    void fillExactly();
    void partialWriteWhenNearlyFull();
    void readInParts();
    void readWrapsAtEnd();
    void writeWrapsAtEnd();
    void fillExactlyFromMiddle();
    void clearOnFull();
    void zeroLengthOperations();
    void readFromEmptyLeavesDestination();
    void producerAndConsumerThreads();
};

void TestRingBuffer::newBufferIsEmpty()
{
    RingBuffer rb(300);
    QCOMPARE(rb.capacity(), 300u);
    QCOMPARE(rb.available(), 0u);
    QVERIFY(rb.isEmpty());
    QVERIFY(!rb.isFull());
    QCOMPARE(rb.readPosition(), 0u);
    QCOMPARE(rb.writePosition(), 0u);
}

void TestRingBuffer::fillExactly()
{
    RingBuffer rb(300);
    const auto bytes = counting(300);
    QCOMPARE(rb.write(bytes.data(), 300), 300u);
    QVERIFY(rb.isFull());
    QVERIFY(!rb.isEmpty());
    QCOMPARE(rb.available(), 300u);
    QCOMPARE(rb.readPosition(), 0u);
    QCOMPARE(rb.writePosition(), 0u);
    const quint8 one = 0xAA;
    QCOMPARE(rb.write(&one, 1), 0u);
    QCOMPARE(rb.available(), 300u);

    std::vector<quint8> out(300);
    QCOMPARE(rb.read(out.data(), 300), 300u);
    QVERIFY(out == bytes);
    QVERIFY(rb.isEmpty());
    QVERIFY(!rb.isFull());
}

void TestRingBuffer::partialWriteWhenNearlyFull()
{
    RingBuffer rb(300);
    const auto first = counting(250);
    const auto second = counting(100, 250);
    QCOMPARE(rb.write(first.data(), 250), 250u);
    QCOMPARE(rb.write(second.data(), 100), 50u);
    QCOMPARE(rb.available(), 300u);
    QVERIFY(rb.isFull());
    // The 50 that fit are the first 50 of the second write, in order.
    std::vector<quint8> out(300);
    QCOMPARE(rb.read(out.data(), 300), 300u);
    QCOMPARE(int(out[249]), 249);
    QCOMPARE(int(out[250]), 250);
    QCOMPARE(int(out[299]), 299 & 0xFF);
}

void TestRingBuffer::readInParts()
{
    RingBuffer rb(300);
    const auto bytes = counting(10, 0x30);
    rb.write(bytes.data(), 10);
    quint8 out[100] = {};
    QCOMPARE(rb.read(out, 4), 4u);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 4), QByteArray("0123"));
    QCOMPARE(rb.available(), 6u);
    QVERIFY(!rb.isEmpty());
    QCOMPARE(rb.read(out, 100), 6u);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 6), QByteArray("456789"));
    QVERIFY(rb.isEmpty());
    QCOMPARE(rb.available(), 0u);
}

void TestRingBuffer::readWrapsAtEnd()
{
    RingBuffer rb(300);
    const auto filler = counting(290);
    std::vector<quint8> sink(290);
    rb.write(filler.data(), 290);
    rb.read(sink.data(), 290);
    QCOMPARE(rb.readPosition(), 290u);
    QVERIFY(rb.isEmpty());

    const auto bytes = counting(20, 100);
    QCOMPARE(rb.write(bytes.data(), 20), 20u);
    QCOMPARE(rb.writePosition(), 10u);
    QCOMPARE(rb.available(), 20u);
    std::vector<quint8> out(20);
    QCOMPARE(rb.read(out.data(), 20), 20u);
    QVERIFY(out == bytes);
    QCOMPARE(rb.readPosition(), 10u);
    QVERIFY(rb.isEmpty());
}

void TestRingBuffer::writeWrapsAtEnd()
{
    // Held bytes cross the end of the storage; `available` counts across it.
    RingBuffer rb(300);
    const auto filler = counting(295);
    std::vector<quint8> sink(300);
    rb.write(filler.data(), 295);
    rb.read(sink.data(), 290); // read position 290, 5 held
    const auto more = counting(100, 7);
    QCOMPARE(rb.write(more.data(), 100), 100u);
    QCOMPARE(rb.available(), 105u);
    QCOMPARE(rb.writePosition(), 95u);
    QCOMPARE(rb.read(sink.data(), 300), 105u);
    QCOMPARE(int(sink[4]), 294 & 0xFF);
    QCOMPARE(int(sink[5]), 7);
    QCOMPARE(int(sink[104]), 106);
}

void TestRingBuffer::fillExactlyFromMiddle()
{
    RingBuffer rb(300);
    const auto filler = counting(120);
    std::vector<quint8> out(300);
    rb.write(filler.data(), 120);
    rb.read(out.data(), 120);
    const auto bytes = counting(300, 9);
    QCOMPARE(rb.write(bytes.data(), 300), 300u);
    QVERIFY(rb.isFull());
    QCOMPARE(rb.readPosition(), 120u);
    QCOMPARE(rb.writePosition(), 120u);
    QCOMPARE(rb.available(), 300u);
    QCOMPARE(rb.read(out.data(), 300), 300u);
    QVERIFY(out == bytes);
}

void TestRingBuffer::clearOnFull()
{
    RingBuffer rb(300);
    const auto bytes = counting(300);
    rb.write(bytes.data(), 120);
    std::vector<quint8> out(300);
    rb.read(out.data(), 50);
    rb.write(bytes.data(), 230);
    QVERIFY(rb.isFull());
    rb.clear();
    QVERIFY(rb.isEmpty());
    QVERIFY(!rb.isFull());
    QCOMPARE(rb.available(), 0u);
    QCOMPARE(rb.readPosition(), 0u);
    QCOMPARE(rb.writePosition(), 0u);
    QCOMPARE(rb.read(out.data(), 300), 0u);
    // Usable again from the start.
    QCOMPARE(rb.write(bytes.data(), 300), 300u);
}

void TestRingBuffer::zeroLengthOperations()
{
    RingBuffer rb(300);
    const auto bytes = counting(10);
    quint8 out[4] = {};
    QCOMPARE(rb.write(bytes.data(), 0), 0u);
    QVERIFY(rb.isEmpty());
    QCOMPARE(rb.read(out, 0), 0u);
    QVERIFY(rb.isEmpty());

    rb.write(bytes.data(), 10);
    rb.read(out, 3);
    QCOMPARE(rb.write(bytes.data(), 0), 0u);
    QCOMPARE(rb.read(out, 0), 0u);
    QCOMPARE(rb.available(), 7u);
    QCOMPARE(rb.readPosition(), 3u);
    QCOMPARE(rb.writePosition(), 10u);

    rb.write(bytes.data(), 293);
    QVERIFY(rb.isFull());
    QCOMPARE(rb.read(out, 0), 0u);
    QVERIFY(rb.isFull());
}

void TestRingBuffer::readFromEmptyLeavesDestination()
{
    RingBuffer rb(300);
    quint8 out[3] = {7, 8, 9};
    QCOMPARE(rb.read(out, 3), 0u);
    QCOMPARE(int(out[0]), 7);
    QCOMPARE(int(out[2]), 9);
}

void TestRingBuffer::producerAndConsumerThreads()
{
    // One producer and one consumer on different threads see every byte once,
    // in order.
    RingBuffer rb(300);
    constexpr quint32 total = 200000;
    std::atomic<bool> orderOk{true};
    std::thread producer([&] {
        quint32 sent = 0;
        quint8 chunk[37];
        while (sent < total) {
            const quint32 n = std::min<quint32>(sizeof chunk, total - sent);
            for (quint32 i = 0; i < n; ++i)
                chunk[i] = quint8(sent + i);
            quint32 done = 0;
            while (done < n) {
                done += rb.write(chunk + done, n - done);
                if (done < n)
                    std::this_thread::yield();
            }
            sent += n;
        }
    });
    quint32 received = 0;
    quint8 chunk[53];
    while (received < total) {
        const quint32 k = rb.read(chunk, sizeof chunk);
        for (quint32 i = 0; i < k; ++i)
            if (chunk[i] != quint8(received + i))
                orderOk = false;
        received += k;
        if (k == 0)
            std::this_thread::yield();
    }
    producer.join();
    QVERIFY(orderOk);
    QCOMPARE(received, total);
    QVERIFY(rb.isEmpty());
}

QTEST_APPLESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
