#pragma once

#include "protocol/KernelKind.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QPushButton;

// "Log on to kernel...": asks for a host name and an instance. Starts with the last texts accepted
// (the "hostname" and "instance" settings) and on OK remembers the non-empty ones. The caller reads
// hostname and instance after OK.
class CLogOnDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CLogOnDlg(QWidget* parent = nullptr);

    // Moves the members into the controls (false) or the controls into the members (true).
    void UpdateData(bool saveAndValidate);

    QString hostname = QStringLiteral("localhost");
    QString instance = QStringLiteral("0");

    // Host and instance texts are limited to this many characters.
    static constexpr int MaxTextLength = protocol::maxText;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnOK();

    QComboBox* m_hostCombo;
    QLineEdit* m_instanceEdit;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    bool m_initialised = false;
};
