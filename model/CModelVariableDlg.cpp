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
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <functional>

namespace {

QLabel* label(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setBuddy(buddy);
    return l;
}

// A list box whose own selection may replace its items. Qt delivers a double click as press,
// release and double-click press; when the first press's selection replaced the items, the
// double-click press would fall on whatever now lies under the pointer and select it. Such a double
// click goes to replacedItemDoubleClicked instead: the item double-clicked is the one that press
// selected, and its selection has been handled.
class ReplacingList : public QListWidget
{
public:
    explicit ReplacingList(QWidget* parent) : QListWidget(parent)
    {
        const auto noteChange = [this] { m_replacedByPress = m_replacedByPress || m_pressing; };
        m_watch[0] = connect(model(), &QAbstractItemModel::modelReset, this, noteChange);
        m_watch[1] = connect(model(), &QAbstractItemModel::rowsRemoved, this, noteChange);
        m_watch[2] = connect(model(), &QAbstractItemModel::rowsInserted, this, noteChange);
    }

    // QListWidget's destructor clears the model, which would call noteChange on a list whose own
    // members are already gone.
    ~ReplacingList() override
    {
        for (const QMetaObject::Connection& c : m_watch)
            disconnect(c);
    }

    std::function<void()> replacedItemDoubleClicked;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        m_replacedByPress = false;
        m_pressing = true;
        QListWidget::mousePressEvent(event);
        m_pressing = false;
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (!m_replacedByPress) {
            QListWidget::mouseDoubleClickEvent(event);
            return;
        }
        m_replacedByPress = false;
        event->accept();
        if (replacedItemDoubleClicked)
            replacedItemDoubleClicked();
    }

private:
    QMetaObject::Connection m_watch[3];
    bool m_pressing = false;
    bool m_replacedByPress = false;
};

template <typename List = QListWidget> List* listBox(const char* name, QWidget* parent)
{
    auto* list = new List(parent);
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

    QLayout* blockColumn = createBlockColumn();
    QLayout* tagColumn = createTagColumn();
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName("name");
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
    connectControls();
}

QLayout* CModelVariableDlg::createBlockColumn()
{
    m_blockList = listBox("blocks", this);
    auto* blockFilterGroup = new QGroupBox(tr("Block name filter"), this);
    m_blockFilter = new QLineEdit(blockFilterGroup);
    m_blockFilter->setObjectName("blockFilter");
    m_blockType = new QComboBox(blockFilterGroup);
    m_blockType->setObjectName("blockType");
    auto* blockFilterForm = new QFormLayout(blockFilterGroup);
    blockFilterForm->addRow(label(tr("Name:"), m_blockFilter, blockFilterGroup), m_blockFilter);
    blockFilterForm->addRow(label(tr("Type:"), m_blockType, blockFilterGroup), m_blockType);

    auto* sortGroup = new QGroupBox(tr("Sort by"), this);
    m_sortByName = new QRadioButton(tr("Name"), sortGroup);
    m_sortByName->setObjectName("sortName");
    m_sortByExecution = new QRadioButton(tr("Execution"), sortGroup);
    m_sortByExecution->setObjectName("sortExecution");
    auto* sortRow = new QHBoxLayout(sortGroup);
    sortRow->addWidget(m_sortByName);
    sortRow->addWidget(m_sortByExecution);
    sortRow->addStretch(1);

    m_propertiesButton = new QPushButton(tr("Properties..."), this);
    m_propertiesButton->setObjectName("properties");
    m_refreshButton = new QPushButton(tr("Refresh"), this);
    m_refreshButton->setObjectName("refresh");
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
    return blockColumn;
}

QLayout* CModelVariableDlg::createTagColumn()
{
    auto* tagList = listBox<ReplacingList>("tags", this);
    tagList->replacedItemDoubleClicked = [this] { OnOK(); };
    m_tagList = tagList;
    auto* tagFilterGroup = new QGroupBox(tr("Tag name filter"), this);
    tagFilterGroup->setObjectName("tagFilterGroup");
    m_tagFilter = new QLineEdit(tagFilterGroup);
    m_tagFilter->setObjectName("tagFilter");
    m_tagType = new QComboBox(tagFilterGroup);
    m_tagType->setObjectName("tagType");
    auto* tagFilterForm = new QFormLayout(tagFilterGroup);
    tagFilterForm->addRow(label(tr("Name:"), m_tagFilter, tagFilterGroup), m_tagFilter);
    tagFilterForm->addRow(label(tr("Type:"), m_tagType, tagFilterGroup), m_tagType);

    auto* tagColumn = new QVBoxLayout;
    tagColumn->addWidget(label(tr("Tag name:"), m_tagList, this));
    tagColumn->addWidget(m_tagList, 1);
    tagColumn->addWidget(tagFilterGroup);
    tagColumn->addStretch(0);
    return tagColumn;
}

void CModelVariableDlg::connectControls()
{
    connect(m_blockList, &QListWidget::itemSelectionChanged, this, [this] { selectBlock(selectedItem(m_blockList)); });
    connect(m_tagList, &QListWidget::itemSelectionChanged, this, [this] { selectTag(selectedItem(m_tagList)); });
    // The press of a double click has selected the item already; selecting it again would compose
    // anew from a browse state that selection may have changed. An item that selects nothing
    // ("no match") does nothing on a double click either.
    connect(m_blockList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (item == m_composedBy || selectBlock(item))
            OnOK();
    });
    connect(m_tagList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (item == m_composedBy || selectTag(item))
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
    if (m_composedBy && m_composedBy->listWidget() == list)
        m_composedBy = nullptr;
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

QListWidgetItem* CModelVariableDlg::selectedItem(QListWidget* list) const
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return m_filling || selected.isEmpty() ? nullptr : selected.front();
}

bool CModelVariableDlg::selectBlock(QListWidgetItem* item)
{
    if (!item)
        return false;
    const std::optional<QStringList> tags =
        m_browser.SelectBlock(item->text(), m_tagFilter->text(), tagTypeRow(), [this](const QString& n) {
            m_nameEdit->setText(n);
            m_propertiesButton->setEnabled(true);
            m_okButton->setEnabled(true);
        });
    if (!tags)
        return false;
    m_composedBy = item;
    fill(m_tagList, *tags);
    return true;
}

bool CModelVariableDlg::selectTag(QListWidgetItem* item)
{
    if (!item)
        return false;
    const CModelBrowser::ItemResult result =
        m_browser.SelectItem(m_tagList->row(item), item->text(), [this](const QString& n) { m_nameEdit->setText(n); });
    if (result.taken)
        m_composedBy = item;
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
