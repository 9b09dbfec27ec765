// What the window asks of the desktop: plain message boxes (one OK button, no
// icon) and opening folders, documents and addresses. Tests replace it to read
// the texts and the opened addresses instead.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace caiji {

class Shell
{
public:
    virtual ~Shell();
    virtual void inform(QWidget *parent, const QString &text);
    // The result is not checked: a missing folder or association says nothing.
    virtual void open(const QUrl &url);

    static QString title();
};

} // namespace caiji
