#include "core/myapp.h"
#include "ui/pigeon/formclub.h"
#include "ui/settings/formdeveloptest.h"

#include "screenshot.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <memory>

// The two screens nothing in the clock builds: the club notice and the
// developer's text window.
class TestUnbuiltScreens : public QObject
{
    Q_OBJECT
private slots:
    void clubNotice();
    void developerText();
    void developerTextFromAnotherThread();
};

void TestUnbuiltScreens::clubNotice()
{
    FormClub club(nullptr);
    club.show();
    QCOMPARE(club.objectName(), QStringLiteral("FormClub"));
    QCOMPARE(club.size(), QSize(480, 700));
    QCOMPARE(club.findChild<QLabel *>(QStringLiteral("labTopic"))->text(), QStringLiteral("Warning"));
    QCOMPARE(club.findChild<QLabel *>(QStringLiteral("labInfo"))->text(), QStringLiteral("Club System not connected!"));
    Screenshot::save(club.grab().toImage(), QStringLiteral("tst_unbuiltscreens/formclub"));
}

void TestUnbuiltScreens::developerText()
{
    FormDevelopTest window(nullptr);
    auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("textResult"));
    QVERIFY(text);
    QCOMPARE(window.geometry(), QRect(0, 40, 480, 700));
    window.onDebugInfo(QStringLiteral("while hidden"));
    window.showTop();
    QVERIFY(window.isVisible());
    window.onDebugInfo(QStringLiteral("shown"));
    QCOMPARE(text->toPlainText(), QStringLiteral("while hidden\nshown"));
    Screenshot::save(window.grab().toImage(), QStringLiteral("tst_unbuiltscreens/formdeveloptest"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnHide")), Qt::LeftButton);
    QVERIFY(!window.isVisible());
    window.onDebugInfo(QStringLiteral("hidden again"));
    window.showTop();
    QCOMPARE(text->toPlainText(), QStringLiteral("while hidden\nshown\nhidden again"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("btnClear")), Qt::LeftButton);
    QVERIFY(text->toPlainText().isEmpty());
    QVERIFY(window.isVisible());
}

void TestUnbuiltScreens::developerTextFromAnotherThread()
{
    FormDevelopTest window(nullptr);
    std::unique_ptr<QThread> worker(QThread::create([&window] {
        for (int i = 0; i < 50; ++i)
            QMetaObject::invokeMethod(&window, "onDebugInfo", Qt::QueuedConnection, Q_ARG(QString, QString::number(i)));
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("textResult"));
    QVERIFY(text->toPlainText().isEmpty()); // queued: nothing before the loop runs
    QCoreApplication::sendPostedEvents(&window, QEvent::MetaCall);
    QStringList expected;
    for (int i = 0; i < 50; ++i)
        expected << QString::number(i);
    QCOMPARE(text->toPlainText(), expected.join(QLatin1Char('\n')));
}

int main(int argc, char *argv[])
{
    MyApp app(argc, argv);
    TestUnbuiltScreens test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unbuiltscreens.moc"
