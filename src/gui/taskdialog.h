// The New Task (Form2) and Edit Task (Form3) dialogs: a name field and the
// task definition text. Modeless; the main window keeps one of each.
#pragma once

#include <QDialog>
#include <QTemporaryDir>
#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTextBrowser;

namespace caiji {

class Fetcher;
class Shell;

class TaskDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Kind { New, Edit };

    // `tryFetcher` fetches the pages tried with 试采 (a network fetcher when
    // none is given). `shell` asks before typed text is dropped.
    TaskDialog(Kind kind, Shell &shell, QWidget *parent = nullptr,
               std::unique_ptr<Fetcher> tryFetcher = nullptr);
    ~TaskDialog() override;

    Kind kind() const { return m_kind; }
    QLineEdit *nameField() const { return m_text1; }
    QPlainTextEdit *contentField() const { return m_text2; }
    QPushButton *button() const { return m_command1; }
    QLineEdit *tryUrlField() const { return m_tryUrl; }
    QSpinBox *tryLevelField() const { return m_tryLevel; }
    QPushButton *tryButton() const { return m_tryButton; }
    QTextBrowser *tryResult() const { return m_tryResult; }

    // 试采: fetches the page at the try address and explains what the
    // definition being typed (not the saved one) makes of it.
    void tryPage();

    // Edit: the task as it was when the dialog opened (Text3 and ta).
    QString originalName() const { return m_originalName; }
    int originalIndex() const { return m_ta; }
    void openOn(const QString &name, int index, const QString &content);
    // Empties both fields (New) for the next task.
    void clearInput();
    // Something was typed since the dialog was opened or emptied.
    bool hasTypedText() const;

    // Escape and the close box: typed text is dropped only when the user says so.
    void reject() override;

Q_SIGNALS:
    void submitted();
    // The explanation of a try is shown.
    void tried();

private:
    void showTried(const QString &url, const QString &fetch, qint64 count, const QByteArray &body,
                   const QByteArray &charset);

    Kind m_kind;
    Shell &m_shell;
    QLineEdit *m_text1;
    QPlainTextEdit *m_text2;
    QPushButton *m_command1;
    QLineEdit *m_tryUrl;
    QSpinBox *m_tryLevel;
    QPushButton *m_tryButton;
    QTextBrowser *m_tryResult;
    std::unique_ptr<Fetcher> m_tryFetcher;
    QTemporaryDir m_tryDir;
    QString m_originalName;
    QString m_originalContent;
    int m_ta = -1;
};

} // namespace caiji
