#pragma once

#include "lang/StatementSyntax.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class CSpinButton;
class QComboBox;
class QGroupBox;
class QLayout;
class QLineEdit;
class QPushButton;

// "Insert/Edit Statement...": builds one statement line from its parts with a live preview. The
// caller sets statementText to edit a line, runs the dialog modally and, on OK, takes preview as the
// line and insertRequested as the choice between inserting and replacing.
class CStatementDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CStatementDlg(QWidget* parent = nullptr);

    // Moves the members into the controls (false) or the controls into the members (true).
    void UpdateData(bool saveAndValidate);

    // Chooses the tag name for "Insert Tag..." and "Tags...", from whatever source the application
    // decides; nothing when the user chose none. While no picker is installed both buttons stay
    // disabled. Returns the previous picker.
    using TagPicker = std::function<std::optional<QString>(QWidget* parent)>;
    static TagPicker setTagPicker(TagPicker picker);

    bool insertRequested = false;
    QString opcode = QStringLiteral("SetVariable");
    int trigger = static_cast<int>(TriggerKind::At);
    int operation = static_cast<int>(OperationKind::Set);
    QString rampStep;
    QString arguments;
    QString rampTime;
    QString tag;
    QString value;
    QString preview;
    QString expression;
    QString hours = QStringLiteral("0");
    QString minutes = QStringLiteral("0");
    QString seconds = QStringLiteral("0");
    QString date;
    QString statementText;
    bool ready = false;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The dialog's parts, built once by the constructor in this order (which is the tab order).
    QGroupBox* createTriggerGroup();
    QGroupBox* createOperationGroup();
    QLayout* createButtons();
    void connectControls();
    void OnInitDialog();
    void refreshPreview();
    void applyTriggerRule();
    void applyOperationRule();
    void closeWithResult(bool insert);
    void onInsertTag();
    void onTags();
    // The members as the statement syntax sees them, and back.
    StatementFields fields() const;
    void setFields(const StatementFields& f);
    struct TextBinding;
    static const TextBinding textBindings[];

    QComboBox* m_triggerList;
    QLineEdit* m_dateEdit;
    QLineEdit* m_hoursEdit;
    CSpinButton* m_hoursSpin;
    QLineEdit* m_minutesEdit;
    CSpinButton* m_minutesSpin;
    QLineEdit* m_secondsEdit;
    CSpinButton* m_secondsSpin;
    QLineEdit* m_expressionEdit;
    QPushButton* m_insertTagButton;
    QComboBox* m_operationList;
    QLineEdit* m_tagEdit;
    QPushButton* m_tagsButton;
    QLineEdit* m_valueEdit;
    QLineEdit* m_rampTimeEdit;
    QLineEdit* m_rampStepEdit;
    QComboBox* m_opcodeCombo;
    QLineEdit* m_argumentsEdit;
    QLineEdit* m_previewEdit;
    QPushButton* m_insertButton;
    QPushButton* m_replaceButton;
    QPushButton* m_cancelButton;
    bool m_initialised = false;
    bool m_writingControls = false;
    // The expression's selection when it last lost the focus, which a click on a button takes.
    int m_expressionSelectionStart = -1;
    int m_expressionSelectionLength = 0;
};
