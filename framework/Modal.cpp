#include "framework/Modal.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace Modal {
namespace {
class ExecutableFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }
};

DialogHook& dialogHook()
{
    static DialogHook h;
    return h;
}
FileHook& fileHook()
{
    static FileHook h;
    return h;
}
} // namespace

int run(QDialog& dlg)
{
    if (!dialogHook())
        return dlg.exec();
    // Without exec() the dialog would not reset its result; a hook that closes nothing cancels.
    dlg.setResult(QDialog::Rejected);
    dlg.show();
    DialogHook hook = dialogHook(); // the hook may run further modal dialogs
    hook(dlg);
    dlg.hide();
    return dlg.result();
}

DialogHook setDialogHook(DialogHook hook)
{
    DialogHook previous = std::move(dialogHook());
    dialogHook() = std::move(hook);
    return previous;
}

QString getOpenFileName(QWidget* parent, const QString& title, const QString& proposed, const QString& filter,
                        FileKind kind)
{
    if (fileHook())
        return fileHook()(title, filter, proposed);
    QFileDialog dlg(parent, title, QString(), filter);
    if (kind == FileKind::Executable) {
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.setProxyModel(new ExecutableFilter(&dlg));
    }
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::ReadOnly, false);
    if (!proposed.isEmpty())
        dlg.selectFile(proposed);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    return dlg.selectedFiles().constFirst();
}

QString getSaveFileName(QWidget* parent, const QString& title, const QString& proposed, const QString& filter)
{
    if (fileHook())
        return fileHook()(title, filter, proposed);
    return QFileDialog::getSaveFileName(parent, title, proposed, filter);
}

FileHook setFileHook(FileHook hook)
{
    FileHook previous = std::move(fileHook());
    fileHook() = std::move(hook);
    return previous;
}

} // namespace Modal
