#pragma once

#include "editor/Autosave.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPushButton;
class QTreeWidget;

// Lists the side files a crashed or killed KelmDesk left behind: original path, time and the first
// line that differs from the file. Restore hands an entry to restore() and removes its side file;
// Discard removes it. Close leaves the rest for the next start.
class CRecoveryDlg : public QDialog
{
    Q_OBJECT
public:
    using RestoreFunction = std::function<bool(const Autosave::Entry&)>;
    CRecoveryDlg(std::vector<Autosave::Entry> entries, RestoreFunction restore, QWidget* parent = nullptr);

    QTreeWidget* list() const { return m_list; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* discardButton() const { return m_discard; }

private:
    void restoreSelected();
    void discardSelected();
    void updateButtons();
    int selectedIndex() const;
    void removeRow(int row);

    std::vector<Autosave::Entry> m_entries;
    RestoreFunction m_restoreFunction;
    QTreeWidget* m_list;
    QPushButton* m_restore;
    QPushButton* m_discard;
};
