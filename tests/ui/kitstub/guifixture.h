#pragma once
// TEMPORARY stand-in for the screen kit's fixture; removed when the kit lands.
#include "storagefixture.h"
#include "testroot.h"
#include <QMessageBox>
#include <memory>
class MainWindow;
class SubWindow;
class FormMessage;
class GuiFixture
{
public:
    GuiFixture();
    ~GuiFixture();
    MainWindow *window();
    StorageFixture &store() { return *db; }
    TestRoot &root() { return db->root(); }
    void push(SubWindow *screen);
    SubWindow *top();
    void tick(int n = 1);
    FormMessage *box();
    QString boxText();
    bool boxShown();
    void answerBox(QMessageBox::StandardButton b);
    bool key(int qtKey);
private:
    std::unique_ptr<StorageFixture> db;
    MainWindow *w = nullptr;
};
