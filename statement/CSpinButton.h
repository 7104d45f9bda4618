#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

// A pair of up/down arrows bound to a line edit that stays free text: each step starts from the
// edit's leading integer, clamps to the range and writes the number back into the edit. The up and
// down arrow keys in the edit step too.
class CSpinButton : public QWidget
{
    Q_OBJECT

public:
    CSpinButton(QLineEdit* buddy, QWidget* parent = nullptr);

    void setRange(int minimum, int maximum);
    void stepBy(int steps);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_buddy;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_minimum = 0;
    int m_maximum = 100;
};
