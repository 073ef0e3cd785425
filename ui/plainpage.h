#pragma once

class QString;
class QWidget;

// Dresses a screen as a plain page on the main background with its title
// at the top, for screens whose own content is not built yet.
void setUpPlainPage(QWidget *page, const QString &title);
