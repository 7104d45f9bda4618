#include "editor/CRecoveryDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

CRecoveryDlg::CRecoveryDlg(std::vector<Autosave::Entry> entries, RestoreFunction restore, QWidget* parent)
    : QDialog(parent), m_entries(std::move(entries)), m_restoreFunction(std::move(restore)),
      m_list(new QTreeWidget(this))
{
    setWindowTitle(tr("Recover Unsaved Programs"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        tr("KelmDesk ended without saving these programs. Restore opens the recovered text; save it to keep it."),
        this));
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({tr("Program"), tr("Saved"), tr("First change")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    for (const Autosave::Entry& e : m_entries) {
        // Plain items: paths and program text are never read as markup.
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, e.originalPath.isEmpty() ? tr("(never saved)") : QDir::toNativeSeparators(e.originalPath));
        item->setText(1, QLocale().toString(e.time, QLocale::ShortFormat));
        item->setText(2, Autosave::firstDifference(e));
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_list);

    auto* buttons = new QDialogButtonBox(this);
    m_restore = buttons->addButton(tr("&Restore"), QDialogButtonBox::ActionRole);
    m_discard = buttons->addButton(tr("&Discard"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    connect(m_restore, &QPushButton::clicked, this, &CRecoveryDlg::restoreSelected);
    connect(m_discard, &QPushButton::clicked, this, &CRecoveryDlg::discardSelected);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CRecoveryDlg::updateButtons);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    updateButtons();
    resize(720, 280);
}

int CRecoveryDlg::selectedIndex() const
{
    QTreeWidgetItem* item = m_list->currentItem();
    return item && item->isSelected() ? m_list->indexOfTopLevelItem(item) : -1;
}

void CRecoveryDlg::updateButtons()
{
    const bool any = selectedIndex() >= 0;
    m_restore->setEnabled(any);
    m_discard->setEnabled(any);
}

void CRecoveryDlg::removeRow(int row)
{
    Autosave::remove(m_entries[std::size_t(row)].sideFile);
    m_entries.erase(m_entries.begin() + row);
    delete m_list->takeTopLevelItem(row);
    if (m_entries.empty())
        accept();
    else
        updateButtons();
}

void CRecoveryDlg::restoreSelected()
{
    const int row = selectedIndex();
    if (row < 0)
        return;
    // The side file stays when the text could not be put back.
    if (m_restoreFunction && m_restoreFunction(m_entries[std::size_t(row)]))
        removeRow(row);
}

void CRecoveryDlg::discardSelected()
{
    const int row = selectedIndex();
    if (row >= 0)
        removeRow(row);
}
