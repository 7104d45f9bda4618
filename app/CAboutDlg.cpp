#include "app/CAboutDlg.h"

#include "res/Icons.h"
#include "res/Resource.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("About KelmDesk"));
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::window(Res::MainFrame).pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Norvex KELM Manager"), this);
    text->setTextFormat(Qt::PlainText);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("ok1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addSpacing(12);
    row->addWidget(text, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    setLayout(row);
    setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}
