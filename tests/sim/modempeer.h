#pragma once

#include "modemsession.h"

#include <QMutex>
#include <QThread>

#include <functional>
#include <memory>

class PtyPair;

// The cellular modem as the program sees it on its AT port: a pseudo-terminal
// answering AT commands with CR LF framing (echo until ATE0), from a state the
// test sets, for one family's command set. It records every command line,
// SMS and socket byte, bridges its TCP sockets to a local endpoint and
// misbehaves on demand. Runs on a thread of its own; every public call is
// thread-safe. In a test it runs in-process; brellium_modempeer runs it as a
// process for the simulated device.
class ModemPeer : public QThread
{
    Q_OBJECT
public:
    explicit ModemPeer(const QString &family = QStringLiteral("ublox"), QObject *parent = nullptr);
    ~ModemPeer() override;

    bool isOpen() const;
    QString slavePath() const;
    // Links the node (for example <root>/dev/ttyUSB1) to the pseudo-terminal.
    bool linkAt(const QString &nodePath);
    void setEndpoint(quint16 port, const QString &host = QStringLiteral("127.0.0.1"));

    // Changes the modem's state under the peer's lock.
    void update(const std::function<void(ModemState &)> &change);
    ModemState state() const;
    ModemRecord record() const;
    QList<QByteArray> commands() const;
    QList<PeerSms> sms() const;
    QByteArray socketBytes(int socket) const;
    void clearRecord();

    void addFault(ModemFault kind, const QByteArray &command = QByteArray(), int times = -1, int value = 0);
    void clearFaults();
    // Paces both directions at this line speed (10 bits a byte); 0 for none.
    void setPacing(int baud);

    // The USB node goes away (the program's port fails) and comes back.
    void removeNode();
    void restoreNode();

    // Power mode: the modem follows its power pin, a GPIO value file (for
    // example <root>/sys/class/gpio/gpio41/value), on the node given to
    // linkAt. "1" brings the node up bootDelayMs later with a freshly booted
    // modem; anything else takes the node away at once and silences the
    // modem. The node is down from this call until the pin reads "1".
    void followPower(const QString &gpioValuePath, int bootDelayMs);
    bool isPoweredUp() const;
    // How often the modem was switched on (booted) in power mode.
    int powerOnCount() const;

    // Waits until a command line starting with prefix was recorded.
    bool waitForCommand(const QByteArray &prefix, int timeoutMs) const;
    void stop();

protected:
    void run() override;

private:
    void pumpOnce(qint64 nowNs);
    void followPin(qint64 nowNs);
    void powerDown();

    mutable QMutex mutex;
    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<ModemSession> session;
    QString linkPath;
    int baud = 0;
    qint64 rxNextNs = 0;
    qint64 txNextNs = 0;
    QString powerPin;       // empty: not in power mode
    int bootDelayMs = 0;
    bool poweredUp = true;
    qint64 bootDueNs = -1;  // when the node comes up; -1: no boot under way
    qint64 nextPinReadNs = 0;
    int powerOns = 0;
};
