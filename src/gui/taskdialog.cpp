#include "gui/taskdialog.h"

#include "engine/networkfetcher.h"
#include "engine/pageexplainer.h"
#include "gui/shell.h"
#include "tasks/taskfile.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>

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
      m_tryUrl(new QLineEdit(this)), m_tryLevel(new QSpinBox(this)),
      m_tryButton(new QPushButton(tr("试采"), this)), m_tryResult(new QTextBrowser(this)),
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

    m_tryUrl->setObjectName(u"TryUrl"_s);
    m_tryUrl->setPlaceholderText(tr("试采网址，例如 http://127.0.0.1:8391/news/3.html"));
    m_tryLevel->setObjectName(u"TryLevel"_s);
    m_tryLevel->setRange(1, MaxLevel);
    m_tryLevel->setPrefix(tr("第"));
    m_tryLevel->setSuffix(tr("层"));
    m_tryButton->setObjectName(u"TryButton"_s);
    m_tryResult->setObjectName(u"TryResult"_s);
    m_tryResult->setPlaceholderText(
        tr("填写网址后按“试采”：按上面正在编辑的任务内容（不必先保存）截取这一页，"
           "逐个字段说明截到了什么；空的字段会标红并写明原因。"));
    m_tryFetcher->setPagesInMemory(true);
    m_tryFetcher->setAllowedDirectories({m_tryDir.path()});

    auto *tryRow = new QHBoxLayout;
    tryRow->addWidget(m_tryUrl, 1);
    tryRow->addWidget(m_tryLevel);
    tryRow->addWidget(m_tryButton);

    auto *layout = new QGridLayout(this);
    layout->addWidget(label1, 0, 0);
    layout->addWidget(m_text1, 0, 1);
    layout->addWidget(label2, 1, 0, Qt::AlignTop);
    layout->addWidget(m_text2, 1, 1);
    layout->addWidget(m_command1, 2, 1, Qt::AlignRight);
    layout->addWidget(new QLabel(tr("试采："), this), 3, 0);
    layout->addLayout(tryRow, 3, 1);
    layout->addWidget(m_tryResult, 4, 1);
    layout->setRowStretch(1, 3);
    layout->setRowStretch(4, 2);
    resize(760, 720);
    connect(m_command1, &QPushButton::clicked, this, &TaskDialog::submitted);
    connect(m_tryButton, &QPushButton::clicked, this, &TaskDialog::tryPage);
    connect(m_tryUrl, &QLineEdit::returnPressed, this, &TaskDialog::tryPage);
    connect(m_tryFetcher.get(), &Fetcher::fetchDone, this,
            [this](int, const QString &url, const QString &, const QString &text, qint64 count,
                   const QString &, const QString &, const QByteArray &body,
                   const QByteArray &charset) { showTried(url, text, count, body, charset); });
}

TaskDialog::~TaskDialog() = default;

void TaskDialog::tryPage()
{
    const QString url = m_tryUrl->text().trimmed();
    if (url.isEmpty()) {
        m_tryResult->setPlainText(tr("请先填写试采网址。"));
        return;
    }
    m_tryButton->setEnabled(false);
    m_tryResult->setPlainText(tr("正在取页面 %1 …").arg(url));
    m_tryFetcher->fetch(1, url, m_tryDir.filePath(u"page .txt"_s), QString(), QString());
}

void TaskDialog::showTried(const QString &url, const QString &fetch, qint64 count,
                           const QByteArray &body, const QByteArray &charset)
{
    m_tryButton->setEnabled(true);
    if (count < 0) {
        m_tryResult->setHtml(explanationHtml(tr("需要修改：取不到页面 %1（%2）").arg(url, fetch)));
    } else {
        const QByteArray bytes = Fetcher::pageBytes(m_tryDir.filePath(u"page .txt"_s), count, body);
        const PageTrace trace =
            explainPage(m_text2->toPlainText(), bytes, url, m_tryLevel->value(), fetch, charset);
        m_tryResult->setHtml(explanationHtml(explanationText(trace)));
    }
    Q_EMIT tried();
}

void TaskDialog::openOn(const QString &name, int index, const QString &content)
{
    m_text1->setText(name);
    m_originalName = name;
    m_ta = index;
    m_text2->setPlainText(content);
    m_originalContent = content;
}

void TaskDialog::clearInput()
{
    m_text1->clear();
    m_text2->clear();
}

bool TaskDialog::hasTypedText() const
{
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
    QDialog::reject();
}

} // namespace caiji
