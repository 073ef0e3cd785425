#include "screendriver.h"

#include "screenshot.h"

#include "ui/formkeyboard.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

ScreenDriver::ScreenDriver(QWidget *screen, const QString &suite)
    : screen(screen)
    , suite(suite)
{
}

bool ScreenDriver::click(const char *objectName) const
{
    auto *button = find<QAbstractButton>(objectName);
    if (!button)
        return false;
    if (!button->isVisible() || !button->isEnabled()) {
        QTest::qFail(qPrintable(QStringLiteral("button not clickable: ") + QLatin1String(objectName)), __FILE__,
                     __LINE__);
        return false;
    }
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

bool ScreenDriver::type(const QString &text) const
{
    auto *keyboard = screen->findChild<FormKeyBoard *>();
    if (!keyboard) {
        QTest::qFail("the screen has no keyboard", __FILE__, __LINE__);
        return false;
    }
    for (const QChar c : text) {
        QString name;
        if (c == QLatin1Char('\b'))
            name = QStringLiteral("btnKeyBack");
        else if (c == QLatin1Char('-'))
            name = QStringLiteral("btnKey_");
        else if (c == QLatin1Char('.'))
            name = QStringLiteral("btnKeyNot");
        else if (c.isLetterOrNumber() && c.unicode() < 128)
            name = QStringLiteral("btnKey") + c.toUpper();
        if (name.isEmpty()) {
            QTest::qFail(qPrintable(QStringLiteral("no key for ") + c), __FILE__, __LINE__);
            return false;
        }
        if (c.isLetter() && c.isUpper() != keyboard->isCaps()) {
            auto *caps = keyboard->findChild<QAbstractButton *>(QStringLiteral("btnKeyCaps"));
            if (!caps || !caps->isEnabled()) {
                QTest::qFail("caps key not available", __FILE__, __LINE__);
                return false;
            }
            QTest::mouseClick(caps, Qt::LeftButton);
        }
        auto *key = keyboard->findChild<QAbstractButton *>(name);
        if (!key) {
            QTest::qFail(qPrintable(QStringLiteral("no key ") + name), __FILE__, __LINE__);
            return false;
        }
        QTest::mouseClick(key, Qt::LeftButton);
    }
    return true;
}

QString ScreenDriver::text(const char *objectName) const
{
    QWidget *w = find<QWidget>(objectName);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return combo->currentText();
    return QString();
}

QString ScreenDriver::shot(const QString &name) const
{
    return Screenshot::save(suite + QLatin1Char('/') + name);
}
