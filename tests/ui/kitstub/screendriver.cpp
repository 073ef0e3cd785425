#include "screendriver.h"
#include "screenshot.h"
#include <QAbstractButton>
#include <QLabel>
#include <QTest>
void ScreenDriver::click(const char *objectName)
{
    auto *b = s->findChild<QAbstractButton *>(QLatin1String(objectName));
    QVERIFY(b && b->isEnabled());
    QTest::mouseClick(b, Qt::LeftButton);
}
QString ScreenDriver::text(const char *objectName)
{
    if (auto *l = s->findChild<QLabel *>(QLatin1String(objectName))) return l->text();
    if (auto *b = s->findChild<QAbstractButton *>(QLatin1String(objectName))) return b->text();
    return QString();
}
QString ScreenDriver::shot(const QString &name) { return Screenshot::save(suiteName + "-" + name); }
