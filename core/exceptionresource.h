#pragma once

#include <QObject>

// The error-text catalogue: its constructor passes every English exception
// message through tr(), which is what lists them for translators in the
// context "ExceptionResource". The lookup itself happens in VexException.
class ExceptionResource : public QObject
{
    Q_OBJECT
public:
    explicit ExceptionResource(QObject *parent = nullptr);
};
