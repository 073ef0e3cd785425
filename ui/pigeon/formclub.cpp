#include "ui/pigeon/formclub.h"

#include <QLabel>

namespace {
const char kStyle[] =
    "#FormClub{border-image: url(:/image/image/main-bg.png);border:none;}\n"
    "QLabel{color:#ffffff;font-size:16px;background:transparent;}\n"
    "QPushButton{font-size:18px;font-weight:bold;}\n"
    "#widgetBody{border-image: url(:/image/dlg/image/dlg_001_box.png);}\n"
    "#widgetBody QLabel{color:#202020;font-size:18px;}\n"
    "#widgetBody #labTopic{color:#1e50c8;font-size:24px;font-weight:bold;}\n"
    "#widgetBody #labInfo{color:#ff0000;}";
}

struct FormClub::Widgets
{
    QWidget *widgetBody = nullptr;
    QLabel *labTopic = nullptr;
    QLabel *labInfo = nullptr;
};

FormClub::FormClub(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Widgets>())
{
    setObjectName(QStringLiteral("FormClub"));
    resize(480, 700);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QLatin1String(kStyle));
    ui->widgetBody = new QWidget(this);
    ui->widgetBody->setObjectName(QStringLiteral("widgetBody"));
    ui->widgetBody->setGeometry(30, 220, 420, 220);
    ui->labTopic = new QLabel(tr("Warning"), ui->widgetBody);
    ui->labTopic->setObjectName(QStringLiteral("labTopic"));
    ui->labTopic->setAlignment(Qt::AlignCenter);
    ui->labTopic->setGeometry(0, 2, 420, 40);
    ui->labInfo = new QLabel(tr("Club System not connected!"), ui->widgetBody);
    ui->labInfo->setObjectName(QStringLiteral("labInfo"));
    ui->labInfo->setAlignment(Qt::AlignCenter);
    ui->labInfo->setGeometry(0, 100, 420, 60);
}

FormClub::~FormClub() = default;
