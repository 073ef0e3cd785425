#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// A window of debug text for developers: collects lines, clears them, hides.
// Not a screen of the stack, and nothing in the clock builds it. Sets its
// widgets up itself. GUI thread; other threads reach onDebugInfo queued.
class FormDevelopTest : public QWidget
{
    Q_OBJECT
public:
    explicit FormDevelopTest(QWidget *parent);
    ~FormDevelopTest() override;

    void showTop();

public slots:
    void onDebugInfo(QString info);

private slots:
    void on_btnClear_clicked();
    void on_btnHide_clicked();

private:
    QPlainTextEdit *textResult = nullptr;
    QPushButton *btnClear = nullptr;
    QPushButton *btnHide = nullptr;
};
