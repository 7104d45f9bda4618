#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QDialog;
class QWidget;

// Modal runs with test seams: a hook set by a test receives the dialog, already initialised and
// shown, drives its real widgets and returns without a nested event loop. The dialog's result()
// is what the caller sees.
namespace Modal {

using DialogHook = std::function<void(QDialog&)>;

// Runs dlg modally (exec()) and returns its result code (QDialog::Accepted or Rejected).
int run(QDialog& dlg);
DialogHook setDialogHook(DialogHook hook);

// File dialogs. An empty result means cancelled. The hook receives the title, the filter and the
// proposed name, and returns the chosen path (empty: cancel).
using FileHook = std::function<QString(const QString& title, const QString& filter, const QString& proposed)>;
enum class FileKind { Any, Executable };
// Executable: only directories and files the user may execute are listed (for programs without an
// extension).
QString getOpenFileName(QWidget* parent, const QString& title, const QString& proposed, const QString& filter,
                        FileKind kind = FileKind::Any);
QString getSaveFileName(QWidget* parent, const QString& title, const QString& proposed, const QString& filter);
FileHook setFileHook(FileHook hook);

} // namespace Modal
