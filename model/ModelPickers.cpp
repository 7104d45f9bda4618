#include "model/ModelPickers.h"

#include "core/AppCore.h"
#include "core/CSettingsKey.h"
#include "core/SettingNames.h"
#include "framework/MessageBox.h"
#include "framework/Modal.h"
#include "kernel/CLogOnDlg.h"
#include "kernel/KernelConnection.h"
#include "kernel/KernelTime.h"
#include "model/CModelVariableDlg.h"
#include "model/CTagListDlg.h"

std::optional<QString> pickModelVariable(QWidget* parent)
{
    if (!IsLoggedOn()) {
        CLogOnDlg logOn(parent);
        if (Modal::run(logOn) == QDialog::Accepted && !LogOnKernel(logOn.hostname, atoiText(logOn.instance), false))
            return std::nullopt;
    }
    CModelVariableDlg dlg(parent);
    if (Modal::run(dlg) != QDialog::Accepted)
        return std::nullopt;
    return dlg.name;
}

std::optional<QString> pickTag(QWidget* parent)
{
    const QString file = readSetting(SettingName::TagList).value_or(QString());
    if (!file.isEmpty()) {
        CTagListDlg dlg(parent);
        dlg.filePath = file;
        if (Modal::run(dlg) != QDialog::Accepted)
            return std::nullopt;
        return dlg.result;
    }
    const AppCore* app = AppCore::instance();
    if (app && app->m_bEditOnly) {
        KMessageBox::show(QStringLiteral("No taglist file set."), KMessageBox::Icon::None, QMessageBox::Ok, parent);
        return std::nullopt;
    }
    return pickModelVariable(parent);
}
