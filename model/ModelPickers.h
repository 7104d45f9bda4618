#pragma once

#include <QString>

#include <optional>

class QWidget;

// The two ways the editor and the statement dialog pick a name; the application installs them as
// their pickers. Nothing is returned when the user chose nothing.

// Logs on first when no kernel is logged on (the log-on dialog; a failed log-on ends here, a
// cancelled one goes on without a kernel), then the Insert Model Variable dialog.
std::optional<QString> pickModelVariable(QWidget* parent);

// The Tag List dialog on the "taglist" file when one is set; else, in edit-only mode, the message
// "No taglist file set."; else pickModelVariable.
std::optional<QString> pickTag(QWidget* parent);
