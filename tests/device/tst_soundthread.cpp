#include "core/vexexception.h"
#include "device/SoundPCM.h"
#include "device/SoundThread.h"
#include "device/hardware_control.h"

#include "messagecapture.h"
#include "testroot.h"
#include "wavewriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFrames = 1024; // frames per block the player writes
// A bound on a stalled queue, not a figure: a sanitized build on a loaded
// machine has taken 17 s to play eleven short files.
constexpr int kIdleTimeoutMs = 60000;
constexpr int kStopTimeoutMs = 2000;

// The stereo frames the player should write for these left samples: each
// frame's right sample is the left one negated at the sample width, and the
// frames after the samples are zero up to a whole number of blocks.
QByteArray stereo(const QList<int> &left, int bytes)
{
    const int frames = (int(left.size()) + kFrames - 1) / kFrames * kFrames;
    const quint32 mask = bytes == 3 ? 0xFFFFFFu : bytes == 2 ? 0xFFFFu : 0xFFu;
    QByteArray out;
    for (int i = 0; i < frames; ++i) {
        const int v = i < left.size() ? left[i] : 0;
        out += WaveWriter::samples({int(quint32(v) & mask), int(quint32(-v) & mask)}, bytes);
    }
    return out;
}

QList<int> ramp(int count, int step, int offset)
{
    QList<int> values;
    for (int i = 0; i < count; ++i)
        values << (i * step) % 20000 - offset;
    return values;
}

// Interleaved stereo samples (left, right) with a right channel that must
// never be heard.
QByteArray stereoFile(const QList<int> &left)
{
    QList<int> interleaved;
    for (int v : left)
        interleaved << v << 12345;
    return WaveWriter::samples(interleaved, 2);
}

const QByteArray kFmtMono16 = WaveWriter::fmt(1, 8000, 16);

} // namespace

// The sound thread and its WAVE reader, heard through ALSA's file plugin: the
// test configuration writes every opening of "default" to a capture file of
// raw interleaved frames named after the rate and the sample format.
class TestSoundThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void fileWalk_playsLeftAndNegatedRight_data();
    void fileWalk_playsLeftAndNegatedRight();
    void badFile_failsAndNextFilePlays_data();
    void badFile_failsAndNextFilePlays();
    void truncatedAnywhere_endsInErrorOrBoundedPlay();
    void openFailure_isReportedPerPrompt();
    void elevenDuringStartDelay_firstTenPlayInOrder();
    void requestExit_duringLongFile_stopsAtNextBlock();
    void requestExit_duringStartDelay_endsPromptly();
    void promptQueuedWhileAsleep_playsAndExitEndsTheSleep();
    void deviceNeverDrains_playerEndsWithinTheBound();

private:
    QString writeWave(const QString &name, const QByteArray &bytes) const;
    QStringList captureNames() const; // non-empty captures, in the order made
    QByteArray captured() const;      // their frames, concatenated
    void clearCaptures() const;
    void playAll(const QStringList &paths);

    std::unique_ptr<TestRoot> root;
    std::unique_ptr<QTemporaryDir> files;
    QString captureDir;
};

void TestSoundThread::initTestCase()
{
    root = std::make_unique<TestRoot>(2);
    QVERIFY(root->isValid());
    root->activate();
    HardwareControl::init(0);
    captureDir = qEnvironmentVariable("BRELLIUM_ALSA_CAPTURE_DIR");
    QVERIFY2(!captureDir.isEmpty(), "run through CTest: it names the ALSA capture folder");
    QVERIFY(QDir().mkpath(captureDir));
    SoundThread::setStartDelayMs(0);
}

void TestSoundThread::init()
{
    files = std::make_unique<QTemporaryDir>();
    QVERIFY(files->isValid());
    clearCaptures();
    root->clearBoardCommands();
}

void TestSoundThread::cleanup()
{
    SoundThread::setStartDelayMs(0);
    files.reset();
}

QString TestSoundThread::writeWave(const QString &name, const QByteArray &bytes) const
{
    const QString path = files->path() + QLatin1Char('/') + name;
    if (!WaveWriter::save(path, bytes))
        qWarning("cannot write %s", qPrintable(path));
    return path;
}

QStringList TestSoundThread::captureNames() const
{
    // With truncate off the plugin names the captures name, name.0001, ...
    QStringList names;
    const QFileInfoList infos = QDir(captureDir).entryInfoList({"capture-*"}, QDir::Files, QDir::Name);
    for (const QFileInfo &info : infos) {
        if (info.size() > 0)
            names << info.fileName();
    }
    return names;
}

QByteArray TestSoundThread::captured() const
{
    QByteArray frames;
    for (const QString &name : captureNames()) {
        QFile f(captureDir + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadOnly))
            frames += f.readAll();
    }
    return frames;
}

void TestSoundThread::clearCaptures() const
{
    QDir dir(captureDir);
    for (const QString &name : dir.entryList({"capture-*"}, QDir::Files))
        dir.remove(name);
}

// Plays the paths on a thread of their own and waits until all have played.
void TestSoundThread::playAll(const QStringList &paths)
{
    SoundThread thread;
    for (const QString &p : paths)
        thread.playSound(p);
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(thread.isIdle(), kIdleTimeoutMs);
    thread.requestExit();
    QVERIFY(thread.wait(kStopTimeoutMs));
}

void TestSoundThread::fileWalk_playsLeftAndNegatedRight_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("capture");
    QTest::addColumn<QByteArray>("frames");

    QList<int> mono{-32768, 32767, -1, 0, 1};
    mono += ramp(1495, 37, 10000);
    const QByteArray monoData = WaveWriter::samples(mono, 2);
    const QByteArray monoFrames = stereo(mono, 2);
    const QString s16 = QStringLiteral("capture-8000-S16_LE.raw");

    QTest::newRow("mono 16-bit 8000 Hz, last block padded")
        << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("data", monoData)) << s16 << monoFrames;

    const QList<int> left2048 = ramp(2048, 11, 5000);
    QTest::newRow("stereo 16-bit: left from the file, right negated")
        << WaveWriter::pcm(2, 8000, 16, stereoFile(left2048)) << s16 << stereo(left2048, 2);

    // 700 frames: 350 into each half of one block, zeros between and after.
    const QList<int> left700 = ramp(700, 13, 3000);
    QList<int> gapped(kFrames, 0);
    for (int j = 0; j < 350; ++j) {
        gapped[j] = left700[j];
        gapped[512 + j] = left700[350 + j];
    }
    QTest::newRow("stereo 16-bit, short last block keeps its gap")
        << WaveWriter::pcm(2, 8000, 16, stereoFile(left700)) << s16 << stereo(gapped, 2);

    const QList<int> left1024 = ramp(1024, 7, 2000);
    QTest::newRow("6 channels read as stereo")
        << WaveWriter::pcm(6, 8000, 16, stereoFile(left1024)) << s16 << stereo(left1024, 2);
    QTest::newRow("0 channels read as stereo")
        << WaveWriter::pcm(0, 8000, 16, stereoFile(left1024)) << s16 << stereo(left1024, 2);

    const QList<int> mono24{-1, -8388608, 8388607, 1, 0x123456, -0x123456, 0};
    QTest::newRow("24-bit mono, sign-extended before negation")
        << WaveWriter::pcm(1, 16000, 24, WaveWriter::samples(mono24, 3)) << "capture-16000-S24_3LE.raw"
        << stereo(mono24, 3);

    // Unsigned WAVE bytes become signed samples, so silence (128) is zero.
    const QByteArray unsigned8 = QByteArray::fromHex("80ff00817f80");
    QTest::newRow("8-bit: 128 plays as silence")
        << WaveWriter::pcm(1, 8000, 8, unsigned8) << "capture-8000-S8.raw" << stereo({0, 127, -128, 1, -1, 0}, 1);

    QTest::newRow("LIST chunk between fmt and data")
        << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("LIST", QByteArray(26, 'i'))
                            + WaveWriter::chunk("data", monoData))
        << s16 << monoFrames;
    QTest::newRow("fmt chunk of 18 bytes")
        << WaveWriter::file(WaveWriter::fmt(1, 8000, 16, 2) + WaveWriter::chunk("data", monoData)) << s16
        << monoFrames;
    QTest::newRow("empty chunk before fmt")
        << WaveWriter::file(WaveWriter::chunk("JUNK", {}) + kFmtMono16 + WaveWriter::chunk("data", monoData))
        << s16 << monoFrames;
    QTest::newRow("chunk names in capitals")
        << WaveWriter::file(QByteArray("FMT ") + kFmtMono16.mid(4) + WaveWriter::chunk("DATA", monoData))
        << s16 << monoFrames;

    QTest::newRow("truncated inside data")
        << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("data", monoData.left(1000), 4000)) << s16
        << stereo(mono.mid(0, 500), 2);
    QTest::newRow("data size 0xFFFFFFFF")
        << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("data", monoData, 0xFFFFFFFF)) << s16 << monoFrames;
    QTest::newRow("data size 0") << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("data", monoData, 0)) << QString()
                                 << QByteArray();
}

void TestSoundThread::fileWalk_playsLeftAndNegatedRight()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, capture);
    QFETCH(QByteArray, frames);
    MessageCapture messages;
    playAll({writeWave("case.wav", file)});
    QCOMPARE(messages.count("SoundThread::run"), 0);
    QCOMPARE(captureNames(), capture.isEmpty() ? QStringList{} : QStringList{capture});
    const QByteArray got = captured();
    QCOMPARE(got.size(), frames.size());
    QVERIFY(got == frames);
}

void TestSoundThread::badFile_failsAndNextFilePlays_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no file at all
    QTest::addColumn<QString>("message");

    const QByteArray data = WaveWriter::chunk("data", WaveWriter::constant(5, 100, 2));
    QTest::newRow("missing file") << QByteArray() << "Voice file not exists!\n";
    QTest::newRow("shorter than 12 bytes") << QByteArray("RIFF\x04\0\0\0WAV", 11) << "Wave file format(RIFF) error!";
    QTest::newRow("RIFF header only") << WaveWriter::file({}) << "Voice file size error!";
    QTest::newRow("not a RIFF file") << QByteArray("This is not a wave file, only a few words of text.")
                                     << "Voice file size error!";
    QTest::newRow("fmt of 14 bytes") << WaveWriter::file(WaveWriter::chunk("fmt ", QByteArray(14, '\1')) + data)
                                     << "Voice file format error!";
    QTest::newRow("fmt cut short") << WaveWriter::file(kFmtMono16.left(18)) << "Voice file size error!";
    QTest::newRow("fmt size 0xFFFFFFF0")
        << WaveWriter::file(WaveWriter::chunk("fmt ", kFmtMono16.mid(8) + data, 0xFFFFFFF0)) << "Voice file size error!";
    QTest::newRow("chunk size 0xFFFFFFF0")
        << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("LIST", QByteArray(64, 'i'), 0xFFFFFFF0) + data)
        << "Voice file size error!";
    QTest::newRow("no fmt chunk") << WaveWriter::file(data) << "Voice file format error!";
    QTest::newRow("data before fmt") << WaveWriter::file(data + kFmtMono16) << "Voice file format error!";
    // No pad byte is skipped, so the next head is read one byte early.
    QTest::newRow("odd-sized chunk before data")
        << WaveWriter::file(kFmtMono16 + WaveWriter::chunk("LIST", QByteArray("abc\0", 4), 3) + data)
        << "Voice file size error!";
    QTest::newRow("0 bits") << WaveWriter::pcm(1, 8000, 0, QByteArray(200, '\1'))
                            << "snd_pcm_hw_params_set_format failed!";
    QTest::newRow("32 bits") << WaveWriter::pcm(1, 8000, 32, WaveWriter::constant(7, 100, 4))
                             << "snd_pcm_hw_params_set_format failed!";
}

// Each bad file ends in one VexException (code 0x1201, the exact text) and
// silence; on the thread it is logged and the next queued file plays.
void TestSoundThread::badFile_failsAndNextFilePlays()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    const QString bad = file.isNull() ? files->path() + QStringLiteral("/absent.wav") : writeWave("bad.wav", file);
    if (file.isNull())
        message += bad;

    SoundThread direct;
    try {
        direct.doPlayFile(bad);
        QFAIL("the bad file played");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorCode(), 0x1201);
        QCOMPARE(e.getErrorMessage(), message);
    }
    QVERIFY(captured().isEmpty());

    const QList<int> marker(300, 4242);
    const QString good = writeWave("good.wav", WaveWriter::pcm(1, 8000, 16, WaveWriter::samples(marker, 2)));
    MessageCapture messages;
    playAll({bad, good});
    QCOMPARE(messages.count("SoundThread::run VexException!"), 1);
    QVERIFY(captured() == stereo(marker, 2));
}

// A file cut at any offset: inside the headers it fails, inside the data it
// plays what is there, padded to whole blocks. Every offset of the headers is
// tried; inside the data, those around the block edges and a stride between.
void TestSoundThread::truncatedAnywhere_endsInErrorOrBoundedPlay()
{
    const QList<int> samples = ramp(2100, 29, 9000);
    const QByteArray head = WaveWriter::file(kFmtMono16 + WaveWriter::chunk("LIST", QByteArray(10, 'i')));
    const QByteArray wave = WaveWriter::file(kFmtMono16 + WaveWriter::chunk("LIST", QByteArray(10, 'i'))
                                             + WaveWriter::chunk("data", WaveWriter::samples(samples, 2)));
    const int dataStart = int(head.size()) + 8;
    QList<int> cuts;
    for (int cut = 0; cut <= dataStart + 4; ++cut)
        cuts << cut;
    for (int edge = dataStart + 2 * kFrames; edge < wave.size(); edge += 2 * kFrames)
        cuts << edge - 1 << edge << edge + 1;
    for (int cut = dataStart + 5; cut < wave.size(); cut += 211)
        cuts << cut;
    SoundThread thread;
    for (int cut : std::as_const(cuts)) {
        const QString path = writeWave("cut.wav", wave.left(cut));
        clearCaptures();
        bool failed = false;
        try {
            thread.doPlayFile(path);
        } catch (const VexException &) {
            failed = true;
        }
        const int available = qMax(0, cut - dataStart);
        const int blocks = (available + 2 * kFrames - 1) / (2 * kFrames);
        QVERIFY2(failed == (cut < dataStart), qPrintable(QString("cut at %1").arg(cut)));
        QVERIFY2(captured().size() == blocks * kFrames * 4, qPrintable(QString("cut at %1").arg(cut)));
    }
}

// An ALSA "default" that cannot be opened: every prompt fails on its own.
void TestSoundThread::openFailure_isReportedPerPrompt()
{
    const QString good = writeWave("good.wav", WaveWriter::pcm(1, 8000, 16, WaveWriter::constant(9, 10, 2)));
    const QString noDefault = files->path() + QStringLiteral("/no-default.conf");
    QFile conf(noDefault);
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("pcm.other { type null }\n");
    conf.close();

    const QByteArray previous = qgetenv("ALSA_CONFIG_PATH");
    qputenv("ALSA_CONFIG_PATH", noDefault.toLocal8Bit());
    SoundThread thread;
    int failures = 0;
    for (int i = 0; i < 2; ++i) {
        try {
            thread.doPlayFile(good);
        } catch (const VexException &e) {
            failures += e.getErrorMessage() == QLatin1String("Open PCM failed!") ? 1 : 0;
        }
    }
    qputenv("ALSA_CONFIG_PATH", previous);
    QCOMPARE(failures, 2);
    QVERIFY(captured().isEmpty());
    thread.doPlayFile(good); // the device is back
    QCOMPARE(captured().size(), kFrames * 4);
}

// Each file holds its own constant sample, so the captures show which files
// played and in which order.
void TestSoundThread::elevenDuringStartDelay_firstTenPlayInOrder()
{
    QStringList paths;
    for (int k = 0; k < 11; ++k)
        paths << writeWave(QString("p%1.wav").arg(k), WaveWriter::pcm(1, 8000, 16, WaveWriter::constant(1000 + k, 50, 2)));

    SoundThread::setStartDelayMs(500);
    SoundThread thread;
    thread.start();
    for (const QString &p : paths)
        thread.playSound(p);
    QTRY_VERIFY_WITH_TIMEOUT(thread.isIdle(), kIdleTimeoutMs);
    thread.requestExit();
    QVERIFY(thread.wait(kStopTimeoutMs));

    const QStringList names = captureNames();
    QCOMPARE(names.size(), 10);
    for (int k = 0; k < 10; ++k) {
        QFile f(captureDir + QLatin1Char('/') + names[k]);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), stereo(QList<int>(50, 1000 + k), 2));
    }
}

// The long file is a pipe that the test feeds block by block, so the moment
// of the exit request is known: the player is waiting for block 5.
void TestSoundThread::requestExit_duringLongFile_stopsAtNextBlock()
{
    const QString fifo = files->path() + QStringLiteral("/long.wav");
    QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString next = writeWave("next.wav", WaveWriter::pcm(1, 8000, 16, WaveWriter::constant(3, 100, 2)));
    std::signal(SIGPIPE, SIG_IGN); // the player may close the pipe before the last write

    SoundThread thread;
    thread.playSound(fifo);
    thread.playSound(next);
    thread.start();

    // Opening for writing succeeds once the player has the pipe open.
    int fd = -1;
    QTRY_VERIFY_WITH_TIMEOUT((fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK)) >= 0, 5000);
    QCOMPARE(::fcntl(fd, F_SETFL, 0), 0);
    const QByteArray blockBytes = WaveWriter::constant(777, kFrames, 2);
    QByteArray start = WaveWriter::file(kFmtMono16 + WaveWriter::chunk("data", {}, 10 * 1000 * 1000));
    for (int b = 0; b < 4; ++b)
        start += blockBytes;
    QCOMPARE(::write(fd, start.constData(), size_t(start.size())), ssize_t(start.size()));
    int pending = -1;
    QTRY_VERIFY_WITH_TIMEOUT(::ioctl(fd, FIONREAD, &pending) == 0 && pending == 0, 5000);

    thread.requestExit();
    (void)::write(fd, blockBytes.constData(), size_t(blockBytes.size()));
    // The thread ends while the pipe is still open and promises megabytes more.
    QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), kStopTimeoutMs);
    ::close(fd);

    QCOMPARE(thread.queuedPaths(), QStringList{next});
    const QStringList names = captureNames();
    QCOMPARE(names.size(), 1);
    const QByteArray frames = captured();
    const int blocks = int(frames.size()) / (kFrames * 4);
    QVERIFY2(blocks == 4 || blocks == 5, qPrintable(QString("%1 blocks").arg(blocks)));
    QVERIFY(frames == stereo(QList<int>(blocks * kFrames, 777), 2));

    const QStringList mixer{"/usr/local/alsa-arm/bin/amixer sset \"PCM\",0 118",
                            "/usr/local/alsa-arm/bin/amixer sset \"HP DAC\",0 108",
                            "/usr/local/alsa-arm/bin/amixer sset \"PCM\",0 0",
                            "/usr/local/alsa-arm/bin/amixer sset \"HP DAC\",0 0"};
    QCOMPARE(root->boardCommands(), mixer);
}

// The 3000 ms pause after switching the amplifier on does not hold up a
// shutdown; the amplifier is still switched off, and nothing queued plays.
void TestSoundThread::requestExit_duringStartDelay_endsPromptly()
{
    SoundThread::setStartDelayMs(3000);
    SoundThread thread;
    thread.playSound(writeWave("p.wav", WaveWriter::pcm(1, 8000, 16, WaveWriter::constant(1, 10, 2))));
    thread.start();
    QTRY_COMPARE(root->boardCommands().size(), 2); // SoundOn ran
    thread.requestExit();
    QVERIFY(thread.wait(500));
    QCOMPARE(root->boardCommands().size(), 4);
    QVERIFY(captureNames().isEmpty());
}

// An idle thread sleeps until a prompt or the exit request rings it; the
// sleep's own bound is far longer than these waits, so a lost ring fails
// here. Prompts come one at a time, each as the thread has just gone back to
// sleep after the one before.
void TestSoundThread::promptQueuedWhileAsleep_playsAndExitEndsTheSleep()
{
    constexpr int kPrompts = 5;
    SoundThread thread;
    thread.start();
    for (int k = 0; k < kPrompts; ++k) {
        thread.playSound(writeWave(QString("s%1.wav").arg(k), WaveWriter::pcm(1, 8000, 16, WaveWriter::constant(k, 10, 2))));
        QTRY_VERIFY_WITH_TIMEOUT(thread.isIdle(), kIdleTimeoutMs);
        QCOMPARE(captureNames().size(), k + 1);
    }
    thread.requestExit();
    QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), kIdleTimeoutMs);
    QCOMPARE(root->boardCommands().size(), 4); // amplifier on, then off again
}

// A device that takes the samples but never plays them out: the final
// drain gives up after its bound and drops the rest, so the sound thread,
// and with it the shutdown, still ends.
void TestSoundThread::deviceNeverDrains_playerEndsWithinTheBound()
{
    SoundPCM::setDrainProbe([] { return true; });
    const auto restore = qScopeGuard([] { SoundPCM::setDrainProbe({}); });
    MessageCapture capture;
    SoundThread thread;
    thread.playSound(writeWave("p.wav", WaveWriter::pcm(1, 8000, 16, WaveWriter::constant(5, 100, 2))));
    QElapsedTimer timer;
    timer.start();
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(capture.contains(QStringLiteral("drain timeout, rest dropped")), kIdleTimeoutMs);
    QVERIFY(timer.elapsed() >= SoundPCM::kDrainBoundMs);
    thread.requestExit();
    QVERIFY(thread.wait(kStopTimeoutMs));
    QCOMPARE(captured(), stereo(QList<int>(100, 5), 2)); // what was written before the drain
}

QTEST_GUILESS_MAIN(TestSoundThread)
#include "tst_soundthread.moc"
