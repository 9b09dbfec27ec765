#include "gui/publishdialog.h"

#include "gui/shell.h"
#include "tasks/networksettings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace caiji {

PublishDialog::PublishDialog(Shell &shell, QWidget *parent)
    : QDialog(parent), m_shell(shell), m_what(new QLabel(this)), m_url(new QLineEdit(this)),
      m_table(new QLineEdit(this)), m_publish(new QPushButton(tr("发布"), this))
{
    setObjectName(u"PublishDialog"_s);
    setWindowTitle(tr("发布到数据库"));
    setWindowModality(Qt::WindowModal);
    m_what->setWordWrap(true);
    m_url->setObjectName(u"PublishUrl"_s);
    m_url->setPlaceholderText(tr("postgresql://用户@主机:端口/数据库 或 mysql://…"));
    m_table->setObjectName(u"PublishTable"_s);
    m_publish->setObjectName(u"PublishButton"_s);
    auto *hint = new QLabel(passwordHint() + u' ' +
                                tr("已经发布过的记录不会重复添加；在记录浏览中修改、删除过的，"
                                   "发布后服务器上也随之修改、删除。"),
                            this);
    hint->setWordWrap(true);
    hint->setForegroundRole(QPalette::PlaceholderText);
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->addRow(tr("数据库地址："), m_url);
    form->addRow(tr("数据表："), m_table);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(m_publish, QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &PublishDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *column = new QVBoxLayout(this);
    column->addWidget(m_what);
    column->addLayout(form);
    column->addWidget(hint);
    column->addWidget(buttons);
    resize(560, sizeHint().height());
}

QString PublishDialog::passwordHint()
{
    return tr("密码最好不写在地址里（它会以明文存进 settings.ini），而是放在 ~/.pgpass、"
              "环境变量 PGPASSWORD（PostgreSQL）或 MYSQL_PWD（MySQL）中。");
}

PublishSettings PublishDialog::settingsAsWritten(const QString &dataDir, QString *error)
{
    if (const std::optional<PublishSettings> read = PublishSettings::read(dataDir, error))
        return *read;
    QSettings file(NetworkSettings::fileIn(dataDir), QSettings::IniFormat);
    file.beginGroup(u"publish"_s);
    PublishSettings written;
    written.url = file.value(u"url"_s).toString().trimmed();
    written.table = file.value(u"table"_s).toString().trimmed();
    return written;
}

void PublishDialog::ask(const QString &what, const QString &task, const PublishSettings &settings)
{
    m_task = task;
    m_what->setText(tr("把%1发布到 PostgreSQL 或 MySQL 数据库：").arg(what));
    m_url->setText(settings.url);
    m_table->setText(settings.tableFor(task));
    m_table->setPlaceholderText(task);
    m_publish->setDefault(true);
    m_url->setFocus();
    open();
}

QString PublishDialog::table() const
{
    const QString typed = m_table->text().trimmed();
    return typed.isEmpty() ? m_task : typed;
}

void PublishDialog::submit()
{
    QString why;
    const std::optional<ServerAddress> address = ServerAddress::parse(m_url->text(), &why);
    if (!address) {
        m_url->setFocus();
        m_shell.inform(this, tr("数据库地址有误：\n%1").arg(why));
        return;
    }
    m_address = *address;
    accept();
}

} // namespace caiji
