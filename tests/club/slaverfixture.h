#pragma once

#include "club/morlanslaver.h"

#include "memorycommport.h"
#include "pcpeer.h"
#include "storagefixture.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The PC peer driving a MorlanSlaverHandler in memory: each request the peer
// sends is served at once by polling the handler until its input is used up,
// so a case takes milliseconds and the bytes are those of the real line.
class HandlerTransport : public PcTransport, public MorlanSlaverCallback
{
public:
    HandlerTransport();

    // A new stay in comm mode: a fresh handler with the same hooks.
    void newStay();
    MorlanSlaverHandler &handler() { return *slaver; }

    bool send(const QByteArray &bytes, int baud) override;
    QByteArray receive(int timeoutMs) override;
    void drain() override;
    void onShowTip(QString tip) override { tips.append(tip); }

    MemoryCommPort port;
    QString systemIdHex = QStringLiteral("1A2B3C4D");
    int reflushCount = 0;
    QList<int> moduleModes;
    QStringList tips;
    int exceptionsOut = 0;   // exceptions that left parseRequest

private:
    std::unique_ptr<MorlanSlaverHandler> slaver;
};

// A database seeded through Storage, the handler in memory and the peer, on
// a fixed club time. The peer believes the fixture's system id.
class SlaverFixture
{
public:
    static constexpr qint64 kClubTimeMs = 1700000000000; // a fixed device clock
    static constexpr char kLoftNum[] = "NL-1234";
    static constexpr char kPassword[] = "s3cret";

    SlaverFixture();
    ~SlaverFixture();

    StorageFixture db;
    HandlerTransport link;
    PcPeer peer{&link};

    // Seeding, through Storage's own operations.
    void seedLoft(const QString &loftNum, const QString &password);
    void addPigeon(const QString &assocNum, const QString &eringNum = QString());
    // state: "new", "marked" (unprinted), "printed", "stopped"
    void addRace(const QString &raceCode, const QString &state, qint64 liberTime = 0);
    void basket(const QString &assocNum, const QString &raceCode, qint64 markTime, qint64 backTimeEring = 0,
                qint64 backTimeUid = 0);
    void addLogs(int count, int infoChars = 20);

    // A call and its reply text ("" when nothing came back).
    QByteArray json(const QByteArray &text);
    // Compares the reply to a call with the expected text and records a
    // test failure when they differ. (A function, not a macro: moc cannot
    // read raw string literals inside macro arguments.)
    bool replies(const QByteArray &request, const QByteArray &expected);
    // Authenticates (and reads the device information with `info`).
    void openSession(bool info = true);
    int syncCount();
    QString scalar(const QString &sql) const;
};
