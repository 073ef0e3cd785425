#include "core/configfile.h"
#include "core/myapp.h"
#include "core/platform.h"

#include "childprocess.h"
#include "testroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <cstdio>

namespace {
const char kConfig[] = "/app/main_program.config";
const char kLoopVariable[] = "BRELLIUM_CONFIG_LOOP";
constexpr unsigned int kLoopWords[] = {1025, 0x1000 | 0x0100};
constexpr int kCuts = 40;
constexpr int kChildLimitMs = 20000;

QJsonObject objectOf(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// The child of the kill test: saves the two words in turn until it is cut,
// telling the parent after each save.
int runSaveLoop()
{
    Platform::reloadRoot();
    for (int n = 1;; ++n) {
        if (!ConfigFile::saveUserSettings(kLoopWords[n % 2]))
            return 1;
        std::printf("saved %d\n", n);
        std::fflush(stdout);
    }
}
} // namespace

// The configuration file's writer: the members it keeps, the word it sets,
// the failures that leave the file alone and power cuts during the write.
class TestConfigFile : public QObject
{
    Q_OBJECT
private slots:
    void rewrite_data();
    void rewrite();
    void save_data();
    void save();
    void failure_data();
    void failure();
    void cutWhileSaving();
};

void TestConfigFile::rewrite_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("exact"); // the whole new text, where a row fixes it

    const QByteArray alone = "{\"userSettings\":1025}";
    QTest::newRow("empty") << QByteArray() << alone;
    QTest::newRow("{}") << QByteArray("{}") << alone;
    QTest::newRow("array") << QByteArray("[1,{\"userSettings\":3}]") << alone;
    QTest::newRow("scalar") << QByteArray("42") << alone;
    QTest::newRow("garbage") << QByteArray("{\"a\":1,,}") << alone;
    QTest::newRow("invalid UTF-8") << QByteArray("{\"a\":\"\xff\xfe\"}") << alone;
    QTest::newRow("other members sorted")
        << QByteArray("{ \"z\" : 1, \"名前\": \"鸽子 ü\", \"a\": {\"y\": [true, null, \"q\\\"\"], \"b\": false},\n"
                      "  \"userSettings\": 7 }")
        << QByteArray("{\"a\":{\"b\":false,\"y\":[true,null,\"q\\\"\"]},\"userSettings\":1025,\"z\":1,"
                      "\"名前\":\"鸽子 ü\"}");
    QTest::newRow("large numbers")
        << QByteArray("{\"big\":1e300,\"long\":9007199254740993,\"neg\":-4.25,\"userSettings\":4294967295}")
        << QByteArray();
    QTest::newRow("userSettings as text") << QByteArray("{\"userSettings\":\"3\"}") << alone;
    QTest::newRow("userSettings negative") << QByteArray("{\"userSettings\":-1}") << alone;
    QTest::newRow("userSettings a fraction") << QByteArray("{\"userSettings\":2.5}") << alone;
    QByteArray huge = "{\"blob\":\"" + QByteArray(3 * 1024 * 1024, 'x') + "\",\"userSettings\":1}";
    QTest::newRow("megabytes") << huge << QByteArray();
}

void TestConfigFile::rewrite()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, exact);
    const QByteArray text = ConfigFile::withUserSettings(old, 1025);
    if (!exact.isEmpty())
        QCOMPARE(text, exact);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(doc.isObject());
    QVERIFY(!text.contains('\n'));
    // A whole number in the text, not a double's spelling.
    QVERIFY(text.contains("\"userSettings\":1025"));
    QCOMPARE(MyApp::parseUserSettings(text), 1025u);
    QJsonObject expected = objectOf(old);
    expected.insert(QStringLiteral("userSettings"), 1025);
    QCOMPARE(doc.object(), expected);
}

void TestConfigFile::save_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<unsigned int>("word");
    QTest::newRow("missing file") << false << QByteArray() << 0x0800u;
    QTest::newRow("other members") << true << QByteArray("{\"apn\":\"cmnet\",\"userSettings\":1}") << 0u;
    QTest::newRow("empty file") << true << QByteArray() << 0x07FFu;
}

void TestConfigFile::save()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, old);
    QFETCH(unsigned int, word);
    TestRoot root;
    root.activate();
    if (present)
        root.writeFile(QLatin1String(kConfig), old);
    else
        QVERIFY(QFile::remove(root.path(QLatin1String(kConfig))));
    QVERIFY(ConfigFile::saveUserSettings(word));
    const QByteArray text = root.readFile(QLatin1String(kConfig));
    QCOMPARE(MyApp::parseUserSettings(text), word);
    QJsonObject expected = objectOf(old);
    expected.insert(QStringLiteral("userSettings"), qint64(word));
    QCOMPARE(objectOf(text), expected);
    // Nothing left beside it.
    QCOMPARE(QDir(root.path(QStringLiteral("/app"))).entryList(QDir::Files), QStringList{"main_program.config"});
}

void TestConfigFile::failure_data()
{
    QTest::addColumn<QString>("broken");
    QTest::newRow("folder in the file's place") << QStringLiteral("folder");
    QTest::newRow("app folder missing") << QStringLiteral("no app");
}

void TestConfigFile::failure()
{
    QFETCH(QString, broken);
    TestRoot root;
    root.activate();
    const QString file = root.path(QLatin1String(kConfig));
    if (broken == QLatin1String("folder")) {
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file + QStringLiteral("/inside")));
    } else {
        QVERIFY(QDir(root.path(QStringLiteral("/app"))).removeRecursively());
    }
    QByteArray text = "left";
    // A missing folder is a missing file: nothing to read, no error.
    QCOMPARE(ConfigFile::read(&text), broken == QLatin1String("no app"));
    QVERIFY(text.isEmpty());
    QVERIFY(!ConfigFile::saveUserSettings(5));
    if (broken == QLatin1String("folder"))
        QVERIFY(QFileInfo(file + QStringLiteral("/inside")).isDir());
    else
        QVERIFY(!QFileInfo::exists(root.path(QStringLiteral("/app"))));
}

void TestConfigFile::cutWhileSaving()
{
    TestRoot root;
    root.activate();
    const QByteArray first = "{\"apn\":\"cmnet\",\"list\":[1,2,{\"k\":null}],\"userSettings\":5}";
    root.writeFile(QLatin1String(kConfig), first);
    QJsonObject others = objectOf(first);
    others.remove(QStringLiteral("userSettings"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kLoopVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("CLOCK_ROOT"), root.root());
    const QList<qint64> allowed = {5, kLoopWords[0], kLoopWords[1]};
    for (int cut = 0; cut < kCuts; ++cut) {
        ChildProcess child;
        QVERIFY(child.start(QCoreApplication::applicationFilePath(), {}, env, root.workDir()));
        const int saves = QRandomGenerator::global()->bounded(1, 30);
        QVERIFY2(child.waitForOutput(QByteArray("saved ") + QByteArray::number(saves) + '\n', kChildLimitMs),
                 child.output().constData());
        child.cut();
        const QByteArray text = root.readFile(QLatin1String(kConfig));
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(text, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, text.constData());
        QVERIFY2(allowed.contains(object.value(QStringLiteral("userSettings")).toInteger(-1)), text.constData());
        object.value(QStringLiteral("userSettings"));
        QJsonObject rest = object;
        rest.remove(QStringLiteral("userSettings"));
        QCOMPARE(rest, others);
    }
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kLoopVariable))
        return runSaveLoop();
    QCoreApplication app(argc, argv);
    TestConfigFile tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_configfile.moc"
