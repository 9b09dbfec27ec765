// 文件 → 发布到数据库…: asks where the records listed are to be published, a
// server database's address and a table, filled in from the task's [publish]
// setting. An address that cannot be read is refused with the reason, and the
// dialog stays open to mend it.
#pragma once

#include "records/serverdatabase.h"
#include "tasks/publishsettings.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace caiji {

class Shell;

class PublishDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PublishDialog(Shell &shell, QWidget *parent = nullptr);

    // Where a password belongs, for every place that asks for an address.
    static QString passwordHint();
    // The [publish] section of the task whose data folder is `dataDir`, as
    // written: also when PublishSettings::read refuses its address (`error`
    // then says why), so that it can be shown and mended.
    static PublishSettings settingsAsWritten(const QString &dataDir, QString *error);

    // Asks, window-modal, where `what` (the records of `task`) goes; accepted
    // once the address reads.
    void ask(const QString &what, const QString &task, const PublishSettings &settings);

    QLineEdit *urlField() const { return m_url; }
    QLineEdit *tableField() const { return m_table; }
    QPushButton *publishButton() const { return m_publish; }
    // Of the accepted dialog.
    const ServerAddress &address() const { return m_address; }
    // As typed; the task's name when left empty.
    QString table() const;

private:
    void submit();

    Shell &m_shell;
    QLabel *m_what;
    QLineEdit *m_url;
    QLineEdit *m_table;
    QPushButton *m_publish;
    QString m_task;
    ServerAddress m_address;
};

} // namespace caiji
