#include "device/commport.h"
#include "device/serialcommport.h"

#include "memorycommport.h"
#include "ptypair.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>
#include <QTest>

#include <algorithm>
#include <memory>
#include <thread>

#include <cerrno>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
constexpr int kArrivalBoundMs = 1000;

// One side of the contract: the port under test and the line's far end.
class Harness
{
public:
    virtual ~Harness() = default;
    virtual CommPort *port() = 0;
    // Puts bytes on the line and returns once they wait at the port.
    virtual bool feed(const QByteArray &bytes) = 0;
    // What the far end holds, without giving the port any further chance to
    // move bytes.
    virtual QByteArray farEndReceived(int count) = 0;
};

class MemoryHarness : public Harness
{
public:
    CommPort *port() override { return &memory; }
    bool feed(const QByteArray &bytes) override
    {
        memory.queueInput(bytes);
        return true;
    }
    QByteArray farEndReceived(int) override { return memory.takeWritten(); }

    MemoryCommPort memory;
};

class SerialHarness : public Harness
{
public:
    SerialHarness()
    {
        serial.setPortName(pty.slavePath());
        serial.open(QIODevice::ReadWrite);
    }
    CommPort *port() override { return &adapter; }
    bool feed(const QByteArray &bytes) override
    {
        const int before = driverWaiting();
        if (!pty.write(bytes))
            return false;
        // The driver hands bytes over asynchronously; wait until it holds them.
        QElapsedTimer timer;
        timer.start();
        while (driverWaiting() < before + bytes.size()) {
            if (timer.elapsed() > kArrivalBoundMs)
                return false;
            pollfd pfd{int(serial.handle()), POLLIN, 0};
            ::poll(&pfd, 1, 1);
            QTest::qSleep(1);
        }
        return true;
    }
    QByteArray farEndReceived(int count) override { return pty.readExactly(count, kArrivalBoundMs); }

    int driverWaiting()
    {
        int n = 0;
        ::ioctl(int(serial.handle()), FIONREAD, &n);
        return n;
    }

    PtyPair pty;
    QSerialPort serial;
    SerialCommPort adapter{&serial};
};

std::unique_ptr<Harness> makeHarness(const QString &kind)
{
    if (kind == QLatin1String("serial"))
        return std::make_unique<SerialHarness>();
    return std::make_unique<MemoryHarness>();
}
} // namespace

// The byte port's contract, held against both implementations so that the
// club link behaves the same on the in-memory port its tests use and on the
// serial port of the device.
class TestCommPort : public QObject
{
    Q_OBJECT
private slots:
    void receiveBytes_returnsWhatIsWaiting_data();
    void receiveBytes_returnsWhatIsWaiting();
    void receiveByte_nothingWaiting_isFalseAtOnce_data();
    void receiveByte_nothingWaiting_isFalseAtOnce();
    void clear_dropsEverythingWaiting_data();
    void clear_dropsEverythingWaiting();
    void closedPort_givesResultsWithoutEffect_data();
    void closedPort_givesResultsWithoutEffect();
    void sendBytes_trueMeansFarEndHasEveryByte_data();
    void sendBytes_trueMeansFarEndHasEveryByte();

    void serial_destroyingAdapterLeavesPortOpen();
    void serial_stalledReader_failsLargeSendWithinBound();
    void serial_fullLine_sendWaitsForRoom();
    void memory_shortWrite_isFalse();

private:
    void kinds();
};

void TestCommPort::kinds()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("serial on a pty") << QStringLiteral("serial");
    QTest::newRow("in memory") << QStringLiteral("memory");
}

void TestCommPort::receiveBytes_returnsWhatIsWaiting_data()
{
    kinds();
}

void TestCommPort::receiveBytes_returnsWhatIsWaiting()
{
    QFETCH(QString, kind);
    auto h = makeHarness(kind);
    QVERIFY(h->port()->isOpen());
    QVERIFY(h->feed(QByteArrayLiteral("\x01\x02\x03")));

    QByteArray buffer("head");
    QCOMPARE(h->port()->receiveBytes(&buffer, 5), 3);
    QCOMPARE(buffer, QByteArrayLiteral("head\x01\x02\x03"));
    // n of 0 or less is returned as it is, reading nothing.
    QVERIFY(h->feed(QByteArrayLiteral("\x04")));
    QCOMPARE(h->port()->receiveBytes(&buffer, 0), 0);
    QCOMPARE(h->port()->receiveBytes(&buffer, -3), -3);
    QCOMPARE(buffer.size(), 7);
    QCOMPARE(h->port()->receiveBytes(&buffer, 1), 1);
    QCOMPARE(buffer.right(1), QByteArrayLiteral("\x04"));
}

void TestCommPort::receiveByte_nothingWaiting_isFalseAtOnce_data()
{
    kinds();
}

void TestCommPort::receiveByte_nothingWaiting_isFalseAtOnce()
{
    QFETCH(QString, kind);
    auto h = makeHarness(kind);
    unsigned char b = 0x55;
    // Nothing waits, so nothing is read (that it returns at once, far below
    // one poll period of any caller, is a figure of the benchmarks).
    QVERIFY(!h->port()->receiveByte(&b));
    QByteArray buffer;
    QCOMPARE(h->port()->receiveBytes(&buffer, 4), 0);
    QCOMPARE(b, static_cast<unsigned char>(0x55));
    QVERIFY(h->feed(QByteArrayLiteral("\xA5")));
    QVERIFY(h->port()->receiveByte(&b));
    QCOMPARE(b, static_cast<unsigned char>(0xA5));
}

void TestCommPort::clear_dropsEverythingWaiting_data()
{
    kinds();
}

void TestCommPort::clear_dropsEverythingWaiting()
{
    QFETCH(QString, kind);
    auto h = makeHarness(kind);
    QByteArray waiting(250, '\0');
    for (int i = 0; i < waiting.size(); ++i)
        waiting[i] = char(i);
    QVERIFY(h->feed(waiting));
    h->port()->clear();
    unsigned char b = 0;
    QVERIFY(!h->port()->receiveByte(&b));
    // Later input is read normally.
    QVERIFY(h->feed(QByteArrayLiteral("\x42")));
    QVERIFY(h->port()->receiveByte(&b));
    QCOMPARE(b, static_cast<unsigned char>(0x42));
}

void TestCommPort::closedPort_givesResultsWithoutEffect_data()
{
    kinds();
}

void TestCommPort::closedPort_givesResultsWithoutEffect()
{
    QFETCH(QString, kind);
    auto h = makeHarness(kind);
    CommPort *port = h->port();
    port->close();
    QVERIFY(!port->isOpen());
    port->close(); // closing again does nothing
    port->clear();
    QVERIFY(!port->isOpen());

    unsigned char b = 0;
    QByteArray buffer;
    QVERIFY(!port->sendBytes(QByteArrayLiteral("abc")));
    QVERIFY(!port->sendByte('a'));
    QVERIFY(!port->receiveByte(&b));
    QCOMPARE(port->receiveBytes(&buffer, 3), 0);
    QCOMPARE(port->receiveBytes(&buffer, -1), -1);
    QVERIFY(buffer.isEmpty());

    QVERIFY(port->open());
    QVERIFY(port->isOpen());
    QVERIFY(port->sendByte('z'));
    QCOMPARE(h->farEndReceived(1), QByteArrayLiteral("z"));
}

void TestCommPort::sendBytes_trueMeansFarEndHasEveryByte_data()
{
    kinds();
}

void TestCommPort::sendBytes_trueMeansFarEndHasEveryByte()
{
    QFETCH(QString, kind);
    auto h = makeHarness(kind);
    QByteArray frame(3000, '\0');
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = char(i * 7);
    QVERIFY(h->port()->sendBytes(frame));
    QVERIFY(h->port()->sendByte(0x17));
    // No further call gives the port a chance to move bytes: a port that had
    // only queued them would deliver nothing here.
    QCOMPARE(h->farEndReceived(int(frame.size()) + 1), frame + '\x17');
    QVERIFY(h->port()->sendBytes(QByteArray()));
}

void TestCommPort::serial_destroyingAdapterLeavesPortOpen()
{
    PtyPair pty;
    QSerialPort serial;
    serial.setPortName(pty.slavePath());
    QVERIFY(serial.open(QIODevice::ReadWrite));
    {
        SerialCommPort adapter(&serial);
        QVERIFY(adapter.isOpen());
    }
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.write("ok", 2), qint64(2));
    QVERIFY(serial.waitForBytesWritten(1000));
    QCOMPARE(pty.readExactly(2, 1000), QByteArrayLiteral("ok"));
}

void TestCommPort::serial_stalledReader_failsLargeSendWithinBound()
{
    PtyPair pty; // never read: the line fills up
    QSerialPort serial;
    serial.setPortName(pty.slavePath());
    QVERIFY(serial.open(QIODevice::ReadWrite));
    SerialCommPort adapter(&serial);
    // A fast line keeps the bound (line time plus 500 ms) short.
    constexpr int kBaud = 4000000;
    adapter.setBaudRate(kBaud);
    const QByteArray large(256 * 1024, 'x');
    const qint64 boundMs = qint64(large.size()) * 10 * 1000 / kBaud + 500;

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!adapter.sendBytes(large));
    // It gives up instead of blocking on the stalled line; how close to its
    // bound is a figure of the benchmarks.
    QVERIFY2(timer.elapsed() < 5 * boundMs, qPrintable(QString::number(timer.elapsed())));
    // The unsent rest is dropped, not sent later in front of the next frame.
    QCOMPARE(serial.bytesToWrite(), qint64(0));
}

// The line has no room at all when a frame is handed over; the reader drains
// it a moment later. The frame goes through whole, and the port is left
// without an error from the moment it found no room.
void TestCommPort::serial_fullLine_sendWaitsForRoom()
{
    PtyPair pty;
    QSerialPort serial;
    serial.setPortName(pty.slavePath());
    QVERIFY(serial.open(QIODevice::ReadWrite));
    SerialCommPort adapter(&serial);
    const int fd = int(serial.handle());
    // Filled in blocks, then byte by byte, until not one byte more fits.
    const QByteArray filler(4096, 'f');
    int queued = 0;
    for (const int block : {int(filler.size()), 1}) {
        ssize_t n = 0;
        while ((n = ::write(fd, filler.constData(), size_t(block))) > 0)
            queued += int(n);
        QCOMPARE(errno, EAGAIN);
    }
    std::thread reader([&pty, queued] {
        QThread::msleep(50);
        int drained = 0;
        while (drained < queued && pty.waitReadable(1000))
            drained += int(pty.readAvailable(std::min(64 * 1024, queued - drained)).size());
    });
    const bool sent = adapter.sendBytes(QByteArrayLiteral("ok"));
    reader.join();
    QVERIFY(sent);
    QCOMPARE(serial.error(), QSerialPort::NoError);
    QCOMPARE(pty.readExactly(2, kArrivalBoundMs), QByteArrayLiteral("ok"));
}

void TestCommPort::memory_shortWrite_isFalse()
{
    MemoryCommPort port;
    port.setWriteLimit(2);
    QVERIFY(!port.sendBytes(QByteArrayLiteral("abcd")));
    QVERIFY(port.sendByte('e'));
    QCOMPARE(port.written(), QByteArrayLiteral("abe"));
    port.setOpenFails(true);
    port.close();
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
}

QTEST_GUILESS_MAIN(TestCommPort)
#include "tst_commport.moc"
