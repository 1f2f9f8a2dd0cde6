#include "link/crc16.h"
#include <QtTest>
class TestCrc : public QObject { Q_OBJECT
private slots:
    void empty() { QCOMPARE(crc16Modbus(QByteArray()), quint16(0xFFFF)); }
};
QTEST_GUILESS_MAIN(TestCrc)
#include "tst_crc.moc"
