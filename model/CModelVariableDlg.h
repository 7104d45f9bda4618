#pragma once

#include "model/CModelBrowser.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QLayout;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;

// "Insert Model Variable": browses the blocks, tags and members of the logged-on kernel's model and
// composes a model-variable name. After OK, name holds it.
class CModelVariableDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CModelVariableDlg(QWidget* parent = nullptr);

    QString name;

    // The browse state behind the lists (mode, base name, composed name).
    const CModelBrowser& browser() const { return m_browser; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The dialog's parts, built once by the constructor in this order (which is the tab order).
    QLayout* createBlockColumn();
    QLayout* createTagColumn();
    void connectControls();
    void OnInitDialog();
    void OnOK();
    void queryBlocks();
    // The selected item of list; none while it is being filled.
    QListWidgetItem* selectedItem(QListWidget* list) const;
    // Each applies the selection of item (none: nothing) and returns whether it was taken.
    bool selectBlock(QListWidgetItem* item);
    bool selectTag(QListWidgetItem* item);
    void onRefresh();
    void onProperties();
    // Replaces the items of list; its selection signals are not handled meanwhile.
    void fill(QListWidget* list, const QStringList& items);
    int tagTypeRow() const;

    CModelBrowser m_browser;
    QListWidget* m_blockList;
    QLineEdit* m_blockFilter;
    QComboBox* m_blockType;
    QRadioButton* m_sortByName;
    QRadioButton* m_sortByExecution;
    QPushButton* m_propertiesButton;
    QPushButton* m_refreshButton;
    QListWidget* m_tagList;
    QLineEdit* m_tagFilter;
    QComboBox* m_tagType;
    QLineEdit* m_nameEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    // The item whose selection composed the name shown; none once its list is refilled.
    QListWidgetItem* m_composedBy = nullptr;
    bool m_initialised = false;
    bool m_filling = false;
};
