#pragma once

#include "ui/subwindow.h"

#include <QList>
#include <QSharedPointer>
#include <QString>

#include <memory>

class Nomination;
QT_BEGIN_NAMESPACE
namespace Ui { class FormNomination; }
QT_END_NAMESPACE

// True when a goes before b in a race's order: nominated entries by number,
// then free entries by association number (code unit order).
bool compareNom(const QSharedPointer<Nomination> &a, const QSharedPointer<Nomination> &b);

// The nomination order of a new race that uses nomination: the fancier
// nominates free pigeons (each goes to the end), removes nominations and
// moves a pigeon one place up or down. Every change is stored at once with
// the race's nominations renumbered 1 to n. GUI thread; built once by the
// main window, pushed from the home screen.
class FormNomination : public SubWindow
{
    Q_OBJECT
public:
    explicit FormNomination(QWidget *parent);
    ~FormNomination() override;

    void onActive() override;

private slots:
    void on_cmbRace_currentTextChanged(const QString &text);
    void on_tablePigeons_currentCellChanged(int currentRow, int currentColumn, int previousRow, int previousColumn);
    void on_btnNom_clicked();
    void on_btnDeleteNom_clicked();
    void on_btnUp_clicked();
    void on_btnDown_clicked();

private:
    void refreshForm();
    void refreshCmbRace();
    void refreshPigeonList(int selectRow);
    void refreshButton();
    int maxNom(const QString &raceCode) const;
    int findNom(const QString &assocNum, const QString &raceCode) const;
    int findUnNom(const QString &assocNum) const;
    void exchangeNom(const QString &assocNum1, const QString &assocNum2, const QString &raceCode);
    void nomPigeon(int index, const QString &raceCode);
    void unnomPigeon(int index, const QString &raceCode);
    void updateNomsToDB(const QString &raceCode);
    // Stores the race's order and shows it with selectRow selected. When the
    // store fails the box shows and the list is read again, so the table
    // never shows an order that was not stored.
    void saveAndShow(const char *where, const QString &raceCode, int selectRow);
    // Reads the list; on failure the box shows and the list is empty.
    void loadNoms(const char *where);
    // Up or Down: swaps the numbers of two nominated rows, then the moved
    // pigeon stays selected at its new row.
    void swapWith(int row, int neighbour, const char *where);
    void warnNoSelection();
    QString cellText(int row, int column) const;
    QString currentRace() const;

    std::unique_ptr<Ui::FormNomination> ui;
    QList<QSharedPointer<Nomination>> noms;
};
