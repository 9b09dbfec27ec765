#include "gui/taskdialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace caiji {

TaskDialog::TaskDialog(Kind kind, QWidget *parent)
    : QDialog(parent), m_kind(kind), m_text1(new QLineEdit(this)),
      m_text2(new QPlainTextEdit(this)), m_command1(new QPushButton(this))
{
    const bool isNew = kind == Kind::New;
    setObjectName(isNew ? u"Form2"_s : u"Form3"_s);
    setWindowTitle(isNew ? u"新建任务"_s : u"编辑任务"_s);
    setModal(false);
    auto *label1 = new QLabel(u"任务名称："_s, this);
    label1->setObjectName(u"Label1"_s);
    auto *label2 = new QLabel(u"任务内容："_s, this);
    label2->setObjectName(u"Label2"_s);
    m_text1->setObjectName(u"Text1"_s);
    m_text2->setObjectName(u"Text2"_s);
    m_text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_text2->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_command1->setObjectName(u"Command1"_s);
    m_command1->setText(isNew ? u"新建任务"_s : u"编辑任务"_s);

    auto *layout = new QGridLayout(this);
    layout->addWidget(label1, 0, 0);
    layout->addWidget(m_text1, 0, 1);
    layout->addWidget(label2, 1, 0, Qt::AlignTop);
    layout->addWidget(m_text2, 1, 1);
    layout->addWidget(m_command1, 2, 1, Qt::AlignRight);
    resize(720, 520);
    connect(m_command1, &QPushButton::clicked, this, &TaskDialog::submitted);
}

void TaskDialog::openOn(const QString &name, int index, const QString &content)
{
    m_text1->setText(name);
    m_originalName = name;
    m_ta = index;
    m_text2->setPlainText(content);
}

} // namespace caiji
