#pragma once

#include <QFrame>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The find bar at the foot of a monitor window: what to look for, the case option and Next and
// Previous. The frame searches the pane it was opened for.
class CMonitorFindBar : public QFrame
{
    Q_OBJECT
public:
    explicit CMonitorFindBar(QWidget* parent = nullptr);

    // Shows the bar for the pane named paneName ("listing", "console"), starting with what when it is
    // not empty, with the focus in the text.
    void start(const QString& paneName, const QString& what);
    void setPaneName(const QString& paneName);
    QString text() const;
    bool matchCase() const;
    // Says whether the last search found nothing.
    void setNotFound(bool notFound);

signals:
    void findRequested(bool backward);
    void closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_label;
    QLineEdit* m_edit;
    QCheckBox* m_matchCase;
    QPushButton* m_next;
    QPushButton* m_previous;
    QLabel* m_status;
};
