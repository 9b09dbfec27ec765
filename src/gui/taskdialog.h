// The New Task (Form2) and Edit Task (Form3) dialogs: a name field and the
// task definition text. Modeless; the main window keeps one of each.
#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace caiji {

class TaskDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Kind { New, Edit };

    TaskDialog(Kind kind, QWidget *parent = nullptr);

    Kind kind() const { return m_kind; }
    QLineEdit *nameField() const { return m_text1; }
    QPlainTextEdit *contentField() const { return m_text2; }
    QPushButton *button() const { return m_command1; }

    // Edit: the task as it was when the dialog opened (Text3 and ta).
    QString originalName() const { return m_originalName; }
    int originalIndex() const { return m_ta; }
    void openOn(const QString &name, int index, const QString &content);

Q_SIGNALS:
    void submitted();

private:
    Kind m_kind;
    QLineEdit *m_text1;
    QPlainTextEdit *m_text2;
    QPushButton *m_command1;
    QString m_originalName;
    int m_ta = -1;
};

} // namespace caiji
