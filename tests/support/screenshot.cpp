#include "screenshot.h"

#include "ui/formmessage.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>

namespace {
constexpr int kScreenWidth = 480;
constexpr int kScreenHeight = 800;
}

QImage Screenshot::grabScreen()
{
    QImage screen(kScreenWidth, kScreenHeight, QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::black);
    QPainter painter(&screen);
    if (MainWindow *window = MainWindow::builtInstance())
        painter.drawImage(window->pos(), window->grab().toImage());
    FormMessage *box = FormMessage::instance();
    if (box->isVisible())
        painter.drawImage(box->pos(), box->grab().toImage());
    return screen;
}

QString Screenshot::save(const QString &name)
{
    return save(grabScreen(), name);
}

QString Screenshot::save(const QImage &image, const QString &name)
{
    QString folder = qEnvironmentVariable("BRELLIUM_TEST_OUTPUT");
    if (folder.isEmpty())
        folder = QDir::current().filePath(QStringLiteral("test-output"));
    // A name may hold a suite's subfolder.
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    return image.save(path, "PNG") ? path : QString();
}
