#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The modeless Find and Replace dialog of a program view. The view does the searching; the dialog
// only collects what to look for and asks for the next step.
class CFindReplaceDlg : public QDialog
{
    Q_OBJECT
public:
    struct Options
    {
        QString findWhat;
        QString replaceWith;
        bool matchCase = false;
        bool wholeWord = false;
        bool backward = false;
    };

    explicit CFindReplaceDlg(QWidget* parent);

    // Shows the dialog for finding (replace false) or replacing, starting with what.
    void start(bool replace, const QString& what);
    bool isReplaceMode() const { return m_replaceMode; }
    Options options() const;

    // What the last Find Next of any view looked for, so that F3 repeats it everywhere.
    static Options& lastSearch();

signals:
    void findNextRequested();
    void replaceRequested();
    void replaceAllRequested();

private:
    void updateButtons();

    bool m_replaceMode = false;
    QLineEdit* m_findEdit;
    QLabel* m_replaceLabel;
    QLineEdit* m_replaceEdit;
    QCheckBox* m_wholeWord;
    QCheckBox* m_matchCase;
    QRadioButton* m_up;
    QRadioButton* m_down;
    QWidget* m_direction;
    QPushButton* m_findNext;
    QPushButton* m_replace;
    QPushButton* m_replaceAll;
    QPushButton* m_cancel;
};
