#pragma once

#include <QStatusBar>
#include <QStringList>

class QLabel;

// A status bar of panes. Pane 0 takes the width the others leave and shows the idle text or the
// prompt of the command under the mouse; every other pane is as wide as its initial text.
class CStatusBar : public QStatusBar
{
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* parent = nullptr);

    // initialTexts[0] is the idle text of pane 0; the rest fix the widths of panes 1 and up.
    void setIndicators(const QStringList& initialTexts);
    int paneCount() const { return m_panes.size(); }
    void SetPaneText(int pane, const QString& text);
    QString paneText(int pane) const;
    QLabel* pane(int index) const;
    void setPaneEnabled(int pane, bool enabled);

signals:
    void paneTextChanged(int pane, const QString& text);

private:
    QList<QLabel*> m_panes;
};
