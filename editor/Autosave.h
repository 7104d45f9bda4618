#pragma once

#include <QDateTime>
#include <QString>

#include <vector>

// Side files of modified programs, so that a crash loses at most the last half minute. Each process
// writes into a folder of its own under AppDataLocation/autosave, locked for the life of the
// process; the side files of a folder whose lock is free belong to a process that is gone. Never
// touches an original file. No widgets here.
namespace Autosave {

struct Entry
{
    QString sideFile;
    QString originalPath; // empty for a document never saved
    QString encoding;     // "UTF-8" or "ISO-8859-1": the original file's
    QDateTime time;       // when the side file was written
    QString text;         // the document's text, with "\n" line ends
};

// AppDataLocation/autosave.
QString root();

// Writes text for a document: to sideFile when given, else to a new side file in this process's
// folder. Returns the side file, empty when it cannot be written.
QString write(const QString& sideFile, const QString& originalPath, const QString& encoding, const QString& text);
// Removes a side file (of this process or a claimed folder) and its folder once empty.
void remove(const QString& sideFile);
bool read(const QString& sideFile, Entry& entry);

// The side files of folders whose process is gone, oldest first. Their folders are claimed: no
// other process offers them until releaseClaims() or the end of this one.
std::vector<Entry> claimOrphans();
void releaseClaims();

// The first line where text differs from the original file's text, as "line N: TEXT" (N from 1),
// cut to about maxChars; "new file" when there is no original to compare.
QString firstDifference(const Entry& entry, int maxChars = 80);

} // namespace Autosave
