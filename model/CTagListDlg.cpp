#include "model/CTagListDlg.h"

#include "framework/MessageBox.h"
#include "model/TagListFile.h"

#include <QDir>
#include <QHeaderView>
#include <QTreeWidget>

namespace {
enum Column { TagColumn = 0, DescriptionColumn = 1, KernelTagColumn = 2 };
} // namespace

CTagListDlg::CTagListDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Tag List"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName("list");
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setHeaderLabels({tr("Tag"), tr("Description"), tr(" Kernel Tag")});
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->header()->setStretchLastSection(false);
    m_list->setColumnWidth(TagColumn, 100);
    m_list->setColumnWidth(DescriptionColumn, 300);
    m_list->setColumnWidth(KernelTagColumn, 100);
    // Only a row hit by the double click has a kernel tag to return; elsewhere nothing happens.
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        result = item->text(KernelTagColumn);
        accept();
    });
    resize(540, 320);
}

void CTagListDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CTagListDlg::OnInitDialog()
{
    m_list->setGeometry(rect());
    QString reason;
    const std::optional<std::vector<TagListRow>> rows = readTagListFile(filePath, &reason);
    if (!rows) {
        QString text = tr("Cannot open ") + QDir::toNativeSeparators(filePath);
        if (!reason.isEmpty())
            text += QLatin1Char('\n') + reason;
        KMessageBox::show(text, KMessageBox::Icon::None, QMessageBox::Ok, this);
    } else {
        QList<QTreeWidgetItem*> items;
        items.reserve(qsizetype(rows->size()));
        for (const TagListRow& row : *rows) {
            auto* item = new QTreeWidgetItem;
            item->setText(TagColumn, row.tag);
            item->setText(KernelTagColumn, row.kernelTag);
            item->setText(DescriptionColumn, row.description);
            items.append(item);
        }
        m_list->addTopLevelItems(items);
    }
    ready = true;
}

void CTagListDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (ready)
        m_list->setGeometry(rect());
}
