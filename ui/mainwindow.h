#pragma once

#include "ui/basewindow.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class FormAddPigeon;
class FormAddRace;
class FormAssigment;
class FormCommunication;
class FormConfig;
class FormHome;
class FormHomeRaceDetail;
class FormLcdTest;
class FormListAssignment;
class FormLogs;
class FormMarking;
class FormMarkingSelectRace;
class FormMember;
class FormMenu;
class FormMorlanConnect;
class FormNomination;
class FormPcConnect;
class FormPigeonList;
class FormPigeonsAssignment;
class FormRace;
class FormRaceDetail;
class FormRingTest;
class FormSmsTest;
class FormSystem;
class FormTest;
class FormTime;
class FormTrain;
class FormTrainStart;
class LoftInfo;
class QKeyEvent;
class QTimer;
class QUdpSocket;
struct StatusLook;
struct StatusSnapshot;
QT_BEGIN_NAMESPACE
namespace Ui { class MainWindow; }
QT_END_NAMESPACE

// The one top-level window of the clock: status bar, Back and Home, the main
// menu and every screen (each built once), the first handler of the
// hardware keys, the 300 ms tick, the UDP close command and the ordered
// shutdown. Lives in the GUI thread; only requestExit may come from another.
class MainWindow : public BaseWindow
{
    Q_OBJECT
public:
    // Builds the window on the first call (on the heap: the program deletes
    // it with destroyInstance() before the application object goes).
    static MainWindow *instance();
    // The window once its construction has finished, else null: keys are
    // offered to it only then.
    static MainWindow *builtInstance();
    static void destroyInstance();

    // Only sets a flag: safe from any thread, also before the window exists.
    static void requestExit();
    static bool isExitRequested();
    // Withdraws a request not yet acted on; tests start each window afresh.
    static void resetExitRequest();

    bool doKeyPress(QKeyEvent *e) override;

    // The UDP port of the close command.
    static quint16 closePort();
    // True for the text of a datagram that asks the program to close.
    static bool isCloseCommand(const QString &cmd);
    // A device delay, shortened on a simulated device by BRELLIUM_TIME_SCALE
    // (a factor between 0 and 1) so that tests run the 20 s box, the shutdown
    // pauses and the step bounds in milliseconds. The device ignores it.
    static int scaledMs(int ms);
    // The version text of the upgrade notice for a board type, modem type and
    // user-settings word.
    static QString versionText(int osType, unsigned int gsmType, unsigned int settings);
    // The no-SMS rule on the stored loft modes; true when they must be saved.
    static bool applyNoSmsRule(int *uploadMode, int *notifyMode);
    // The watchdog rule: feed when more than 5 s passed or the clock went
    // back by more than 5 s.
    static bool isWatchdogDue(qint64 nowMs, qint64 lastMs);

    // One shutdown step: shows and logs text, runs begin (what starts the
    // stop, if anything), pauses, then waits for stopped up to its bound.
    // Returns false when the bound ran out.
    bool stopStep(const QString &text, const std::function<bool()> &stopped,
                  const std::function<void()> &begin = nullptr);

    // Applies a look to the status bar (the tick's last part).
    void applyStatus(const StatusLook &look);
    // Replaces where the tick reads the services; empty restores the real one.
    void setSnapshotSource(std::function<StatusSnapshot()> source);
    qint64 lastWatchdogMs() const;
    FormMenu *mainMenu() const;

    FormAddPigeon *formAddPigeon = nullptr;
    FormAssigment *formAssigment = nullptr;
    FormListAssignment *formListAssignment = nullptr;
    FormCommunication *formCommunication = nullptr;
    FormHome *formHome = nullptr;
    FormLcdTest *formLcdTest = nullptr;
    FormMarking *formMarking = nullptr;
    FormMarkingSelectRace *formMarkingSelectRace = nullptr;
    FormMember *formMember = nullptr;
    FormPcConnect *formPcConnect = nullptr;
    FormRace *formRace = nullptr;
    FormRaceDetail *formRaceDetail = nullptr;
    FormHomeRaceDetail *formHomeRaceDetail = nullptr;
    FormAddRace *formAddRace = nullptr;
    FormRingTest *formRingTest = nullptr;
    FormSmsTest *formSmsTest = nullptr;
    FormSystem *formSystem = nullptr;
    FormTest *formTest = nullptr;
    FormTime *formTime = nullptr;
    FormTrain *formTrain = nullptr;
    FormTrainStart *formTrainStart = nullptr;
    FormMorlanConnect *formMorlanConnect = nullptr;
    FormPigeonList *formPigeonList = nullptr;
    FormPigeonsAssignment *formPigeonsAssignment = nullptr;
    FormLogs *formLogs = nullptr;
    FormConfig *formConfig = nullptr;
    FormNomination *formNomination = nullptr;

private slots:
    void on_pushButtonBack_clicked();
    void on_pushButtonHome_clicked();
    void onTickTimeOut();
    void onReceiveUdp();

private:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    static bool isUpgrade();
    static LoftInfo storedLoft();
    static QString commandText(const QByteArray &datagram);
    void buildScreens();
    void showUpgradeNotice();
    void firstSetUp();
    void flushWatchdog();
    void tick();
    // Service errors the user must see, one box at a time: why the services
    // do not run (at start and at every return to the menu), notices, held
    // arrivals.
    void showServiceErrors();
    bool handleKey(QKeyEvent *e);
    bool isBoxLocked() const;
    // Home, Back and Escape are refused while a screen's call runs.
    bool isNavigationHeld() const;
    QWidget *errorParent();
    void doUdpCmd(const QString &cmd);
    [[noreturn]] void doDestroy();
    [[noreturn]] static void endProcess();

    std::unique_ptr<Ui::MainWindow> ui;
    FormMenu *menu = nullptr;
    QTimer *timer = nullptr;
    QUdpSocket *udpSocket = nullptr;
    qint64 lastWatchdog = 0;
    std::function<StatusSnapshot()> snapshotSource;
    bool startErrorShown = false;
    bool wasAtMenu = false;
    bool heldShown = false;
    QString serviceErrorText; // the text of the last error box shown by showServiceErrors

    static std::atomic<bool> exitRequested;
    static MainWindow *_instance;
    static bool _built;
};
