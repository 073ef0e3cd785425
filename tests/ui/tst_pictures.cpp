#include "screenshot.h"

#include <QDirIterator>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTest>

namespace {

// Every picture the screens name, by the resource path their layouts and
// style sheets use.
const char *const kScreenPictures[] = {
    ":/image/image/main-bg.png",
    ":/image/image/connecttopc.png",
    ":/image/button_blue.png",
    ":/image/icon_ering.png",
    ":/image/icon_lcd.png",
    ":/image/icon_sms.png",
    ":/image/icon_touch.png",
    ":/image/menu/image/btn_menu_SystemInfo_pressed.png",
    ":/image/dlg/image/content_bg_00.png",
    ":/image/dlg/image/content_bg_01.png",
    ":/image/dlg/image/content_bg_02.png",
    ":/image/dlg/image/dlg_001_box.png",
    ":/image/dlg/image/dlg_003_box.png",
    ":/image/dlg/image/dlg_004_box.png",
    ":/image/button/image/blue.png",
    ":/image/button/image/green.png",
    ":/image/button/image/grey.png",
    ":/image/button/image/red.png",
    ":/image/button/image/Total-Of-Arrived.png",
    ":/image/button/image/Total-Of-Marking.png",
    ":/image/button/image/btn_Checkbox_normal.png",
    ":/image/button/image/btn_Checkbox_pressed.png",
    ":/image/button/image/btn_apn_normal.png",
    ":/image/button/image/btn_apn_delete_normal.png",
    ":/image/button/image/btn_phone-number_normal.png",
    ":/image/button/image/btn_phone-number_disabled.png",
    ":/image/button/image/btn_phone-number-delete_normal.png",
    ":/image/button/image/btn_phone-number-delete_disabled.png",
    ":/image/button/image/btn_reset_normal.png",
    ":/image/button/image/btn_reset_pressed.png",
    ":/image/button/image/key_button.png",
    ":/image/button/image/keyboard_big.png",
    ":/image/button/image/keyboard_icon_del.png",
    ":/image/button/image/table_head_ng.png",
};

// The sheet: each picture at its own size (shrunk only to fit its cell) on a
// checkerboard that shows what is transparent, its name and size below.
constexpr int kColumns = 4;
constexpr int kCellWidth = 250;
constexpr int kCellHeight = 190;
constexpr int kPictureBoxHeight = 150;
constexpr int kMargin = 8;

void drawCell(QPainter &p, const QRect &cell, const QString &path, const QImage &picture)
{
    const QRect box(cell.left() + kMargin, cell.top() + kMargin, cell.width() - 2 * kMargin, kPictureBoxHeight - kMargin);
    constexpr int kSquare = 10;
    for (int y = box.top(); y < box.bottom(); y += kSquare) {
        for (int x = box.left(); x < box.right(); x += kSquare) {
            const bool dark = ((x - box.left()) / kSquare + (y - box.top()) / kSquare) % 2;
            p.fillRect(QRect(x, y, kSquare, kSquare).intersected(box), dark ? QColor(0x3a, 0x40, 0x48) : QColor(0x50, 0x57, 0x61));
        }
    }
    QSize shown = picture.size();
    if (shown.width() > box.width() || shown.height() > box.height())
        shown.scale(box.size(), Qt::KeepAspectRatio);
    const QRect target(QPoint(box.center().x() - shown.width() / 2, box.center().y() - shown.height() / 2), shown);
    p.drawImage(target, picture);
    p.setPen(QColor(0xe8, 0xec, 0xf1));
    const QString name = path.section(QLatin1Char('/'), -1);
    const QString size = QStringLiteral("%1 x %2").arg(picture.width()).arg(picture.height());
    const QRect text(cell.left() + 4, cell.top() + kPictureBoxHeight + 2, cell.width() - 8, cell.height() - kPictureBoxHeight - 4);
    p.drawText(text, Qt::AlignHCenter | Qt::AlignTop,
               QFontMetrics(p.font()).elidedText(name, Qt::ElideMiddle, text.width()) + QLatin1Char('\n') + size);
}

} // namespace

// The screens' pictures are compiled in: each name a layout uses resolves to
// a picture of a size a screen can use, and one sheet shows them all.
class TestPictures : public QObject
{
    Q_OBJECT
private slots:
    void screenPicture_resolves_data();
    void screenPicture_resolves();
    void contactSheet_saved();
};

void TestPictures::screenPicture_resolves_data()
{
    QTest::addColumn<QString>("path");
    for (const char *path : kScreenPictures)
        QTest::newRow(path) << QString::fromLatin1(path);
}

void TestPictures::screenPicture_resolves()
{
    QFETCH(QString, path);
    const QPixmap picture(path);
    QVERIFY2(!picture.isNull(), qPrintable(path));
    // No picture is wider or taller than the screen, none is a speck.
    QVERIFY2(picture.width() >= 16 && picture.width() <= 481, qPrintable(QString::number(picture.width())));
    QVERIFY2(picture.height() >= 16 && picture.height() <= 711, qPrintable(QString::number(picture.height())));
    // Painted, not blank: some pixel is not fully transparent.
    const QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    bool painted = false;
    for (int y = 0; y < image.height() && !painted; ++y) {
        for (int x = 0; x < image.width() && !painted; ++x)
            painted = qAlpha(image.pixel(x, y)) > 0;
    }
    QVERIFY(painted);
}

void TestPictures::contactSheet_saved()
{
    QStringList paths;
    QDirIterator it(QStringLiteral(":/image"), {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const char *path : kScreenPictures)
        QVERIFY2(paths.contains(QString::fromLatin1(path)), path);

    const int rows = (int(paths.size()) + kColumns - 1) / kColumns;
    QImage sheet(kColumns * kCellWidth, rows * kCellHeight, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0x1e, 0x22, 0x28));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    for (int i = 0; i < paths.size(); ++i) {
        const QRect cell((i % kColumns) * kCellWidth, (i / kColumns) * kCellHeight, kCellWidth, kCellHeight);
        drawCell(p, cell, paths.at(i), QImage(paths.at(i)));
    }
    p.end();
    QVERIFY(!Screenshot::save(sheet, QStringLiteral("pictures-contact-sheet")).isEmpty());
}

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"
