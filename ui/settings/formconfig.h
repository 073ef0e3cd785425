#pragma once

#include "ui/subwindow.h"

#include <memory>

class QCheckBox;
QT_BEGIN_NAMESPACE
namespace Ui { class FormConfig; }
QT_END_NAMESPACE

// The feature flags of the clock: eleven check boxes and the modem type,
// shown as loaded at start-up and saved into the configuration file, after
// which the program ends so that the next start runs with them. Reached
// only through the hidden entry of the test menu. GUI thread only.
class FormConfig : public SubWindow
{
    Q_OBJECT
public:
    explicit FormConfig(QWidget *parent);
    ~FormConfig() override;

    void onActive() override;

    // The word the boxes and the modem combo make (nothing else is kept).
    unsigned int shownWord() const;

private slots:
    void on_btnButtonReset_clicked();

private:
    void save();
    void showWord(unsigned int word);

    struct FlagBox
    {
        unsigned int bit;
        QCheckBox *box;
    };
    std::unique_ptr<Ui::FormConfig> ui;
    QList<FlagBox> flagBoxes;
};
