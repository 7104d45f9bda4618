#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// "KelmDesk Options": runner path, default kernel connection and tag-list file. Every effect goes
// through the settings store; nothing is stored before Apply.
class COptionsDlg : public QDialog
{
    Q_OBJECT
public:
    explicit COptionsDlg(QWidget* parent = nullptr);

    // Moves the members to the controls (false) or the controls to the members (true).
    void UpdateData(bool saveAndValidate);

    QString m_runnerPath;
    QString m_defaultHost = QStringLiteral("localhost");
    QString m_defaultInstance = QStringLiteral("0");
    QString m_tagListFile;

    void accept() override;

private:
    // The dialog's parts, built once by the constructor.
    QWidget* runnerGroup();
    QWidget* loginGroup();
    QWidget* tagListGroup();
    QLayout* buttonColumn();
    void OnInitDialog();
    void onBrowseRunner();
    void onBrowseTagList();

    QLineEdit* m_runnerEdit;      // 1017
    QPushButton* m_runnerBrowse;  // 1018
    QComboBox* m_hostCombo;       // 1020
    QLineEdit* m_instanceEdit;    // 1021
    QCheckBox* m_defaultLogon;    // 1019
    QLineEdit* m_tagListEdit;     // 1047
    QPushButton* m_tagListBrowse; // 1048
};
