#pragma once
// TEMPORARY stand-in for the screen kit's driver; removed when the kit lands.
#include <QString>
#include <QWidget>
class ScreenDriver
{
public:
    explicit ScreenDriver(QWidget *screen, const QString &suite) : s(screen), suiteName(suite) {}
    void click(const char *objectName);
    QString text(const char *objectName);
    template<class T> T *find(const char *objectName) { return s->findChild<T *>(QLatin1String(objectName)); }
    QString shot(const QString &name);
private:
    QWidget *s;
    QString suiteName;
};
