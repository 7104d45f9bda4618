#pragma once

#include <QDialog>
#include <QString>

class QTreeWidget;

// "Tag List": the rows of a tag-list file in three columns; a double click on a row ends the
// dialog with that row's kernel tag. The caller sets filePath before the dialog opens and reads
// result after OK. Closing the window gives no result.
class CTagListDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CTagListDlg(QWidget* parent = nullptr);

    QString result;
    QString filePath;
    bool ready = false;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnInitDialog();

    QTreeWidget* m_list;
    bool m_initialised = false;
};
