#include "ui/settings/formdeveloptest.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace {
const char kStyle[] = "QLabel{color:#ffffff;font-size:16px;}\nQPushButton{font-size:18px;}";
}

FormDevelopTest::FormDevelopTest(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("FormDevelopTest"));
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QString());
    setGeometry(0, 40, 480, 700);
    setStyleSheet(QLatin1String(kStyle));

    textResult = new QPlainTextEdit(this);
    textResult->setObjectName(QStringLiteral("textResult"));
    textResult->setGeometry(0, 60, 471, 631);
    btnClear = new QPushButton(tr("clear"), this);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    btnClear->setGeometry(10, 10, 111, 41);
    btnHide = new QPushButton(tr("hide"), this);
    btnHide->setObjectName(QStringLiteral("btnHide"));
    btnHide->setGeometry(190, 10, 111, 41);
    // The widgets exist only now: connect the slots by their names.
    QMetaObject::connectSlotsByName(this);
}

FormDevelopTest::~FormDevelopTest() = default;

void FormDevelopTest::showTop()
{
    setVisible(true);
    setEnabled(true);
    raise();
}

void FormDevelopTest::onDebugInfo(QString info)
{
    textResult->appendPlainText(info);
}

void FormDevelopTest::on_btnClear_clicked()
{
    textResult->clear();
}

void FormDevelopTest::on_btnHide_clicked()
{
    hide();
}
