#pragma once

#include <QDialog>
#include <QString>

class QTreeWidget;

// A read-only window with the tags of one block: name, type and current value, as the kernel
// gives them when the window opens.
class CBlockPropertiesDlg : public QDialog
{
    Q_OBJECT

public:
    CBlockPropertiesDlg(const QString& block, QWidget* parent = nullptr);

private:
    void readTags(const QString& block);

    QTreeWidget* m_list;
};
