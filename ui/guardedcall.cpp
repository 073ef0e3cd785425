#include "ui/guardedcall.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "ui/formmessage.h"

#include <QCoreApplication>

namespace {
const char kContext[] = "MainWindow";
const char *const kErrorTitle = QT_TRANSLATE_NOOP("MainWindow", "Error");
const char *const kUnknown = QT_TRANSLATE_NOOP("MainWindow", "Unknown Exception!");

void showError(QWidget *parent, const QString &text)
{
    FormMessage::information(parent, QCoreApplication::translate(kContext, kErrorTitle), text, QMessageBox::Ok,
                             nullptr);
}
}

bool guardedKey(const char *where, QWidget *parent, const std::function<bool()> &action)
{
    try {
        return action();
    } catch (const VexException &e) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" VexException!"));
        showError(parent, e.getErrorDesc());
    } catch (...) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" UnknowException!"));
        showError(parent, QCoreApplication::translate(kContext, kUnknown));
    }
    return true;
}

bool guardedCall(const char *where, QWidget *parent, const std::function<void()> &action)
{
    bool done = false;
    guardedKey(where, parent, [&] {
        action();
        done = true;
        return true;
    });
    return done;
}
