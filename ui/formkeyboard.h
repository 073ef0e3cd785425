#pragma once

#include <QWidget>

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui { class FormKeyBoard; }
QT_END_NAMESPACE

// The on-screen keyboard a screen embeds beside its fields: 40 keys that
// never take the focus, so the field being edited keeps it. Each key plays
// the key sound and announces its code through keyPress; the owning screen
// inserts the character. GUI thread only.
class FormKeyBoard : public QWidget
{
    Q_OBJECT
public:
    explicit FormKeyBoard(QWidget *parent);
    ~FormKeyBoard() override;

    void setCaps(bool on);
    bool isCaps() const;
    void enableCaps(bool on);
    void doKeyPress(int key);
    void reflushGUI();

signals:
    void keyPress(int keyVal);

private slots:
    void on_btnKey0_clicked();
    void on_btnKey1_clicked();
    void on_btnKey2_clicked();
    void on_btnKey3_clicked();
    void on_btnKey4_clicked();
    void on_btnKey5_clicked();
    void on_btnKey6_clicked();
    void on_btnKey7_clicked();
    void on_btnKey8_clicked();
    void on_btnKey9_clicked();
    void on_btnKeyA_clicked();
    void on_btnKeyB_clicked();
    void on_btnKeyC_clicked();
    void on_btnKeyD_clicked();
    void on_btnKeyE_clicked();
    void on_btnKeyF_clicked();
    void on_btnKeyG_clicked();
    void on_btnKeyH_clicked();
    void on_btnKeyI_clicked();
    void on_btnKeyJ_clicked();
    void on_btnKeyK_clicked();
    void on_btnKeyL_clicked();
    void on_btnKeyM_clicked();
    void on_btnKeyN_clicked();
    void on_btnKeyO_clicked();
    void on_btnKeyP_clicked();
    void on_btnKeyQ_clicked();
    void on_btnKeyR_clicked();
    void on_btnKeyS_clicked();
    void on_btnKeyT_clicked();
    void on_btnKeyU_clicked();
    void on_btnKeyV_clicked();
    void on_btnKeyW_clicked();
    void on_btnKeyX_clicked();
    void on_btnKeyY_clicked();
    void on_btnKeyZ_clicked();
    void on_btnKey__clicked();
    void on_btnKeyNot_clicked();
    void on_btnKeyBack_clicked();
    void on_btnKeyCaps_clicked();

private:
    void letter(char upper);

    std::unique_ptr<Ui::FormKeyBoard> ui;
    bool caps = true;
};
