#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QTest>
#include <QTcpServer>
#include <QThread>
#include <QUdpSocket>

#include "screenshot.h"

#include <signal.h>

namespace {

constexpr int kAnswerMs = 10000; // the console waits up to 5 s for a peer's answer
constexpr int kStartMs = 30000;
// Mains gone for 5 s, then the ordered shutdown (its pauses scaled down).
constexpr int kPowerOffMs = 40000;
// The script's own bounds when stopping: 30 s for the clock to close, then
// 3 s for each process it started.
constexpr int kStopMs = 90000;
constexpr int kGpioBattery = 54;

QString sourceDir()
{
    return QStringLiteral(BRELLIUM_SOURCE_DIR);
}

QString buildDir()
{
    return qEnvironmentVariable("BRELLIUM_BUILD_DIR");
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Rows of the event log of one type, read on a connection of the test's own.
int logRows(const QString &databaseFile, int type, const QString &info)
{
    int rows = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(databaseFile);
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("select count(*) from Log where LogType=:type and LogInfo like :info"));
            q.bindValue(QStringLiteral(":type"), type);
            q.bindValue(QStringLiteral(":info"), QStringLiteral("%") + info + QStringLiteral("%"));
            if (q.exec() && q.next())
                rows = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

// One run of the script: a person at its console, in a sandbox whose home,
// temporary folder and working directory must stay empty.
class ScriptRun
{
public:
    explicit ScriptRun(const QTemporaryDir &sandbox)
        : box(sandbox.path())
    {
        for (const char *folder : {"home", "tmp", "cwd"})
            QDir().mkpath(box + QLatin1Char('/') + QLatin1String(folder));
        script.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), box + QStringLiteral("/home"));
        env.insert(QStringLiteral("TMPDIR"), box + QStringLiteral("/tmp"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("BRELLIUM_TIME_SCALE"), QStringLiteral("0.1"));
        env.insert(QStringLiteral("BRELLIUM_CLOSE_PORT"), QString::number(freeUdpPort()));
        script.setProcessEnvironment(env);
        script.setWorkingDirectory(box + QStringLiteral("/cwd"));
    }

    ~ScriptRun()
    {
        if (script.state() != QProcess::NotRunning) {
            script.terminate();
            script.waitForFinished(kStopMs);
        }
    }

    // No display and no platform chosen: the script serves the screen over
    // VNC at this port.
    void serveOverVnc(quint16 port)
    {
        QProcessEnvironment env = script.processEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("BRELLIUM_VNC_PORT"), QString::number(port));
        script.setProcessEnvironment(env);
    }

    bool start(const QStringList &options)
    {
        // The programs of this test's own build, whatever its folder is called.
        script.start(QStringLiteral("bash"),
                     QStringList{sourceDir() + QStringLiteral("/scripts/run-simulated.sh"), QStringLiteral("--no-build"),
                                 QStringLiteral("--build"), buildDir()}
                         + options + QStringList{root()});
        return script.waitForStarted(kAnswerMs) && waitFor("Type \"help\"", kStartMs);
    }

    QString root() const { return box + QStringLiteral("/root"); }

    // The console's answer to one command: what it printed until the next prompt.
    QByteArray say(const QByteArray &command)
    {
        const qsizetype from = output().size();
        script.write(command + '\n');
        waitFor("\n> ", kAnswerMs, from);
        return output().mid(from);
    }

    void send(const QByteArray &command) { script.write(command + '\n'); }

    bool waitFor(const QByteArray &text, int limitMs, qsizetype from = 0)
    {
        QElapsedTimer timer;
        timer.start();
        while (output().indexOf(text, from) < 0) {
            if (timer.elapsed() > limitMs || script.state() == QProcess::NotRunning)
                return output().indexOf(text, from) >= 0;
            script.waitForReadyRead(100);
        }
        return true;
    }

    bool waitForEnd(int limitMs)
    {
        script.waitForFinished(limitMs);
        output();
        return script.state() == QProcess::NotRunning;
    }

    int exitCode() const { return script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1; }

    QByteArray output()
    {
        out += script.readAll();
        return out;
    }

    // The processes the run started, by name, as it listed them.
    QMap<QString, qint64> pids() const
    {
        QMap<QString, qint64> map;
        QFile file(root() + QStringLiteral("/run/pids"));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                if (words.size() == 2)
                    map.insert(QString::fromLatin1(words.at(0)), words.at(1).toLongLong());
            }
        }
        return map;
    }

    QStringList sandboxLeftovers() const
    {
        QStringList found;
        for (const char *folder : {"home", "tmp", "cwd"}) {
            QDirIterator it(box + QLatin1Char('/') + QLatin1String(folder),
                            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
        }
        return found;
    }

    QByteArray readRootFile(const QString &path) const
    {
        QFile file(root() + path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    const QString box;
    QProcess script;
    QByteArray out;
};

bool alive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}

// Symbolic links under the root that lead out of it.
QStringList linksLeadingOut(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink() && !info.symLinkTarget().startsWith(root + QLatin1Char('/')))
            out << info.filePath() + QStringLiteral(" -> ") + info.symLinkTarget();
    }
    return out;
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The least of a VNC viewer (RFB 3.8, no password, raw pixels): it takes
// whole frames and clicks, as a person at a viewer does.
class RfbViewer
{
public:
    bool connect(quint16 port, int limitMs)
    {
        QElapsedTimer timer;
        timer.start();
        // The server comes up a moment after the script says so.
        while (true) {
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (socket.waitForConnected(1000))
                break;
            socket.abort();
            if (timer.elapsed() > limitMs)
                return false;
            QThread::msleep(200);
        }
        QByteArray version;
        if (!read(12, &version) || !version.startsWith("RFB 003."))
            return false;
        socket.write("RFB 003.008\n");
        QByteArray types;
        if (!read(1, &types) || types.at(0) == 0 || !read(quint8(types.at(0)), &types) || !types.contains(char(1)))
            return false;
        socket.write(QByteArray(1, char(1))); // no authentication
        QByteArray result;
        if (!read(4, &result) || result != QByteArray(4, '\0'))
            return false;
        socket.write(QByteArray(1, char(1))); // shared
        QByteArray init;
        if (!read(24, &init))
            return false;
        width = be16(init, 0);
        height = be16(init, 2);
        QByteArray name;
        if (!read(int(be32(init, 20)), &name))
            return false;
        // 32 bits a pixel, true colour, and raw rectangles only.
        QByteArray format(20, '\0');
        format[0] = 0; // SetPixelFormat
        const unsigned char pf[16] = {32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 0, 0, 0};
        for (int i = 0; i < 16; ++i)
            format[4 + i] = char(pf[i]);
        socket.write(format);
        QByteArray encodings(8, '\0');
        encodings[0] = 2; // SetEncodings: one, raw (0)
        encodings[3] = 1;
        socket.write(encodings);
        return socket.waitForBytesWritten(1000) || socket.bytesToWrite() == 0;
    }

    // A whole frame, each pixel as 0xRRGGBB.
    QImage frame()
    {
        QByteArray request(10, '\0');
        request[0] = 3; // FramebufferUpdateRequest, not incremental
        request[6] = char(width >> 8);
        request[7] = char(width & 0xFF);
        request[8] = char(height >> 8);
        request[9] = char(height & 0xFF);
        socket.write(request);
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::black);
        for (;;) {
            QByteArray type;
            if (!read(1, &type))
                return QImage();
            if (type.at(0) == 2) // bell
                continue;
            if (type.at(0) == 3) { // cut text
                QByteArray head;
                QByteArray text;
                if (!read(7, &head) || !read(int(be32(head, 3)), &text))
                    return QImage();
                continue;
            }
            if (type.at(0) != 0)
                return QImage();
            QByteArray head;
            if (!read(3, &head))
                return QImage();
            const int rects = be16(head, 1);
            for (int r = 0; r < rects; ++r) {
                QByteArray rect;
                if (!read(12, &rect) || be32(rect, 8) != 0)
                    return QImage();
                const int x = be16(rect, 0);
                const int y = be16(rect, 2);
                const int w = be16(rect, 4);
                const int h = be16(rect, 6);
                QByteArray pixels;
                if (!read(w * h * 4, &pixels))
                    return QImage();
                for (int row = 0; row < h; ++row) {
                    for (int col = 0; col < w; ++col) {
                        const int at = (row * w + col) * 4;
                        const quint32 px = quint8(pixels[at]) | quint8(pixels[at + 1]) << 8
                                           | quint8(pixels[at + 2]) << 16;
                        if (x + col < width && y + row < height)
                            image.setPixel(x + col, y + row, px);
                    }
                }
            }
            return image;
        }
    }

    void click(int x, int y)
    {
        // Moved there first, then pressed and released as a finger does.
        for (const int buttons : {0, 1, 0}) {
            QByteArray event(6, '\0');
            event[0] = 5; // PointerEvent
            event[1] = char(buttons);
            event[2] = char(x >> 8);
            event[3] = char(x & 0xFF);
            event[4] = char(y >> 8);
            event[5] = char(y & 0xFF);
            socket.write(event);
            socket.waitForBytesWritten(1000);
            QThread::msleep(100);
        }
    }

    int width = 0;
    int height = 0;

private:
    bool read(int n, QByteArray *out)
    {
        out->clear();
        while (out->size() < n) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kAnswerMs))
                return false;
            out->append(socket.read(n - out->size()));
        }
        return true;
    }
    static int be16(const QByteArray &b, int at) { return quint8(b[at]) << 8 | quint8(b[at + 1]); }
    static quint32 be32(const QByteArray &b, int at)
    {
        return quint32(be16(b, at)) << 16 | quint32(be16(b, at + 2));
    }

    QTcpSocket socket;
};

// How many pixels of the screen below the status bar differ.
int changedPixels(const QImage &a, const QImage &b)
{
    int changed = 0;
    for (int y = 40; y < qMin(a.height(), b.height()); ++y) {
        for (int x = 0; x < qMin(a.width(), b.width()); ++x)
            changed += a.pixel(x, y) != b.pixel(x, y);
    }
    return changed;
}

} // namespace

// The simulated device's run script, as a person uses it: it makes a root
// with a loft and ringed pigeons, starts every peer and the clock, takes
// console commands, survives a peer's death, and when mains is cut the clock
// powers off (recorded only) and everything it started stops. Nothing of it
// lies outside the root, and a second run keeps the database unless --fresh.
class TestRunSimulated : public QObject
{
    Q_OBJECT
private slots:
    void peers_startAlone_withHelp_data();
    void peers_startAlone_withHelp();
    void console_mainsCut_powersOffInsideTheRoot();
    void secondRun_keepsDatabase_freshStartsOver();
    void foreignFolder_isRefused();
    void noDisplay_vncViewerClicksTheMenu();
};

void TestRunSimulated::peers_startAlone_withHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("module") << QStringLiteral("tests/sim/brellium_modulepeer");
    QTest::newRow("club") << QStringLiteral("brellium-clubpeer");
    QTest::newRow("pc") << QStringLiteral("brellium-pcpeer");
    QTest::newRow("modem") << QStringLiteral("brellium_modempeer");
    QTest::newRow("database") << QStringLiteral("brellium-simdb");
    QTest::newRow("cloud") << QFileInfo(QStringLiteral(CLOUDPEER_PATH)).fileName();
}

void TestRunSimulated::peers_startAlone_withHelp()
{
    QFETCH(QString, program);
    QProcess peer;
    peer.setProcessChannelMode(QProcess::MergedChannels);
    peer.start(buildDir() + QLatin1Char('/') + program, {QStringLiteral("--help")});
    QVERIFY(peer.waitForFinished(kAnswerMs));
    QCOMPARE(peer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(peer.exitCode(), 0);
    QVERIFY(peer.readAll().contains("Usage:"));
}

void TestRunSimulated::console_mainsCut_powersOffInsideTheRoot()
{
    QTemporaryDir sandbox;
    ScriptRun run(sandbox);
    QVERIFY2(run.start({}), run.output().constData());
    QVERIFY(run.output().contains("new loft"));

    QVERIFY(run.say("help").contains("mains off|on"));
    QVERIFY(run.say("bogus words").contains("Unknown command \"bogus\"; type help."));
    QVERIFY(run.say("ring NL-2026-1001").contains("ok tag"));
    // A ring that no pigeon wears is presented all the same.
    QVERIFY(run.say("ring 0DEADBEE").contains("ok tag"));
    QVERIFY(run.say("ring no-such-pigeon").contains("no ringed pigeon no-such-pigeon"));
    QVERIFY(run.say("club-ring 0A1B2C3E").contains("record 1"));
    // The pigeon's ring arrives; the ring of no pigeon is dropped by the clock.
    QByteArray arrivals;
    QElapsedTimer timer;
    timer.start();
    while (!(arrivals = run.say("arrivals")).contains("NL-2026-1001") && timer.elapsed() < kStartMs)
        QTest::qWait(200);
    QVERIFY2(arrivals.contains("NL-2026-1001"), arrivals.constData());
    QVERIFY(!arrivals.contains("0DEADBEE"));
    QVERIFY(run.say("pigeons").contains("0A1B2C40"));
    QVERIFY(run.say("printed").contains("(nothing printed yet)"));

    // A peer that dies is reported, and the clock runs on.
    const QMap<QString, qint64> pids = run.pids();
    for (const char *name : {"clock", "module", "club", "pc", "modem"})
        QVERIFY2(pids.contains(QLatin1String(name)), name);
    QVERIFY(::kill(pid_t(pids.value(QStringLiteral("pc"))), SIGKILL) == 0);
    QVERIFY2(run.waitFor("The pc peer has ended", kAnswerMs), run.output().constData());
    QVERIFY(alive(pids.value(QStringLiteral("clock"))));

    run.send("mains off");
    QVERIFY2(run.waitForEnd(kPowerOffMs), run.output().constData());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(run.output().contains("The clock has ended"));

    // The power-off, recorded: the service thread's last flush after the
    // shutdown, and the battery line off (the power-off of this board).
    const QList<QByteArray> commands = run.readRootFile(QStringLiteral("/var/log/board-commands")).trimmed().split('\n');
    QCOMPARE(commands.last(), QByteArray("sync"));
    QCOMPARE(run.readRootFile(QStringLiteral("/sys/class/gpio/gpio%1/value").arg(kGpioBattery)).trimmed(), QByteArray("0"));
    const QByteArray clock = run.readRootFile(QStringLiteral("/var/log/clock.log"));
    QVERIFY(clock.indexOf("Stop RF Service...") < clock.indexOf("Shutting down..."));
    QVERIFY(clock.indexOf("Shutting down...") < clock.lastIndexOf("board: sync"));
    QCOMPARE(logRows(run.root() + QStringLiteral("/app/work/data_20200505.db3"), 15, QStringLiteral("Power Lost")), 1);

    // Each peer recorded what crossed its link, under the root.
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/modulepeer.log")).contains("order tag 0A1B2C3D"));
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/modulepeer.log")).contains("clock sent getTag"));
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/clubpeer.log")).contains("record 1"));
    QVERIFY(run.readRootFile(QStringLiteral("/var/log/modem-peer.log")).contains("modem peer"));

    // Everything it started has stopped; nothing lies outside the root.
    for (auto it = pids.cbegin(); it != pids.cend(); ++it)
        QVERIFY2(!alive(it.value()), qPrintable(it.key()));
    const QStringList leftovers = run.sandboxLeftovers();
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char(' '))));
    QCOMPARE(linksLeadingOut(run.root()), QStringList());
}

void TestRunSimulated::secondRun_keepsDatabase_freshStartsOver()
{
    QTemporaryDir sandbox;
    const QString database = sandbox.path() + QStringLiteral("/root/app/work/data_20200505.db3");
    {
        ScriptRun first(sandbox);
        QVERIFY2(first.start({}), first.output().constData());
        QVERIFY(first.say("pigeon 0C0C0C0C NL-2026-3001").contains("ok pigeon NL-2026-3001 wears 0C0C0C0C"));
        first.send("quit");
        QVERIFY2(first.waitForEnd(kStopMs), first.output().constData());
        QVERIFY(first.output().contains("Closing the clock..."));
    }
    QCOMPARE(logRows(database, 15, QStringLiteral("Watchdog")), 1);
    {
        ScriptRun second(sandbox);
        QVERIFY2(second.start({}), second.output().constData());
        QVERIFY(second.output().contains("kept loft"));
        QVERIFY(second.say("pigeons").contains("NL-2026-3001"));
        second.send("quit");
        QVERIFY2(second.waitForEnd(kStopMs), second.output().constData());
    }
    QCOMPARE(logRows(database, 15, QStringLiteral("Watchdog")), 2);
    {
        ScriptRun fresh(sandbox);
        QVERIFY2(fresh.start({QStringLiteral("--fresh")}), fresh.output().constData());
        QVERIFY(fresh.output().contains("new loft"));
        QVERIFY(!fresh.say("pigeons").contains("NL-2026-3001"));
        fresh.send("quit");
        QVERIFY2(fresh.waitForEnd(kStopMs), fresh.output().constData());
    }
    QCOMPARE(logRows(database, 15, QStringLiteral("Watchdog")), 1);
}

void TestRunSimulated::foreignFolder_isRefused()
{
    QTemporaryDir sandbox;
    QDir().mkpath(sandbox.path() + QStringLiteral("/root"));
    QFile mine(sandbox.path() + QStringLiteral("/root/notes.txt"));
    QVERIFY(mine.open(QIODevice::WriteOnly));
    mine.close();
    ScriptRun run(sandbox);
    QVERIFY(!run.start({QStringLiteral("--fresh")}));
    QVERIFY(run.waitForEnd(kAnswerMs));
    QCOMPARE(run.exitCode(), 2);
    QVERIFY(run.output().contains("was not made by this script"));
    QVERIFY(QFile::exists(mine.fileName()));
}

QTEST_GUILESS_MAIN(TestRunSimulated)
void TestRunSimulated::noDisplay_vncViewerClicksTheMenu()
{
    QTemporaryDir sandbox;
    ScriptRun run(sandbox);
    const quint16 port = freeTcpPort();
    run.serveOverVnc(port);
    QVERIFY2(run.start({}), run.output().constData());
    QVERIFY2(run.output().contains("a viewer can click and type"), run.output().constData());

    RfbViewer viewer;
    QVERIFY(viewer.connect(port, kStartMs));
    QCOMPARE(viewer.width, 480);
    QCOMPARE(viewer.height, 800);
    // A first start shows the upgrade notice over the menu: the screen is
    // up once two frames a moment apart agree.
    QImage black(480, 800, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage notice;
    QTRY_VERIFY_WITH_TIMEOUT(!(notice = viewer.frame()).isNull() && changedPixels(notice, black) > 480 * 300
                                 && changedPixels(notice, viewer.frame()) == 0,
                             kStartMs);
    // Its OK button, then the menu's Pigeon Manager (the third item of its
    // grid): each click changes a large part of the screen.
    viewer.click(242, 441);
    QImage menu;
    QTRY_VERIFY_WITH_TIMEOUT(!(menu = viewer.frame()).isNull() && changedPixels(notice, menu) > 480 * 100,
                             kAnswerMs);
    viewer.click(144, 294);
    QImage opened;
    QTRY_VERIFY_WITH_TIMEOUT(!(opened = viewer.frame()).isNull() && changedPixels(menu, opened) > 480 * 100,
                             kAnswerMs);
    Screenshot::save(notice, QStringLiteral("runsimulated/vnc-1-first-start"));
    Screenshot::save(menu, QStringLiteral("runsimulated/vnc-2-menu"));
    Screenshot::save(opened, QStringLiteral("runsimulated/vnc-3-pigeons"));
    run.send("quit");
    QVERIFY2(run.waitForEnd(kStopMs), run.output().constData());
}

#include "tst_runsimulated.moc"
