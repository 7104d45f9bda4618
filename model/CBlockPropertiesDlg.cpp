#include "model/CBlockPropertiesDlg.h"

#include "kernel/KernelConnection.h"
#include "model/ModelQueries.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
enum Column { TagColumn = 0, TypeColumn = 1, ValueColumn = 2 };
} // namespace

CBlockPropertiesDlg::CBlockPropertiesDlg(const QString& block, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Properties of %1").arg(block));
    auto* heading = new QLabel(tr("Tags of block %1 and their values:").arg(block), this);
    heading->setTextFormat(Qt::PlainText);
    m_list = new QTreeWidget(this);
    m_list->setObjectName("tagValues");
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setHeaderLabels({tr("Tag"), tr("Type"), tr("Value")});
    m_list->setColumnWidth(TagColumn, 110);
    m_list->setColumnWidth(TypeColumn, 90);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName("close");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(460, 360);
    readTags(block);
}

void CBlockPropertiesDlg::readTags(const QString& block)
{
    const int handle = GetKernelHandle();
    bool answering = true;
    for (const QString& tag : QueryTags(handle, block, QString(), 0)) {
        if (tag == QLatin1String("no match"))
            continue;
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(TagColumn, tag);
        const QString variable = block + QLatin1Char(':') + tag;
        // A kernel that does not answer reads would hold each row up for the whole wait.
        const VariableReading reading = answering ? readVariable(handle, variable) : VariableReading();
        if (reading.ok) {
            item->setText(TypeColumn, tagTypeName(reading.type));
            item->setText(ValueColumn, reading.value);
            continue;
        }
        answering = answering && !reading.error.isEmpty();
        const Inspection inspection = answering ? InspectVariable(handle, variable) : Inspection();
        if (inspection.ok)
            item->setText(TypeColumn, tagTypeName(inspection.type));
        if (inspection.type != kPropertySetType)
            item->setText(ValueColumn, reading.error.isEmpty() ? tr("(no value)") : tr("(%1)").arg(reading.error));
    }
}
