#pragma once

#include "device/lfmodule.h"
#include "ui/subwindow.h"

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class FormRingTest; }
QT_END_NAMESPACE

// The ring test: every live reading that reaches the race engine while the
// screen is open shows its ring and the association number of the pigeon
// carrying it, with a test prompt; a second after the last reading the
// waiting texts return. Listens only: the reader's mode stays as it is.
// GUI thread only.
class FormRingTest : public SubWindow
{
    Q_OBJECT
public:
    explicit FormRingTest(QWidget *parent);
    ~FormRingTest() override;

    void onActive() override;
    void onDeactive(_DeactiveMode mode) override;
    void onTimeTick(int elapsedMs) override;

public slots:
    void onTagScaned(LFTAG_INFO tag);

private:
    void showWaiting();
    void showReading(const LFTAG_INFO &tag);

    std::unique_ptr<Ui::FormRingTest> ui;
    QMetaObject::Connection readings;
    int revertMs = 0;
};
