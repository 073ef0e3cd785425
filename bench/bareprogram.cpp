// The reference for the program benchmark: the least a Qt widgets program of
// the clock's shape does on this machine. A frameless 480 x 800 window with
// one label that a 300 ms timer rewrites (as the clock's status bar does),
// the same "shown" and "first frame painted" lines in the debug output once
// the window is up and painted, and the same close datagram on the port in
// BRELLIUM_CLOSE_PORT.
#include "core/firstframenote.h"

#include <QApplication>
#include <QDebug>
#include <QLabel>
#include <QTime>
#include <QTimer>
#include <QUdpSocket>

namespace {
constexpr int kTickMs = 300;
const char kCloseCommand[] = "brellium:close";
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(480, 800);
    QTimer tick;
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, &window,
                     [&window] { window.setText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))); });
    tick.start();

    QUdpSocket socket;
    socket.bind(QHostAddress::AnyIPv4, quint16(qEnvironmentVariableIntValue("BRELLIUM_CLOSE_PORT")));
    QObject::connect(&socket, &QUdpSocket::readyRead, &app, [&socket] {
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(int(qMax<qint64>(0, socket.pendingDatagramSize())), '\0');
            socket.readDatagram(datagram.data(), datagram.size());
            if (datagram == kCloseCommand)
                QCoreApplication::quit();
        }
    });

    window.installEventFilter(new FirstFrameNote([] { qDebug() << "main: first frame painted"; }));
    window.show();
    QTimer::singleShot(0, &app, [] { qDebug() << "main: main window shown"; });
    return app.exec();
}
