#pragma once

#include <QFrame>

class QAbstractScrollArea;

// The strip under a monitor pane that says its following is paused and offers to resume it. The pane
// makes room for it with a bottom viewport margin of height() while it is shown.
class CFollowBar : public QFrame
{
    Q_OBJECT
public:
    explicit CFollowBar(QAbstractScrollArea* pane);

    // The height the pane leaves free for it below the viewport.
    int stripHeight() const;
    // Lays the strip out under the pane's viewport.
    void place();

signals:
    void resumeRequested();

private:
    QAbstractScrollArea* m_pane;
};
