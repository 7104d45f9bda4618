#include "model/CModelVariableDlg.h"

#include "framework/Modal.h"
#include "kernel/KernelConnection.h"
#include "model/CBlockPropertiesDlg.h"
#include "model/ModelQueries.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLabel* label(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setBuddy(buddy);
    return l;
}

QListWidget* listBox(const char* name, QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Every row has one line of text: no need to measure each of thousands of names.
    list->setUniformItemSizes(true);
    list->setMinimumSize(200, 220);
    return list;
}

} // namespace

CModelVariableDlg::CModelVariableDlg(QWidget* parent) : QDialog(parent), m_browser([] { return GetKernelHandle(); })
{
    setWindowTitle(tr("Insert Model Variable"));

    m_blockList = listBox("blocks1003", this);
    auto* blockFilterGroup = new QGroupBox(tr("Block name filter"), this);
    m_blockFilter = new QLineEdit(blockFilterGroup);
    m_blockFilter->setObjectName("blockFilter1004");
    m_blockType = new QComboBox(blockFilterGroup);
    m_blockType->setObjectName("blockType1005");
    auto* blockFilterForm = new QFormLayout(blockFilterGroup);
    blockFilterForm->addRow(label(tr("Name:"), m_blockFilter, blockFilterGroup), m_blockFilter);
    blockFilterForm->addRow(label(tr("Type:"), m_blockType, blockFilterGroup), m_blockType);

    auto* sortGroup = new QGroupBox(tr("Sort by"), this);
    m_sortByName = new QRadioButton(tr("Name"), sortGroup);
    m_sortByName->setObjectName("sortName1006");
    m_sortByExecution = new QRadioButton(tr("Execution"), sortGroup);
    m_sortByExecution->setObjectName("sortExecution1007");
    auto* sortRow = new QHBoxLayout(sortGroup);
    sortRow->addWidget(m_sortByName);
    sortRow->addWidget(m_sortByExecution);
    sortRow->addStretch(1);

    m_propertiesButton = new QPushButton(tr("Properties..."), this);
    m_propertiesButton->setObjectName("properties1008");
    m_refreshButton = new QPushButton(tr("Refresh"), this);
    m_refreshButton->setObjectName("refresh1009");
    for (QPushButton* b : {m_propertiesButton, m_refreshButton})
        b->setAutoDefault(false); // Enter keeps going to OK
    auto* blockButtons = new QHBoxLayout;
    blockButtons->addWidget(m_propertiesButton);
    blockButtons->addWidget(m_refreshButton);
    blockButtons->addStretch(1);

    auto* blockColumn = new QVBoxLayout;
    blockColumn->addWidget(label(tr("Block name:"), m_blockList, this));
    blockColumn->addWidget(m_blockList, 1);
    blockColumn->addWidget(blockFilterGroup);
    blockColumn->addWidget(sortGroup);
    blockColumn->addLayout(blockButtons);

    m_tagList = listBox("tags1010", this);
    auto* tagFilterGroup = new QGroupBox(tr("Tag name filter"), this);
    tagFilterGroup->setObjectName("tagFilterGroup1011");
    m_tagFilter = new QLineEdit(tagFilterGroup);
    m_tagFilter->setObjectName("tagFilter1012");
    m_tagType = new QComboBox(tagFilterGroup);
    m_tagType->setObjectName("tagType1013");
    auto* tagFilterForm = new QFormLayout(tagFilterGroup);
    tagFilterForm->addRow(label(tr("Name:"), m_tagFilter, tagFilterGroup), m_tagFilter);
    tagFilterForm->addRow(label(tr("Type:"), m_tagType, tagFilterGroup), m_tagType);

    auto* tagColumn = new QVBoxLayout;
    tagColumn->addWidget(label(tr("Tag name:"), m_tagList, this));
    tagColumn->addWidget(m_tagList, 1);
    tagColumn->addWidget(tagFilterGroup);
    tagColumn->addStretch(0);

    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName("name1014");
    m_nameEdit->setReadOnly(true);
    m_okButton = new QPushButton(tr("OK"), this);
    m_okButton->setObjectName("ok1");
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setObjectName("cancel2");

    auto* columns = new QHBoxLayout;
    columns->addLayout(blockColumn, 1);
    columns->addLayout(tagColumn, 1);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_nameEdit, 1);
    nameRow->addWidget(m_okButton);
    nameRow->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addWidget(label(tr("Model variable name:"), m_nameEdit, this));
    layout->addLayout(nameRow);

    connect(m_blockList, &QListWidget::itemSelectionChanged, this, &CModelVariableDlg::onBlockSelected);
    connect(m_tagList, &QListWidget::itemSelectionChanged, this, &CModelVariableDlg::onTagSelected);
    // An item that selects nothing ("no match") does nothing on a double click either.
    connect(m_blockList, &QListWidget::itemDoubleClicked, this, [this] {
        if (onBlockSelected())
            OnOK();
    });
    connect(m_tagList, &QListWidget::itemDoubleClicked, this, [this] {
        if (onTagSelected())
            OnOK();
    });
    connect(m_sortByName, &QRadioButton::clicked, this, &CModelVariableDlg::queryBlocks);
    connect(m_sortByExecution, &QRadioButton::clicked, this, &CModelVariableDlg::queryBlocks);
    connect(m_refreshButton, &QPushButton::clicked, this, &CModelVariableDlg::onRefresh);
    connect(m_propertiesButton, &QPushButton::clicked, this, &CModelVariableDlg::onProperties);
    connect(m_okButton, &QPushButton::clicked, this, &CModelVariableDlg::OnOK);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void CModelVariableDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CModelVariableDlg::OnInitDialog()
{
    m_nameEdit->setText(name);
    m_propertiesButton->setEnabled(false);
    m_okButton->setEnabled(false);
    m_sortByName->setChecked(true);
    m_blockFilter->setText(QStringLiteral("*"));
    m_tagFilter->setText(QStringLiteral("*"));
    m_blockType->addItem(QStringLiteral("Any"));
    m_blockType->addItems(QueryBlockTypes(GetKernelHandle()));
    m_blockType->setCurrentIndex(0);
    m_tagType->addItems(tagTypeLabels());
    m_tagType->setCurrentIndex(0);
    queryBlocks();
}

void CModelVariableDlg::fill(QListWidget* list, const QStringList& items)
{
    const bool wasFilling = m_filling;
    m_filling = true;
    list->clear();
    list->addItems(items);
    m_filling = wasFilling;
}

int CModelVariableDlg::tagTypeRow() const
{
    return m_tagType->currentIndex();
}

void CModelVariableDlg::queryBlocks()
{
    fill(m_blockList,
         QueryBlocks(GetKernelHandle(), m_blockFilter->text(), m_blockType->currentText(), m_sortByName->isChecked()));
}

bool CModelVariableDlg::onBlockSelected()
{
    const QList<QListWidgetItem*> selected = m_blockList->selectedItems();
    if (m_filling || selected.isEmpty())
        return false;
    const std::optional<QStringList> tags =
        m_browser.SelectBlock(selected.front()->text(), m_tagFilter->text(), tagTypeRow(), [this](const QString& n) {
            m_nameEdit->setText(n);
            m_propertiesButton->setEnabled(true);
            m_okButton->setEnabled(true);
        });
    if (!tags)
        return false;
    fill(m_tagList, *tags);
    return true;
}

bool CModelVariableDlg::onTagSelected()
{
    const QList<QListWidgetItem*> selected = m_tagList->selectedItems();
    if (m_filling || selected.isEmpty())
        return false;
    QListWidgetItem* item = selected.front();
    const CModelBrowser::ItemResult result =
        m_browser.SelectItem(m_tagList->row(item), item->text(), [this](const QString& n) { m_nameEdit->setText(n); });
    if (result.list)
        fill(m_tagList, *result.list);
    return result.taken;
}

void CModelVariableDlg::onRefresh()
{
    queryBlocks();
    // The selected block's tags, not those of a name composed below it, which has none.
    if (std::optional<QStringList> tags = m_browser.refreshTags(m_tagFilter->text(), tagTypeRow()))
        fill(m_tagList, *tags);
}

void CModelVariableDlg::onProperties()
{
    if (m_browser.block().isEmpty())
        return;
    CBlockPropertiesDlg dlg(m_browser.block(), this);
    Modal::run(dlg);
}

void CModelVariableDlg::OnOK()
{
    // Without a block selected there is no name to return.
    if (!m_okButton->isEnabled())
        return;
    name = m_nameEdit->text();
    accept();
}
