// The New Task (Form2) and Edit Task (Form3) dialogs: a name field and the
// task definition text on one tab, the task's network settings on another,
// how it collects again (only what is new, on a schedule) on a third, where
// its records are published on a fourth, and 试采, which tries the definition
// being typed on one page. Modeless; the main window keeps one of each.
#pragma once

#include "tasks/collectsettings.h"
#include "tasks/networksettings.h"
#include "tasks/publishsettings.h"
#include "tasks/schedulesettings.h"
#include "tasks/workspace.h"

#include <QDateTime>
#include <QDialog>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
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
    QPushButton *cancelButton() const { return m_cancel; }
    QLineEdit *tryUrlField() const { return m_tryUrl; }
    QSpinBox *tryLevelField() const { return m_tryLevel; }
    QPushButton *tryButton() const { return m_tryButton; }
    QPushButton *tryLinksButton() const { return m_tryLinks; }
    QTextBrowser *tryResult() const { return m_tryResult; }

    // 试采: fetches the page at the try address (the typed definition's first
    // address when none is typed) and explains what the definition being
    // typed (not the saved one) makes of it. While it waits, the same button
    // cancels it.
    void tryPage();
    void cancelTry();
    bool isTrying() const { return m_trying; }

    // The address a task's collection starts from: scheme one's first
    // content page, scheme two's start page; empty when it has none.
    static QString firstAddress(const QString &definition);

    // Edit: the task as it was when the dialog opened (Text3 and ta).
    QString originalName() const { return m_originalName; }
    int originalIndex() const { return m_ta; }
    void openOn(const QString &name, int index, const QString &content);
    // Empties both fields (New) for the next task.
    void clearInput();
    // Something was typed since the dialog was opened or emptied.
    bool hasTypedText() const;

    // Relative cookies and CA files are looked for in the task's data folder
    // in this workspace.
    void setWorkspace(const Workspace &workspace);
    // Edit: shows the task's settings (网络 and 采集方式). A network value
    // that is malformed is shown as written, a collecting or schedule section
    // as the defaults; the user is told what is wrong either way.
    void loadNetwork();
    // The 网络 tab checked as a task start checks it, the files named as they
    // are to be stored (relative to data/, or absolute when outside it).
    // Nothing when a value is malformed; `error` then names the key.
    std::optional<NetworkSettings> typedNetwork(QString *error) const;
    // The 网络 tab was changed since the dialog was opened or emptied.
    bool networkChanged() const;
    void showNetworkTab();
    // The 采集方式 tab was changed since the dialog was opened or emptied.
    bool collectingChanged() const;
    // The 发布 tab was changed since the dialog was opened or emptied.
    bool publishChanged() const;
    // 测试连接: opens a connection to the address typed on the 发布 tab and
    // says whether that worked, with the server's reason when not.
    void testConnection();

    // Escape and the close box: typed text is dropped only when the user says so.
    void reject() override;
    // The dialog's content is about to be replaced or the program to end:
    // typed text is saved (submitted), dropped (the dialog closes) or kept,
    // as the user says. True when nothing typed is left unsaved.
    bool settleTyped();

protected:
    // Enter presses the button that has the focus; in a field it does what
    // that field says (the name saves, the try address tries) and never
    // presses the next button in the chain.
    void keyPressEvent(QKeyEvent *event) override;
    // In the multi-line boxes Tab moves on and Ctrl+Tab types a tab.
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    void submitted();
    // The explanation of a try is shown.
    void tried();

private:
    // Tab follows each page in reading order, then the dialog's buttons.
    void setReadingOrder();
    // 试链接 is for tasks that crawl; disabled, with why, for the others.
    void updateTryLinks();
    // A settings problem says the name of its field on the page ("代理"),
    // not its key in settings.ini ("proxy=").
    struct Field
    {
        QString key;
        QString label;
        QWidget *widget;
    };
    QList<Field> fields() const;
    QString labelled(const QString &problem) const;
    // What is wrong on the 网络 tab, each problem labelled; the widget of
    // the first in `first`.
    QStringList networkProblems(QWidget **first) const;
    // The 网络 tab's values but the headers, unchecked.
    NetworkSettings networkAsTyped() const;
    QWidget *networkTab();
    QWidget *collectingTab();
    QWidget *publishTab();

    void showNetwork(const NetworkSettings &settings);
    QStringList networkValues() const;
    QString dataDir() const;
    QString dataDirOf(const QString &name) const;
    void showCollecting(const CollectSettings &collect, const ScheduleSettings &schedule);
    // An empty `dir`: the defaults, as for a new task.
    void loadCollecting(const QString &dir);
    QStringList collectValues() const;
    QStringList scheduleValues() const;
    CollectSettings typedCollect() const;
    // Nothing when a value is malformed; `field` is then the control holding it.
    std::optional<ScheduleSettings> typedSchedule(QString *error, QWidget **field) const;
    // An empty `dir`: nothing published, as for a new task. A malformed
    // address is shown as written, to be mended.
    void loadPublish(const QString &dir);
    QStringList publishValues() const;
    PublishSettings typedPublish() const;
    void showNextDue();
    // 确定: the 采集方式 tab is checked before the window saves the task, and
    // written into the task's folder once it has.
    void submit();
    QString resolved(const QString &name) const;
    QString storedName(const QString &path) const;
    void browse(QLineEdit *field, const QString &caption, const QString &filter);
    void showTried(const QString &url, const QString &fetch, qint64 count, const QByteArray &body,
                   const QByteArray &charset);

    Kind m_kind;
    Shell &m_shell;
    QLineEdit *m_text1;
    QPlainTextEdit *m_text2;
    QPushButton *m_command1;
    QPushButton *m_cancel;
    QLineEdit *m_tryUrl;
    QSpinBox *m_tryLevel;
    QPushButton *m_tryButton;
    QPushButton *m_tryLinks = nullptr;
    bool m_linksMode = false; // the try lists the page's links
    QTextBrowser *m_tryResult;
    QTabWidget *m_tabs;
    QSpinBox *m_retries;
    QSpinBox *m_connections;
    QSpinBox *m_minDelay;
    QCheckBox *m_robots;
    QLineEdit *m_userAgent;
    QPlainTextEdit *m_headers;
    QLineEdit *m_cookiesFile;
    QLineEdit *m_proxy;
    QLineEdit *m_caFile;
    QWidget *m_collectingTab = nullptr;
    QCheckBox *m_onlyNew = nullptr;
    QSpinBox *m_stopAfterKnown = nullptr;
    QRadioButton *m_noSchedule = nullptr;
    QRadioButton *m_every = nullptr;
    QRadioButton *m_daily = nullptr;
    QSpinBox *m_everyCount = nullptr;
    QComboBox *m_everyUnit = nullptr;
    QLineEdit *m_dailyTimes = nullptr;
    QLabel *m_nextDue = nullptr;
    QWidget *m_publishTab = nullptr;
    QLineEdit *m_publishUrl = nullptr;
    QLineEdit *m_publishTable = nullptr;
    std::unique_ptr<Fetcher> m_tryFetcher;
    QTemporaryDir m_tryDir;
    QString m_originalName;
    QString m_originalContent;
    QStringList m_originalNetwork;
    QStringList m_originalCollect;
    QStringList m_originalSchedule;
    QStringList m_originalPublish;
    QDateTime m_lastRun; // of the task edited; invalid when it never ran
    std::optional<Workspace> m_workspace;
    int m_ta = -1;
    bool m_trying = false;
};

} // namespace caiji
