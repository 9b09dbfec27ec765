#include "gui/taskdialog.h"

#include "engine/networkfetcher.h"
#include "engine/pageexplainer.h"
#include "gui/publishdialog.h"
#include "gui/shell.h"
#include "records/recordstore.h"
#include "tasks/taskfile.h"
#include "tasks/taskfolders.h"
#include "text/numbers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// The explanation as rich text: what needs fixing, and each field's problem,
// in red.
QString explanationHtml(const QString &text)
{
    QString html = u"<pre style=\"white-space: pre-wrap\">"_s;
    for (const QString &line : text.split(u'\n')) {
        const QString escaped = line.toHtmlEscaped();
        const bool bad = line.contains(u'✗') || line.startsWith(u"需要修改") ||
                         line.startsWith(u"请检查") || line.contains(u"结果：丢弃"_s) ||
                         line.contains(u"没有找到"_s);
        html += bad ? u"<span style=\"color:#c00000\">"_s + escaped + u"</span>"_s : escaped;
        html += u'\n';
    }
    return html + u"</pre>"_s;
}

} // namespace

TaskDialog::TaskDialog(Kind kind, Shell &shell, QWidget *parent,
                       std::unique_ptr<Fetcher> tryFetcher)
    : QDialog(parent), m_kind(kind), m_shell(shell), m_text1(new QLineEdit(this)),
      m_text2(new QPlainTextEdit(this)), m_command1(new QPushButton(this)),
      m_cancel(new QPushButton(tr("取消"), this)), m_tryUrl(new QLineEdit(this)),
      m_tryLevel(new QSpinBox(this)), m_tryButton(new QPushButton(tr("试采"), this)),
      m_tryResult(new QTextBrowser(this)), m_tabs(new QTabWidget(this)),
      m_retries(new QSpinBox(this)), m_connections(new QSpinBox(this)),
      m_minDelay(new QSpinBox(this)), m_robots(new QCheckBox(tr("遵守 robots.txt"), this)),
      m_userAgent(new QLineEdit(this)), m_headers(new QPlainTextEdit(this)),
      m_cookiesFile(new QLineEdit(this)), m_proxy(new QLineEdit(this)),
      m_caFile(new QLineEdit(this)),
      m_tryFetcher(tryFetcher ? std::move(tryFetcher) : std::make_unique<NetworkFetcher>())
{
    const bool isNew = kind == Kind::New;
    setObjectName(isNew ? u"Form2"_s : u"Form3"_s);
    setWindowTitle(isNew ? tr("新建任务") : tr("编辑任务"));
    setModal(false);
    auto *label1 = new QLabel(tr("任务名称："), this);
    label1->setObjectName(u"Label1"_s);
    auto *label2 = new QLabel(tr("任务内容："), this);
    label2->setObjectName(u"Label2"_s);
    m_text1->setObjectName(u"Text1"_s);
    m_text2->setObjectName(u"Text2"_s);
    m_text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text2->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_command1->setObjectName(u"Command1"_s);
    m_command1->setText(isNew ? tr("新建任务") : tr("编辑任务"));
    m_cancel->setObjectName(u"CancelButton"_s);
    m_cancel->setAutoDefault(false);

    m_tryUrl->setObjectName(u"TryUrl"_s);
    m_tryUrl->setPlaceholderText(tr("试采网址；空着时取任务的第一个网址"));
    m_tryLevel->setObjectName(u"TryLevel"_s);
    m_tryLevel->setRange(1, MaxLevel);
    m_tryLevel->setPrefix(tr("第"));
    m_tryLevel->setSuffix(tr("层"));
    m_tryButton->setObjectName(u"TryButton"_s);
    m_tryResult->setObjectName(u"TryResult"_s);
    m_tryResult->setPlaceholderText(
        tr("按“试采”：按上面正在编辑的任务内容（不必先保存）截取试采网址这一页，"
           "逐个字段说明截到了什么；空的字段会标红并写明原因。等待页面时再按一次可以取消。"));
    m_tryFetcher->setPagesInMemory(true);
    m_tryFetcher->setAllowedDirectories({m_tryDir.path()});

    // A scheme-two task's link filter: which links of a list page it takes.
    m_tryLinks = new QPushButton(tr("试链接"), this);
    m_tryLinks->setObjectName(u"TryLinksButton"_s);
    connect(m_text2, &QPlainTextEdit::textChanged, this, &TaskDialog::updateTryLinks);
    auto *tryRow = new QHBoxLayout;
    tryRow->addWidget(m_tryUrl, 1);
    tryRow->addWidget(m_tryLevel);
    tryRow->addWidget(m_tryButton);
    tryRow->addWidget(m_tryLinks);

    auto *taskTab = new QWidget(this);
    auto *layout = new QGridLayout(taskTab);
    layout->addWidget(label1, 0, 0);
    layout->addWidget(m_text1, 0, 1);
    layout->addWidget(label2, 1, 0, Qt::AlignTop);
    layout->addWidget(m_text2, 1, 1);
    layout->addWidget(new QLabel(tr("试采："), this), 2, 0);
    layout->addLayout(tryRow, 2, 1);
    layout->addWidget(m_tryResult, 3, 1);
    layout->setRowStretch(1, 3);
    layout->setRowStretch(3, 2);

    m_tabs->setObjectName(u"Tabs"_s);
    m_tabs->addTab(taskTab, tr("任务"));
    m_tabs->addTab(networkTab(), tr("网络"));
    m_tabs->addTab(collectingTab(), tr("采集方式"));
    m_tabs->addTab(publishTab(), tr("发布"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_command1);
    buttons->addWidget(m_cancel);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(m_tabs);
    outer->addLayout(buttons);
    resize(760, 760);
    connect(m_command1, &QPushButton::clicked, this, &TaskDialog::submit);
    connect(m_cancel, &QPushButton::clicked, this, &TaskDialog::reject);
    connect(m_tryButton, &QPushButton::clicked, this, [this] {
        m_linksMode = false;
        m_trying ? cancelTry() : tryPage();
    });
    connect(m_tryLinks, &QPushButton::clicked, this, [this] {
        if (m_trying)
            return;
        m_linksMode = true;
        tryPage();
    });
    connect(m_tryUrl, &QLineEdit::returnPressed, this, [this] {
        if (!m_trying)
            tryPage();
    });
    connect(m_text1, &QLineEdit::returnPressed, this, &TaskDialog::submit);
    for (QPlainTextEdit *box : {m_text2, m_headers}) {
        box->setTabChangesFocus(true);
        box->installEventFilter(this);
    }
    setReadingOrder();
    updateTryLinks();
    connect(m_tryFetcher.get(), &Fetcher::fetchDone, this,
            [this](int, const QString &url, const QString &, const QString &text, qint64 count,
                   const QString &, const QString &, const QByteArray &body,
                   const QByteArray &charset) { showTried(url, text, count, body, charset); });
}

TaskDialog::~TaskDialog() = default;

void TaskDialog::setReadingOrder()
{
    const auto named = [this](const QString &name) { return findChild<QWidget *>(name); };
    QList<QWidget *> order{m_tabs->tabBar(),
                           m_text1,
                           m_text2,
                           m_tryUrl,
                           m_tryLevel,
                           m_tryButton,
                           m_tryLinks,
                           m_tryResult,
                           m_retries,
                           m_connections,
                           m_minDelay,
                           m_robots,
                           m_userAgent,
                           m_headers,
                           m_cookiesFile,
                           named(u"CookiesBrowse"_s),
                           m_proxy,
                           m_caFile,
                           named(u"CaBrowse"_s),
                           m_onlyNew,
                           m_stopAfterKnown,
                           m_noSchedule,
                           m_every,
                           m_everyCount,
                           m_everyUnit,
                           m_daily,
                           m_dailyTimes,
                           m_publishUrl,
                           named(u"TestConnection"_s),
                           m_publishTable,
                           m_command1,
                           m_cancel};
    order.removeAll(nullptr);
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

QList<TaskDialog::Field> TaskDialog::fields() const
{
    return {{u"retries"_s, tr("重试次数"), m_retries},
            {u"connectionsPerHost"_s, tr("每个网站同时连接数"), m_connections},
            {u"minDelayMs"_s, tr("两次请求最短间隔"), m_minDelay},
            {u"robots"_s, tr("遵守 robots.txt"), m_robots},
            {u"userAgent"_s, tr("User-Agent"), m_userAgent},
            {u"headers"_s, tr("附加请求头"), m_headers},
            {u"cookiesFile"_s, tr("cookies 文件"), m_cookiesFile},
            {u"proxy"_s, tr("代理"), m_proxy},
            {u"caFile"_s, tr("CA 证书文件"), m_caFile},
            {u"onlyNew"_s, tr("只采新内容"), m_onlyNew},
            {u"stopAfterKnown"_s, tr("连续遇到已采过的内容页链接"), m_stopAfterKnown},
            {u"every"_s, tr("定时"), m_everyCount},
            {u"daily"_s, tr("每天"), m_dailyTimes},
            {u"url"_s, tr("数据库地址"), m_publishUrl},
            {u"table"_s, tr("数据表"), m_publishTable}};
}

QString TaskDialog::labelled(const QString &problem) const
{
    // "key=value：why" and "key：why", as the settings' checks word them.
    for (const Field &field : fields()) {
        if (problem.startsWith(field.key + u'=')) {
            const QString rest = problem.mid(field.key.size() + 1);
            const qsizetype colon = rest.indexOf(u'：');
            if (colon >= 0)
                return tr("%1“%2”%3").arg(field.label, rest.left(colon), rest.mid(colon));
        }
        if (problem.startsWith(field.key + u'：'))
            return field.label + problem.mid(field.key.size());
    }
    return problem;
}

NetworkSettings TaskDialog::networkAsTyped() const
{
    NetworkSettings typed;
    typed.retries = m_retries->value();
    typed.connectionsPerHost = m_connections->value();
    typed.minDelayMs = m_minDelay->value();
    typed.robots = m_robots->isChecked();
    typed.userAgent = m_userAgent->text().trimmed();
    typed.proxy = m_proxy->text().trimmed();
    typed.cookiesFile = m_cookiesFile->text().trimmed();
    typed.caFile = m_caFile->text().trimmed();
    return typed;
}

QStringList TaskDialog::networkProblems(QWidget **first) const
{
    NetworkSettings typed = networkAsTyped();
    QStringList found;
    QString error;
    if (!typed.setHeaderLines(m_headers->toPlainText().split(u'\n'), &error))
        found << error;
    found << typed.problems(dataDir());
    *first = nullptr;
    for (const Field &field : fields()) {
        if (!found.isEmpty() && found.first().startsWith(field.key))
            *first = field.widget;
    }
    for (QString &problem : found)
        problem = labelled(problem);
    return found;
}

void TaskDialog::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !qobject_cast<QPushButton *>(focusWidget())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TaskDialog::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QPlainTextEdit *>(watched);
    if (box && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::ControlModifier) {
            box->insertPlainText(u"\t"_s);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TaskDialog::settleTyped()
{
    if (!isVisible() || !hasTypedText())
        return true;
    raise();
    activateWindow();
    const QString question =
        m_kind == Kind::New
            ? tr("正在填写的新任务还没有保存。\n保存它吗？")
            : tr("任务“%1”的修改还没有保存。\n保存这些修改吗？").arg(m_originalName);
    switch (m_shell.askToSave(this, question)) {
    case Shell::SaveAnswer::Save:
        submit();
        // Saved: the window closed the dialog. A refusal was said and
        // leaves the dialog open with the text.
        return !isVisible();
    case Shell::SaveAnswer::Discard:
        cancelTry();
        QDialog::reject();
        return true;
    case Shell::SaveAnswer::Cancel:
        break;
    }
    return false;
}

QWidget *TaskDialog::networkTab()
{
    auto *tab = new QWidget(this);
    auto *column = new QVBoxLayout(tab);
    auto *form = new QFormLayout;
    column->addLayout(form);
    column->addStretch();
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    const auto hint = [&](const QString &text) {
        auto *label = new QLabel(text, tab);
        label->setWordWrap(true);
        label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setForegroundRole(QPalette::PlaceholderText);
        form->addRow(QString(), label);
    };
    const auto withBrowse = [&](QLineEdit *field, const QString &name, const QString &caption,
                                const QString &filter) {
        auto *button = new QPushButton(tr("浏览…"), tab);
        button->setObjectName(name);
        connect(button, &QPushButton::clicked, this,
                [this, field, caption, filter] { browse(field, caption, filter); });
        auto *row = new QHBoxLayout;
        row->addWidget(field, 1);
        row->addWidget(button);
        return row;
    };
    auto *intro =
        new QLabel(tr("这些设置保存在任务的 data/settings.ini 里，采集和试采都照此取页面；"
                      "没有改的项用默认值。"),
                   tab);
    intro->setWordWrap(true);
    form->addRow(intro);

    m_retries->setObjectName(u"Retries"_s);
    m_retries->setRange(0, NetworkSettings::MaxRetries);
    form->addRow(tr("重试次数："), m_retries);
    hint(tr("连接失败、超时、内容不完整或 HTTP 408、429、500、502、503、504 时再试几次；"
            "0 表示不重试。"));
    m_connections->setObjectName(u"ConnectionsPerHost"_s);
    m_connections->setRange(1, NetworkSettings::MaxConnectionsPerHost);
    form->addRow(tr("每个网站同时连接数："), m_connections);
    m_minDelay->setObjectName(u"MinDelayMs"_s);
    m_minDelay->setRange(0, NetworkSettings::MaxDelayMs);
    m_minDelay->setSingleStep(100);
    form->addRow(tr("两次请求最短间隔（毫秒）："), m_minDelay);
    hint(tr("对同一个网站的两次请求之间至少等这么久；网站限制访问频率时调大。"));
    m_robots->setObjectName(u"Robots"_s);
    form->addRow(QString(), m_robots);
    hint(tr("勾选后，robots.txt 禁止的页面不取，记入失败列表。"));
    m_userAgent->setObjectName(u"UserAgent"_s);
    m_userAgent->setPlaceholderText(tr("空着时用程序默认的 User-Agent"));
    form->addRow(tr("User-Agent："), m_userAgent);
    m_headers->setObjectName(u"Headers"_s);
    m_headers->setPlaceholderText(tr("每行一个“名称: 值”，例如\nReferer: http://www.example.cn/"));
    m_headers->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_headers->setMaximumHeight(90);
    form->addRow(tr("附加请求头："), m_headers);
    m_cookiesFile->setObjectName(u"CookiesFile"_s);
    form->addRow(tr("cookies 文件："),
                 withBrowse(m_cookiesFile, u"CookiesBrowse"_s, tr("选择 cookies 文件"),
                            tr("cookies.txt (*.txt);;所有文件 (*)")));
    hint(tr(
        "浏览器扩展导出的 cookies.txt，采集需要登录的网站时用。"
        "填相对于任务 data 文件夹的文件名；选了别处的文件，保存任务时复制为 data/cookies.txt。"));
    m_proxy->setObjectName(u"Proxy"_s);
    m_proxy->setPlaceholderText(tr("http://127.0.0.1:3128 或 socks5://用户:密码@主机:端口"));
    form->addRow(tr("代理："), m_proxy);
    hint(tr("空着时按环境变量 http_proxy、https_proxy、all_proxy、no_proxy 走代理。"));
    m_caFile->setObjectName(u"CaFile"_s);
    form->addRow(tr("CA 证书文件："),
                 withBrowse(m_caFile, u"CaBrowse"_s, tr("选择 CA 证书"),
                            tr("证书 (*.pem *.crt *.cer *.der);;所有文件 (*)")));
    hint(tr("内部网站用自己的 CA 签发证书时，在这里指定这个 CA 的证书（PEM 或 DER）；"
            "选了别处的文件，保存任务时复制为 data/ca.crt。"));
    showNetwork(NetworkSettings());
    m_originalNetwork = networkValues();
    return tab;
}

QWidget *TaskDialog::collectingTab()
{
    auto *tab = new QWidget(this);
    m_collectingTab = tab;
    const auto hint = [tab](const QString &text) {
        auto *label = new QLabel(text, tab);
        label->setWordWrap(true);
        label->setForegroundRole(QPalette::PlaceholderText);
        return label;
    };

    auto *again = new QGroupBox(tr("再次采集"), tab);
    m_onlyNew = new QCheckBox(tr("只采新内容"), again);
    m_onlyNew->setObjectName(u"OnlyNew"_s);
    m_onlyNew->setToolTip(tr("接着任务已有的数据库采集：已经采到记录的内容页不再取，"
                             "列表页每次都照常读。"));
    m_stopAfterKnown = new QSpinBox(again);
    m_stopAfterKnown->setObjectName(u"StopAfterKnown"_s);
    m_stopAfterKnown->setRange(0, CollectSettings::MaxStopAfterKnown);
    m_stopAfterKnown->setSpecialValueText(tr("不限"));
    // Only meaningful with onlyNew: without it nothing counts as collected.
    auto *stopRow = new QWidget(again);
    stopRow->setToolTip(tr("只适合把最新内容排在最前面的网站：连续遇到这么多个已采过的链接，"
                           "说明后面都是旧内容。网站不按新旧排列时会漏采新内容。"));
    stopRow->setEnabled(false);
    auto *stopLabel = new QLabel(tr("连续遇到已采过的内容页链接"), stopRow);
    stopLabel->setBuddy(m_stopAfterKnown);
    auto *stopLayout = new QHBoxLayout(stopRow);
    stopLayout->setContentsMargins(QMargins());
    stopLayout->addWidget(stopLabel);
    stopLayout->addWidget(m_stopAfterKnown);
    stopLayout->addWidget(new QLabel(tr("个后不再读后面的列表页（0为不限）"), stopRow));
    stopLayout->addStretch(1);
    connect(m_onlyNew, &QCheckBox::toggled, stopRow, &QWidget::setEnabled);
    auto *againColumn = new QVBoxLayout(again);
    againColumn->addWidget(m_onlyNew);
    againColumn->addWidget(stopRow);
    againColumn->addWidget(hint(tr("不勾选时，每次采集都从头开始，上一次的数据库转入历史记录。")));

    auto *timing = new QGroupBox(tr("定时"), tab);
    m_noSchedule = new QRadioButton(tr("不定时"), timing);
    m_noSchedule->setObjectName(u"NoSchedule"_s);
    m_every = new QRadioButton(tr("每"), timing);
    m_every->setObjectName(u"ScheduleEvery"_s);
    m_daily = new QRadioButton(tr("每天"), timing);
    m_daily->setObjectName(u"ScheduleDaily"_s);
    m_everyCount = new QSpinBox(timing);
    m_everyCount->setObjectName(u"EveryCount"_s);
    m_everyCount->setRange(1, 99999); // what is too long for its unit is refused on saving
    m_everyUnit = new QComboBox(timing);
    m_everyUnit->setObjectName(u"EveryUnit"_s);
    m_everyUnit->addItem(tr("分钟"), u"m"_s);
    m_everyUnit->addItem(tr("小时"), u"h"_s);
    m_everyUnit->addItem(tr("天"), u"d"_s);
    m_dailyTimes = new QLineEdit(timing);
    m_dailyTimes->setObjectName(u"DailyTimes"_s);
    m_dailyTimes->setPlaceholderText(tr("08:00,20:00"));
    m_nextDue = new QLabel(timing);
    m_nextDue->setObjectName(u"NextDue"_s);
    auto *everyRow = new QHBoxLayout;
    everyRow->addWidget(m_everyCount);
    everyRow->addWidget(m_everyUnit);
    everyRow->addStretch(1);
    auto *grid = new QGridLayout(timing);
    grid->addWidget(m_noSchedule, 0, 0);
    grid->addWidget(m_every, 1, 0);
    grid->addLayout(everyRow, 1, 1);
    grid->addWidget(m_daily, 2, 0);
    grid->addWidget(m_dailyTimes, 2, 1);
    grid->addWidget(m_nextDue, 3, 1);
    grid->addWidget(hint(tr("窗口开着时，任务到时间会自动开始采集；窗口不开时，可以在终端运行"
                            "“caiji schedule 任务名”交给系统按时运行（改了定时后再运行一次）。")),
                    4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    connect(m_every, &QRadioButton::toggled, m_everyCount, &QWidget::setEnabled);
    connect(m_every, &QRadioButton::toggled, m_everyUnit, &QWidget::setEnabled);
    connect(m_daily, &QRadioButton::toggled, m_dailyTimes, &QWidget::setEnabled);
    for (QRadioButton *mode : {m_noSchedule, m_every, m_daily})
        connect(mode, &QRadioButton::toggled, this, &TaskDialog::showNextDue);
    connect(m_everyCount, &QSpinBox::valueChanged, this, &TaskDialog::showNextDue);
    connect(m_everyUnit, &QComboBox::currentIndexChanged, this, &TaskDialog::showNextDue);
    connect(m_dailyTimes, &QLineEdit::textChanged, this, &TaskDialog::showNextDue);
    m_everyCount->setEnabled(false);
    m_everyUnit->setEnabled(false);
    m_dailyTimes->setEnabled(false);

    auto *column = new QVBoxLayout(tab);
    column->addWidget(new QLabel(tr("这些设置也保存在任务的 data/settings.ini 里。"), tab));
    column->addWidget(again);
    column->addWidget(timing);
    column->addStretch(1);
    loadCollecting(QString());
    return tab;
}

QWidget *TaskDialog::publishTab()
{
    auto *tab = new QWidget(this);
    m_publishTab = tab;
    m_publishUrl = new QLineEdit(tab);
    m_publishUrl->setObjectName(u"PublishUrl"_s);
    m_publishUrl->setPlaceholderText(tr("postgresql://用户@主机:端口/数据库 或 mysql://…"));
    m_publishTable = new QLineEdit(tab);
    m_publishTable->setObjectName(u"PublishTable"_s);
    // Left empty, the table is named after the task.
    connect(m_text1, &QLineEdit::textChanged, m_publishTable, [this](const QString &name) {
        m_publishTable->setPlaceholderText(TaskFolders::trimBlanks(name));
    });
    auto *test = new QPushButton(tr("测试连接"), tab);
    test->setObjectName(u"TestConnection"_s);
    test->setAutoDefault(false);
    connect(test, &QPushButton::clicked, this, &TaskDialog::testConnection);
    auto *urlRow = new QHBoxLayout;
    urlRow->addWidget(m_publishUrl, 1);
    urlRow->addWidget(test);
    const auto label = [tab](const QString &text, bool hint) {
        auto *shown = new QLabel(text, tab);
        shown->setWordWrap(true);
        if (hint)
            shown->setForegroundRole(QPalette::PlaceholderText);
        return shown;
    };
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->addRow(label(tr("填了数据库地址，采集时存下的记录每隔几秒就发布到这个数据库的数据表中"
                          "（没有这个表时新建）。发布不了的记录仍在本地数据库里，可以用"
                          "“文件→发布到数据库…”或 caiji publish 再发布。这些设置也保存在任务的 "
                          "data/settings.ini 里。"),
                       false));
    form->addRow(tr("数据库地址："), urlRow);
    form->addRow(QString(), label(PublishDialog::passwordHint(), true));
    form->addRow(tr("数据表："), m_publishTable);
    auto *column = new QVBoxLayout(tab);
    column->addLayout(form);
    column->addStretch(1);
    loadPublish(QString());
    return tab;
}

void TaskDialog::setWorkspace(const Workspace &workspace)
{
    m_workspace = workspace;
}

QString TaskDialog::dataDir() const
{
    if (!m_workspace)
        return {};
    // Until an edit is saved, its files are in the folder of the old name.
    const QString name =
        TaskFolders::trimBlanks(m_kind == Kind::Edit ? m_originalName : m_text1->text());
    return name.isEmpty() ? QString() : QFileInfo(m_workspace->taskFile(name)).absolutePath();
}

QString TaskDialog::resolved(const QString &name) const
{
    const QString dir = dataDir();
    if (name.isEmpty() || QDir::isAbsolutePath(name) || dir.isEmpty())
        return name;
    return QDir::cleanPath(QDir(dir).absoluteFilePath(name));
}

QString TaskDialog::storedName(const QString &path) const
{
    const QString dir = dataDir();
    if (!QDir::isAbsolutePath(path) || dir.isEmpty())
        return path;
    const QString relative = QDir(dir).relativeFilePath(path);
    const bool inside =
        relative != u".."_s && !relative.startsWith(u"../"_s) && !QDir::isAbsolutePath(relative);
    return inside ? relative : QDir::cleanPath(path);
}

void TaskDialog::browse(QLineEdit *field, const QString &caption, const QString &filter)
{
    const QString current = resolved(field->text().trimmed());
    QString start = QDir::isAbsolutePath(current) ? QFileInfo(current).absolutePath() : dataDir();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QDir::homePath();
    const QString picked = m_shell.openFileName(this, caption, start, filter);
    if (!picked.isEmpty())
        field->setText(storedName(picked));
}

void TaskDialog::showNetwork(const NetworkSettings &settings)
{
    m_retries->setValue(settings.retries);
    m_connections->setValue(settings.connectionsPerHost);
    m_minDelay->setValue(settings.minDelayMs);
    m_robots->setChecked(settings.robots);
    m_userAgent->setText(settings.userAgent);
    m_headers->setPlainText(settings.headerLines().join(u'\n'));
    m_cookiesFile->setText(settings.cookiesFile);
    m_proxy->setText(settings.proxy);
    m_caFile->setText(settings.caFile);
}

QStringList TaskDialog::networkValues() const
{
    // Blanks alone are no change.
    return {QString::number(m_retries->value()),
            QString::number(m_connections->value()),
            QString::number(m_minDelay->value()),
            QString::number(m_robots->isChecked()),
            m_userAgent->text().trimmed(),
            m_headers->toPlainText().trimmed(),
            m_cookiesFile->text().trimmed(),
            m_proxy->text().trimmed(),
            m_caFile->text().trimmed()};
}

bool TaskDialog::networkChanged() const
{
    return networkValues() != m_originalNetwork;
}

void TaskDialog::showNetworkTab()
{
    m_tabs->setCurrentIndex(1);
}

void TaskDialog::loadNetwork()
{
    const QString dir = dataDir();
    QString error;
    const std::optional<NetworkSettings> read =
        dir.isEmpty() ? NetworkSettings() : NetworkSettings::read(dir, &error);
    // A file the engine would refuse shows its values as written, to be mended.
    const NetworkSettings shown = read ? *read : NetworkSettings::readAsWritten(dir);
    showNetwork(shown);
    if (!shown.unreadHeaders.isEmpty())
        m_headers->setPlainText(shown.unreadHeaders.join(u'\n'));
    m_originalNetwork = networkValues();
    if (!read)
        m_shell.inform(
            this,
            tr("%1 中的网络设置有误：\n%2\n“网络”页中是文件里写的值，改正后保存任务。")
                .arg(QDir::toNativeSeparators(NetworkSettings::fileIn(dir)), labelled(error)));
    loadCollecting(dir);
    loadPublish(dir);
}

std::optional<NetworkSettings> TaskDialog::typedNetwork(QString *error) const
{
    NetworkSettings typed = networkAsTyped();
    if (!typed.setHeaderLines(m_headers->toPlainText().split(u'\n'), error)) {
        *error = labelled(*error);
        return std::nullopt;
    }
    // The engine's own check, so the window and a task start say the same.
    if (const std::optional<QString> wrong = typed.check(dataDir())) {
        *error = labelled(*wrong);
        return std::nullopt;
    }
    typed.cookiesFile = storedName(resolved(typed.cookiesFile));
    typed.caFile = storedName(resolved(typed.caFile));
    return typed;
}

void TaskDialog::showCollecting(const CollectSettings &collect, const ScheduleSettings &schedule)
{
    m_onlyNew->setChecked(collect.onlyNew);
    m_stopAfterKnown->setValue(collect.stopAfterKnown);
    // "6h": the number and the unit of the spin box and the list.
    const QString every = schedule.everyMinutes > 0 ? schedule.everyText() : u"6h"_s;
    m_everyCount->setValue(every.chopped(1).toInt());
    m_everyUnit->setCurrentIndex(m_everyUnit->findData(QString(every.back())));
    m_dailyTimes->setText(schedule.dailyText());
    (schedule.everyMinutes > 0  ? m_every
     : schedule.daily.isEmpty() ? m_noSchedule
                                : m_daily)
        ->setChecked(true);
    showNextDue();
}

void TaskDialog::loadCollecting(const QString &dir)
{
    m_lastRun = dir.isEmpty() ? QDateTime()
                              : RecordStore::lastRunStarted(m_workspace->databaseFile(
                                    TaskFolders::trimBlanks(m_originalName)));
    QString collectError;
    QString scheduleError;
    const std::optional<CollectSettings> collect =
        dir.isEmpty() ? CollectSettings() : CollectSettings::read(dir, &collectError);
    const std::optional<ScheduleSettings> schedule =
        dir.isEmpty() ? ScheduleSettings() : ScheduleSettings::read(dir, &scheduleError);
    showCollecting(collect.value_or(CollectSettings()), schedule.value_or(ScheduleSettings()));
    m_originalCollect = collectValues();
    m_originalSchedule = scheduleValues();
    QStringList errors;
    if (!collect)
        errors << u"[collect] "_s + collectError;
    if (!schedule)
        errors << u"[schedule] "_s + scheduleError;
    // The file is left as written unless the tab is changed: the defaults
    // shown are no mending of it.
    if (!errors.isEmpty())
        m_shell.inform(this, tr("%1 中的采集方式设置有误：\n%2\n“采集方式”页中是默认值；"
                                "在这一页重新设置后保存任务，才会改写这些设置。")
                                 .arg(QDir::toNativeSeparators(NetworkSettings::fileIn(dir)),
                                      errors.join(u'\n')));
}

QStringList TaskDialog::collectValues() const
{
    return {QString::number(m_onlyNew->isChecked()), QString::number(m_stopAfterKnown->value())};
}

QStringList TaskDialog::scheduleValues() const
{
    // What a hidden choice holds is no change.
    if (m_every->isChecked())
        return {u"every"_s, QString::number(m_everyCount->value()),
                m_everyUnit->currentData().toString()};
    if (m_daily->isChecked())
        return {u"daily"_s, m_dailyTimes->text().trimmed()};
    return {};
}

bool TaskDialog::collectingChanged() const
{
    return collectValues() != m_originalCollect || scheduleValues() != m_originalSchedule;
}

CollectSettings TaskDialog::typedCollect() const
{
    CollectSettings typed;
    typed.onlyNew = m_onlyNew->isChecked();
    typed.stopAfterKnown = m_stopAfterKnown->value();
    return typed;
}

std::optional<ScheduleSettings> TaskDialog::typedSchedule(QString *error, QWidget **field) const
{
    ScheduleSettings typed;
    if (m_every->isChecked()) {
        const std::optional<int> minutes = ScheduleSettings::parseEvery(
            QString::number(m_everyCount->value()) + m_everyUnit->currentData().toString());
        if (!minutes) {
            *error = tr("每%1%2：间隔最长366天")
                         .arg(QString::number(m_everyCount->value()), m_everyUnit->currentText());
            *field = m_everyCount;
            return std::nullopt;
        }
        typed.everyMinutes = *minutes;
    } else if (m_daily->isChecked()) {
        const std::optional<QList<QTime>> times =
            ScheduleSettings::parseDaily(m_dailyTimes->text());
        if (!times) {
            *error =
                tr("每天“%1”：时间应写成08:00或08:00,20:00").arg(m_dailyTimes->text().trimmed());
            *field = m_dailyTimes;
            return std::nullopt;
        }
        typed.daily = *times;
    }
    return typed;
}

void TaskDialog::showNextDue()
{
    QString error;
    QWidget *field = nullptr;
    const std::optional<ScheduleSettings> typed = typedSchedule(&error, &field);
    if (!typed) {
        m_nextDue->setText(error);
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const std::optional<QDateTime> due = typed->nextDue(m_lastRun, now);
    if (!due)
        m_nextDue->clear();
    else if (*due <= now)
        m_nextDue->setText(tr("已到时间：窗口开着时会马上开始采集"));
    else
        m_nextDue->setText(tr("下次：%1").arg(due->toString(u"yyyy-MM-dd HH:mm"_s)));
}

void TaskDialog::loadPublish(const QString &dir)
{
    QString error;
    const PublishSettings settings =
        dir.isEmpty() ? PublishSettings() : PublishDialog::settingsAsWritten(dir, &error);
    m_publishUrl->setText(settings.url);
    m_publishTable->setText(settings.table);
    m_originalPublish = publishValues();
    if (!error.isEmpty())
        m_shell.inform(
            this,
            tr("%1 中的发布设置有误：\n%2\n“发布”页中是文件里写的值，改正后保存任务。")
                .arg(QDir::toNativeSeparators(NetworkSettings::fileIn(dir)), labelled(error)));
}

QStringList TaskDialog::publishValues() const
{
    return {m_publishUrl->text().trimmed(), m_publishTable->text().trimmed()};
}

bool TaskDialog::publishChanged() const
{
    return publishValues() != m_originalPublish;
}

PublishSettings TaskDialog::typedPublish() const
{
    return {m_publishUrl->text().trimmed(), m_publishTable->text().trimmed()};
}

void TaskDialog::testConnection()
{
    QString why;
    const std::optional<ServerAddress> address = ServerAddress::parse(m_publishUrl->text(), &why);
    if (!address) {
        m_shell.inform(this, tr("数据库地址有误：\n%1").arg(why));
        return;
    }
    bool opened = false;
    m_shell.runBusy(this, tr("正在连接 %1 …").arg(address->display()), [&] {
        ServerConnection connection(*address);
        opened = connection.open();
        why = connection.lastError();
    });
    m_shell.inform(this, opened ? tr("连接成功：%1").arg(address->display())
                                : tr("无法连接 %1：\n%2").arg(address->display(), why));
}

QString TaskDialog::dataDirOf(const QString &name) const
{
    return QFileInfo(m_workspace->taskFile(TaskFolders::trimBlanks(name))).absolutePath();
}

void TaskDialog::submit()
{
    // Checked before the task is saved, so a bad value saves nothing.
    // Every problem is said at once, each with its page; the first is shown.
    QStringList problems;
    QWidget *first = nullptr;
    const auto found = [&](const QString &page, const QStringList &what, QWidget *field) {
        for (const QString &problem : what)
            problems << tr("%1页：%2").arg(page, problem);
        if (!first && !what.isEmpty())
            first = field;
    };
    QString error;
    QWidget *field = nullptr;
    if (networkChanged()) {
        const QStringList wrong = networkProblems(&field);
        found(tr("网络"), wrong, field ? field : m_retries);
    }
    const std::optional<ScheduleSettings> schedule = typedSchedule(&error, &field);
    if (!schedule)
        found(tr("采集方式"), {error}, field);
    const bool publishEdited = publishChanged();
    const PublishSettings publish = typedPublish();
    if (publishEdited && publish.isOn() && !ServerAddress::parse(publish.url, &error))
        found(tr("发布"), {error}, m_publishUrl);
    if (!problems.isEmpty()) {
        for (int i = 0; i < m_tabs->count(); ++i) {
            if (m_tabs->widget(i)->isAncestorOf(first))
                m_tabs->setCurrentIndex(i);
        }
        first->setFocus();
        m_shell.inform(this, tr("设置有误，任务没有保存：\n%1").arg(problems.join(u'\n')));
        return;
    }
    const bool collectChanged = collectValues() != m_originalCollect;
    const bool scheduleChanged = scheduleValues() != m_originalSchedule;
    const CollectSettings collect = typedCollect();
    const QString name = m_text1->text();
    setResult(Rejected);
    Q_EMIT submitted();
    // The window accepts the dialog once the task (and its folder) is saved,
    // and empties a new task's dialog then: the values were taken before.
    if (result() != Accepted || !m_workspace ||
        (!collectChanged && !scheduleChanged && !publishEdited))
        return;
    const QString dir = dataDirOf(name);
    QStringList unwritten;
    if ((collectChanged && !collect.write(dir)) || (scheduleChanged && !schedule->write(dir)))
        unwritten << tr("采集方式");
    if (publishEdited && !publish.write(dir))
        unwritten << tr("发布");
    if (!unwritten.isEmpty())
        m_shell.inform(
            isVisible() ? this : parentWidget(),
            tr("任务已保存，但“%1”页的设置没有写入 %2。请检查这个文件，再编辑任务重新设置。")
                .arg(unwritten.join(tr("”和“")),
                     QDir::toNativeSeparators(NetworkSettings::fileIn(dir))));
}

void TaskDialog::updateTryLinks()
{
    // Only a crawl has list pages whose links could be tried: scheme two, or
    // a scheme that is no number (it runs both).
    TaskDefinition task;
    readTaskDefinition(m_text2->toPlainText(), task);
    const std::optional<double> scheme = readAsNumber(task.schemeField.value(0));
    const bool crawls = !task.schemeField.isEmpty() && (!scheme || *scheme == 2);
    m_tryLinks->setEnabled(crawls && !m_trying);
    m_tryLinks->setToolTip(
        crawls ? tr("方案二：列出试采网址（空着就是起始页）上的每个链接，"
                    "说明它作为内容页、列表页是收下还是被哪一部分挡住")
               : tr("只有方案二（ur=[[2|…]]）的任务从列表页找链接；这个任务是按编号生成地址的，"
                    "没有链接可试"));
}

QString TaskDialog::firstAddress(const QString &definition)
{
    TaskDefinition task;
    readTaskDefinition(definition, task);
    const QStringList &field = task.schemeField;
    if (field.isEmpty())
        return {};
    // A scheme that is not a number runs both schemes, scheme one first.
    const std::optional<double> scheme = readAsNumber(field.first());
    if (scheme && *scheme == 2)
        return field.value(1).trimmed();
    if (scheme && *scheme != 1)
        return {};
    const std::optional<double> first = readAsNumber(field.value(2));
    const std::optional<double> last = readAsNumber(field.value(3));
    const std::optional<double> step = readAsNumber(field.value(4));
    if (!first || !last || !step)
        return field.value(1) + field.value(5);
    if (*step == 0 || (*step > 0 ? *first > *last : *first < *last))
        return {};
    // Written as the collection writes the numbers of the range.
    const double shown = QString::number(*first, 'g', 15).toDouble();
    return field.value(1) + QString::number(shown, 'f', QLocale::FloatingPointShortest) +
           field.value(5);
}

void TaskDialog::tryPage()
{
    if (m_tryUrl->text().trimmed().isEmpty())
        m_tryUrl->setText(firstAddress(m_text2->toPlainText()));
    const QString url = m_tryUrl->text().trimmed();
    if (url.isEmpty()) {
        m_tryResult->setPlainText(tr("请先填写试采网址。"));
        return;
    }
    // The tab's values as they are now, saved or not.
    QString error;
    const std::optional<NetworkSettings> network = typedNetwork(&error);
    if (!network) {
        m_tryResult->setHtml(explanationHtml(tr("需要修改：网络设置 %1").arg(error)));
        Q_EMIT tried();
        return;
    }
    m_tryFetcher->startRun(*network);
    m_trying = true;
    updateTryLinks();
    m_tryButton->setText(tr("取消试采"));
    m_tryResult->setPlainText(tr("正在取页面 %1 …").arg(url));
    m_tryFetcher->fetch(1, url, m_tryDir.filePath(u"page .txt"_s), QString(), QString());
}

void TaskDialog::cancelTry()
{
    if (!m_trying)
        return;
    m_tryFetcher->abandonAll();
    m_trying = false;
    updateTryLinks();
    m_tryButton->setText(tr("试采"));
    m_tryResult->setPlainText(tr("试采已取消。"));
}

void TaskDialog::showTried(const QString &url, const QString &fetch, qint64 count,
                           const QByteArray &body, const QByteArray &charset)
{
    if (!m_trying)
        return; // cancelled, or a completion that outlived its try
    m_trying = false;
    updateTryLinks();
    m_tryButton->setText(tr("试采"));
    if (count < 0 && fetch.endsWith(u"超时"_s)) {
        // A slow site is no fault of the definition.
        m_tryResult->setPlainText(tr("取不到页面 %1（%2）：网站没有在限定时间内回应，"
                                     "这不是任务内容的问题，可以稍后再试。")
                                      .arg(url, fetch));
    } else if (count < 0) {
        m_tryResult->setHtml(explanationHtml(tr("需要修改：取不到页面 %1（%2）").arg(url, fetch)));
    } else {
        const QByteArray bytes = Fetcher::pageBytes(m_tryDir.filePath(u"page .txt"_s), count, body);
        const QString text = m_text2->toPlainText();
        m_tryResult->setHtml(explanationHtml(
            m_linksMode ? linksText(explainLinks(text, bytes, url, charset))
                        : explanationText(
                              explainPage(text, bytes, url, m_tryLevel->value(), fetch, charset))));
    }
    Q_EMIT tried();
}

void TaskDialog::openOn(const QString &name, int index, const QString &content)
{
    cancelTry();
    // The page to try is the task's own, not the one tried on another task.
    m_tryUrl->setText(firstAddress(content));
    m_tryResult->clear();
    m_text1->setText(name);
    m_originalName = name;
    m_ta = index;
    m_text2->setPlainText(content);
    m_originalContent = content;
    m_tabs->setCurrentIndex(0);
}

void TaskDialog::clearInput()
{
    cancelTry();
    m_tryUrl->clear();
    m_tryResult->clear();
    m_text1->clear();
    m_text2->clear();
    showNetwork(NetworkSettings());
    m_originalNetwork = networkValues();
    loadCollecting(QString());
    loadPublish(QString());
    m_tabs->setCurrentIndex(0);
}

bool TaskDialog::hasTypedText() const
{
    if (networkChanged() || collectingChanged() || publishChanged())
        return true;
    if (m_kind == Kind::New)
        return !m_text1->text().trimmed().isEmpty() || !m_text2->toPlainText().trimmed().isEmpty();
    return m_text1->text() != m_originalName || m_text2->toPlainText() != m_originalContent;
}

void TaskDialog::reject()
{
    const QString question =
        m_kind == Kind::New ? tr("放弃正在填写的新任务吗？")
                            : tr("任务“%1”的修改还没有保存，放弃这些修改吗？").arg(m_originalName);
    if (hasTypedText() && !m_shell.confirm(this, question))
        return;
    cancelTry();
    QDialog::reject();
}

} // namespace caiji
