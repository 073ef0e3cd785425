#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/SoundThread.h"
#include "device/VexPlayer.h"

#include "messagecapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

const QStringList kLanguageCodes{"EN", "CZ", "DE", "ES", "FR", "NL", "PL", "PT", "RO", "RU",
                                 "SK", "IT", "UA", "HU", "JP", "TH", "TW", "CN", "AZ"};

QStringList promptNames()
{
    QStringList names{"ok", "error", "keyPress", "dong", "sample1", "pigeonTest",
                      "pigeonValid", "pigeonRepeat", "pigeonInValid"};
    for (char c = 'A'; c <= 'Z'; ++c)
        names << QString(QLatin1Char(c));
    for (char c = '0'; c <= '9'; ++c)
        names << QString(QLatin1Char(c));
    return names;
}

// Calls one prompt operation by its name, for the table below.
void invoke(const QString &call, int code, const QString &text)
{
    if (call == "playOK") VexPlayer::playOK();
    else if (call == "playError") VexPlayer::playError();
    else if (call == "playKeyPress") VexPlayer::playKeyPress();
    else if (call == "playDong") VexPlayer::playDong();
    else if (call == "playSample1") VexPlayer::playSample1();
    else if (call == "playPigeonTest") VexPlayer::playPigeonTest();
    else if (call == "playPigeonBack") VexPlayer::playPigeonBack(code);
    else if (call == "readWords") VexPlayer::readWords(text);
    else QFAIL(qPrintable("no such call " + call));
}

QStringList baseNames(const QStringList &paths)
{
    QStringList names;
    for (const QString &p : paths)
        names << QFileInfo(p).completeBaseName();
    return names;
}

// Publishes a sound thread for the life of the object, as the service
// thread does, and withdraws it at the end.
struct Published
{
    explicit Published(SoundThread *thread) { ServiceFactory::getInstance()->setSoundThread(thread); }
    ~Published() { ServiceFactory::getInstance()->setSoundThread(nullptr); }
};

} // namespace

// What VexPlayer queues: the file of each named prompt, the language folder
// before the common one, and its safety while the sound thread comes and goes.
// The queue is observed on a published thread that never starts playing.
class TestVexPlayer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void promptPath_languageFolderFirst_data();
    void promptPath_languageFolderFirst();
    void missingPrompt_failsWithItsPath();
    void namedPrompts_queueTheirFiles_data();
    void namedPrompts_queueTheirFiles();
    void play_whileThreadIsPublishedAndWithdrawn_isSafe();
    void builtPromptFiles_passTheReader();

private:
    std::unique_ptr<QTemporaryDir> resources;
};

void TestVexPlayer::init()
{
    resources = std::make_unique<QTemporaryDir>();
    QVERIFY(resources->isValid());
    VexPlayer::setResourceDir(resources->path());
    ServiceFactory::loadLang(QStringLiteral("EN"));
}

void TestVexPlayer::cleanup()
{
    VexPlayer::setResourceDir(QString());
    ServiceFactory::getInstance()->setSoundThread(nullptr);
    resources.reset();
}

void TestVexPlayer::promptPath_languageFolderFirst_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("queued");
    QTest::newRow("EN, ok.wav only in resource/") << "EN" << QStringList{"ok.wav"} << "ok.wav";
    QTest::newRow("EN, ok.wav also in EN/") << "EN" << QStringList{"ok.wav", "EN/ok.wav"} << "EN/ok.wav";
    QTest::newRow("DE, only EN/ has it") << "DE" << QStringList{"ok.wav", "EN/ok.wav"} << "ok.wav";
    QTest::newRow("EN/ holds another prompt only") << "EN" << QStringList{"EN/error.wav"} << "ok.wav";
    QTest::newRow("no ok.wav anywhere: fallback unchecked") << "EN" << QStringList{} << "ok.wav";
}

void TestVexPlayer::promptPath_languageFolderFirst()
{
    QFETCH(QString, lang);
    QFETCH(QStringList, files);
    QFETCH(QString, queued);
    const QString dir = resources->path() + QLatin1Char('/');
    for (const QString &f : files) {
        QDir().mkpath(QFileInfo(dir + f).absolutePath());
        QFile file(dir + f);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ServiceFactory::loadLang(lang);

    SoundThread thread;
    Published published(&thread);
    VexPlayer::playOK();
    QCOMPARE(thread.queuedPaths(), QStringList{dir + queued});
}

void TestVexPlayer::missingPrompt_failsWithItsPath()
{
    SoundThread thread;
    Published published(&thread);
    VexPlayer::playOK();
    const QStringList queued = thread.queuedPaths();
    QCOMPARE(queued.size(), 1);

    MessageCapture capture;
    try {
        thread.doPlayFile(queued.first());
        QFAIL("a missing prompt file played");
    } catch (const VexException &e) {
        QCOMPARE(e.getErrorCode(), 0x1201);
        QCOMPARE(e.getErrorMessage(), QStringLiteral("Voice file not exists!\n") + queued.first());
    }
    QVERIFY(capture.contains(queued.first()));
}

void TestVexPlayer::namedPrompts_queueTheirFiles_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("playOK") << "playOK" << 0 << "" << QStringList{"ok"};
    QTest::newRow("playError") << "playError" << 0 << "" << QStringList{"error"};
    QTest::newRow("playKeyPress") << "playKeyPress" << 0 << "" << QStringList{"keyPress"};
    QTest::newRow("playDong") << "playDong" << 0 << "" << QStringList{"dong"};
    QTest::newRow("playSample1") << "playSample1" << 0 << "" << QStringList{"sample1"};
    QTest::newRow("playPigeonTest") << "playPigeonTest" << 0 << "" << QStringList{"pigeonTest"};
    QTest::newRow("pigeonBack 0") << "playPigeonBack" << 0 << "" << QStringList{"pigeonValid"};
    QTest::newRow("pigeonBack 2") << "playPigeonBack" << 2 << "" << QStringList{"pigeonRepeat"};
    QTest::newRow("pigeonBack 1") << "playPigeonBack" << 1 << "" << QStringList{"pigeonInValid"};
    QTest::newRow("pigeonBack -1") << "playPigeonBack" << -1 << "" << QStringList{"pigeonInValid"};
    QTest::newRow("readWords a b hyphen 3") << "readWords" << 0 << "ab-3" << QStringList{"A", "B", "3"};
    QTest::newRow("readWords keeps order") << "readWords" << 0 << "z 0Q" << QStringList{"Z", "0", "Q"};
    QTest::newRow("readWords e acute") << "readWords" << 0 << QString::fromUtf8("é") << QStringList{};
    QTest::newRow("readWords sharp s") << "readWords" << 0 << QString::fromUtf8("ß") << QStringList{};
    QTest::newRow("readWords full-width 3") << "readWords" << 0 << QString(QChar(0xFF13)) << QStringList{};
}

void TestVexPlayer::namedPrompts_queueTheirFiles()
{
    QFETCH(QString, call);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    SoundThread thread;
    Published published(&thread);
    invoke(call, code, text);
    QCOMPARE(baseNames(thread.queuedPaths()), names);
}

// Players on several threads while the factory publishes a thread, withdraws
// it and destroys it, over and over: the lock keeps every prompt either on a
// live thread or dropped.
void TestVexPlayer::play_whileThreadIsPublishedAndWithdrawn_isSafe()
{
    constexpr int kPlayers = 4;
    constexpr int kRounds = 300;
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<std::unique_ptr<QThread>> players;
    for (int i = 0; i < kPlayers; ++i) {
        players.emplace_back(QThread::create([&stop, &calls] {
            while (!stop) {
                VexPlayer::playDong();
                ++calls;
            }
        }));
        players.back()->start();
    }

    ServiceFactory *factory = ServiceFactory::getInstance();
    int delivered = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto thread = std::make_unique<SoundThread>();
        factory->setSoundThread(thread.get());
        // Leave the players a moment to reach the published thread.
        const int before = calls;
        for (int spin = 0; spin < 1000 && calls - before < kPlayers; ++spin)
            QThread::yieldCurrentThread();
        factory->setSoundThread(nullptr);
        delivered += thread->queuedPaths().size();
        thread.reset();
    }

    // With nothing published, prompts go nowhere.
    SoundThread witness;
    const int before = calls;
    QTRY_VERIFY(calls - before > 100);
    stop = true;
    for (auto &player : players)
        QVERIFY(player->wait(5000));
    QVERIFY(witness.queuedPaths().isEmpty());
    QVERIFY2(delivered > 0, "no prompt ever reached a published thread");
}

// Every file the build made, for every language folder, walks through the
// program's own chunk reader and plays (into ALSA's null device) without error.
void TestVexPlayer::builtPromptFiles_passTheReader()
{
    const QString dir = qEnvironmentVariable("BRELLIUM_BUILD_DIR") + QStringLiteral("/resource/");
    QStringList folders{dir};
    const bool spoken = !QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty();
    for (const QString &code : kLanguageCodes) {
        if (QFileInfo::exists(dir + code))
            folders << dir + code + QLatin1Char('/');
        else if (spoken)
            QFAIL(qPrintable("espeak-ng is installed but no prompt folder was made for " + code));
    }

    SoundThread thread;
    int played = 0;
    for (const QString &folder : folders) {
        for (const QString &name : promptNames()) {
            const QString path = folder + name + QStringLiteral(".wav");
            QVERIFY2(QFileInfo::exists(path), qPrintable(path + " missing"));
            try {
                thread.doPlayFile(path);
            } catch (const VexException &e) {
                QFAIL(qPrintable(path + ": " + e.getErrorMessage()));
            }
            ++played;
        }
    }
    QCOMPARE(played, folders.size() * promptNames().size());
}

QTEST_GUILESS_MAIN(TestVexPlayer)
#include "tst_vexplayer.moc"
