#include "ui/guardedcall.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/VexPlayer.h"
#include "ui/formmessage.h"

#include <QCoreApplication>

namespace {
const char kContext[] = "MainWindow";
const char *const kErrorTitle = QT_TRANSLATE_NOOP("MainWindow", "Error");
const char *const kUnknown = QT_TRANSLATE_NOOP("MainWindow", "Unknown Exception!");

void showError(QWidget *parent, const QString &text, bool prompt)
{
    if (prompt)
        VexPlayer::playError();
    FormMessage::information(parent, QCoreApplication::translate(kContext, kErrorTitle), text, QMessageBox::Ok,
                             nullptr);
}

bool guardKey(const char *where, QWidget *parent, bool prompt, const std::function<bool()> &action)
{
    try {
        return action();
    } catch (const VexException &e) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" VexException!"));
        showError(parent, e.getErrorDesc(), prompt);
    } catch (...) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" UnknowException!"));
        showError(parent, QCoreApplication::translate(kContext, kUnknown), prompt);
    }
    return true;
}

bool guardCall(const char *where, QWidget *parent, bool prompt, const std::function<void()> &action)
{
    bool done = false;
    guardKey(where, parent, prompt, [&] {
        action();
        done = true;
        return true;
    });
    return done;
}
} // namespace

bool guardedKey(const char *where, QWidget *parent, const std::function<bool()> &action)
{
    return guardKey(where, parent, false, action);
}

bool guardedCall(const char *where, QWidget *parent, const std::function<void()> &action)
{
    return guardCall(where, parent, false, action);
}

bool guardedCallWithErrorPrompt(const char *where, QWidget *parent, const std::function<void()> &action)
{
    return guardCall(where, parent, true, action);
}
