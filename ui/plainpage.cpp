#include "ui/plainpage.h"

#include <QLabel>
#include <QWidget>

namespace {
constexpr int kTitleMargin = 10;
constexpr int kTitleTop = 16;
constexpr int kTitleHeight = 40;
const char kPageStyle[] =
    "border-image: url(:/image/image/main-bg.png);"
    "border:none;";
const char kTitleStyle[] =
    "border-image:none;background:transparent;color:#ffffff;font-size:26px;font-weight:bold;";
}

void setUpPlainPage(QWidget *page, const QString &title)
{
    // The style applies to the page alone, not to the children it gets later.
    page->setAttribute(Qt::WA_StyledBackground);
    page->setObjectName(QLatin1String(page->metaObject()->className()));
    page->setStyleSheet(QStringLiteral("#%1{%2}").arg(page->objectName(), QLatin1String(kPageStyle)));
    auto *label = new QLabel(title, page);
    label->setObjectName(QStringLiteral("labTitle"));
    label->setStyleSheet(QLatin1String(kTitleStyle));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(kTitleMargin, kTitleTop, page->width() - 2 * kTitleMargin, kTitleHeight);
}
