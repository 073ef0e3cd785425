#include "core/myapp.h"
#include "core/servicefactory.h"
#include "device/hardware_control.h"
#include "device/pcport.h"
#include "storage/loftinfo.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/pigeon/formmember.h"

#include "networkrig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

namespace {

// The association numbers of the arrival lines the endpoint received
// (field 4 of each line of a "sendRecords" call).
QStringList sentAssocNums(const QList<CloudCall> &calls)
{
    QStringList out;
    for (const CloudCall &call : calls) {
        for (const QJsonValue &line : QJsonDocument::fromJson(call.payload.toUtf8()).array())
            out << line.toString().split(QLatin1Char(',')).value(3);
    }
    out.sort();
    return out;
}

} // namespace

// Re-upload end to end: the member screen's Upload makes the real race engine
// send every arrival again through the modem to the cloud endpoint, and the
// statuses follow.
class TestMemberReupload : public QObject
{
    Q_OBJECT
private slots:
    void upload_sendsEveryArrivalAgain();
};

void TestMemberReupload::upload_sendsEveryArrivalAgain()
{
    NetworkRig rig;
    QVERIFY(rig.isReady());
    rig.setLoft([](LoftInfo &l) { l.uploadMode = 0x20; });
    NetworkRig::addRace(QStringLiteral("R1"), 4);
    NetworkRig::saveRecord(NetworkRig::arrived(QStringLiteral("P1"), 1000));
    NetworkRig::saveRecord(NetworkRig::arrived(QStringLiteral("P2"), 2000));
    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    QCOMPARE(sentAssocNums(rig.endpoint.calls(QStringLiteral("sendRecords"))), (QStringList{"P1", "P2"}));

    rig.db.root().writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    ServiceFactory::getInstance()->pigeonBo = &rig.engine;
    MainWindow::resetExitRequest();
    MainWindow *window = MainWindow::instance();
    window->findChild<QTimer *>()->stop();
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->resetSubForms();
    FormMember *screen = window->formMember;
    window->pushSubForm(screen);
    auto *table = screen->findChild<QTableWidget *>(QStringLiteral("tablePigeons"));
    auto statuses = [table] {
        QStringList out;
        for (int row = 0; row < table->rowCount(); ++row)
            out << table->item(row, 3)->text();
        return out;
    };
    QCOMPARE(statuses(), (QStringList{"UpLd", "UpLd"}));

    QTest::mouseClick(screen->findChild<QPushButton *>(QStringLiteral("btnUpload")), Qt::LeftButton);
    QTest::mouseClick(FormMessage::instance()->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    QCOMPARE(statuses(), (QStringList{"Back", "Back"}));

    QCOMPARE(rig.runTurn(TurnGate::Gprs), 0);
    QCOMPARE(sentAssocNums(rig.endpoint.calls(QStringLiteral("sendRecords"))), (QStringList{"P1", "P1", "P2", "P2"}));
    // The next periodic refresh shows them uploaded again.
    screen->onTimeTick(60000 + 300);
    QCOMPARE(statuses(), (QStringList{"UpLd", "UpLd"}));

    window->resetSubForms();
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    ServiceFactory::getInstance()->pigeonBo = nullptr;
}

int main(int argc, char *argv[])
{
    MyApp app(argc, argv);
    MyApp::registerMetaTypes();
    TestMemberReupload test;
    const int status = QTest::qExec(&test, argc, argv);
    PcPort::destroy();
    return status;
}
#include "tst_memberreupload.moc"
