// Program editor figures, measured in the same run:
//  (a) opening a 100,000-line program as a program document (read, decode, shared text document,
//      frame and view) against a bare QPlainTextEdit given the same file's text;
//  (b) ParseStatement followed by ComposeStatement on every statement line of that program, per line;
//  (c) one keystroke in the middle of that program, from the key event to the repainted view, in a
//      program view (highlighting, gutter, live check armed) against a bare QPlainTextEdit;
//  (d) the resident memory the open program takes, against a bare QPlainTextEdit with its text.
// Rounds alternate between the two sides of (a); the medians are compared.

#include "editor/CEditorDoc.h"
#include "editor/CEditorFrame.h"
#include "editor/CEditorView.h"
#include "editor/CProgramHighlighter.h"
#include "editor/ProgramText.h"
#include "framework/CChildFrame.h"
#include "framework/DocTemplate.h"
#include "statement/StatementSyntax.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>
#include <string>
#include <vector>

using namespace std::chrono;

namespace {

constexpr int lineCount = 100000;
constexpr int rounds = 7;

QByteArray program()
{
    QByteArray text;
    for (int i = 0; i < lineCount; ++i) {
        switch (i % 6) {
        case 0:
            text += "// step " + QByteArray::number(i) + ": warm up the feed\n";
            break;
        case 1:
            text += "at ([24-12-98 6:30:" + QByteArray::number(i % 60) + ".00]) {FEED:F" + QByteArray::number(i) +
                    ".t} = 312.5\n";
            break;
        case 2:
            text += "after (" + QByteArray::number(i % 5000) + ") ramp({PUMP1:SPEED}, 50, 120, 10)\n";
            break;
        case 3:
            text += "when ({HX101:T.v[3]} > 50) send(SetVariable, x, " + QByteArray::number(i) + ")\n";
            break;
        case 4:
            text += "after ([02:00.00]) stop\n";
            break;
        default:
            text += "at (" + QByteArray::number(i) + ") {DRUM:LEVEL} = 0.75\n";
            break;
        }
    }
    return text;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double millisecondsOf(F&& f);

// Resident memory of the process in MB, after giving freed memory back.
double residentMb()
{
    malloc_trim(0);
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6;
}

// Median time of typing one character in the middle of edit's text and repainting.
double keystrokeMs(QPlainTextEdit* edit)
{
    edit->window()->resize(800, 600);
    edit->window()->show();
    QTextCursor c(edit->document()->findBlockByNumber(edit->document()->blockCount() / 2));
    c.movePosition(QTextCursor::EndOfBlock);
    edit->setTextCursor(c);
    edit->ensureCursorVisible();
    QCoreApplication::processEvents();
    edit->viewport()->repaint();
    std::vector<double> times;
    for (int i = 0; i < 41; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        times.push_back(millisecondsOf([&] {
            QCoreApplication::sendEvent(edit, &press);
            QCoreApplication::sendEvent(edit, &release);
            edit->viewport()->repaint();
        }));
    }
    return median(times);
}

template <typename F> double millisecondsOf(F&& f)
{
    const auto start = steady_clock::now();
    f();
    return duration<double, std::milli>(steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true); // the recent-file list must not touch the user's settings
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.kelm"));
    const QByteArray bytes = program();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    DocTemplate programs(
        129, QStringLiteral("\nProgram\nKELM Program File\nKELM Files (*.kelm)\n.kelm\nKELM.Document\nKELM Document"),
        [] { return std::make_unique<CEditorDoc>(); }, [](CDocument* d) { return new CEditorFrame(d); });

    std::vector<double> editor, bare;
    int editorBlocks = 0, bareBlocks = 0;
    for (int round = 0; round < rounds; ++round) {
        CDocument* doc = nullptr;
        editor.push_back(millisecondsOf([&] { doc = programs.openDocumentFile(path, false); }));
        if (!doc) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
            return 1;
        }
        editorBlocks = static_cast<CEditorDoc*>(doc)->textDocument()->blockCount();
        for (CChildFrame* f : doc->frames())
            delete f;
        programs.closeDocument(doc);

        bare.push_back(millisecondsOf([&] {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            QPlainTextEdit edit;
            edit.setPlainText(QString::fromUtf8(f.readAll()));
            bareBlocks = edit.blockCount();
        }));
    }
    const double e = median(editor), b = median(bare);
    std::printf("open %d-line program (%.1f MB), median of %d rounds\n", lineCount, bytes.size() / 1e6, rounds);
    std::printf("  program document  %8.1f ms  (%d blocks)\n", e, editorBlocks);
    std::printf("  bare QPlainTextEdit %6.1f ms  (%d blocks)\n", b, bareBlocks);
    std::printf("  ratio             %8.2fx  (goal <= 1.3x)\n", e / b);

    const QList<QByteArray> lines = bytes.split('\n');
    std::vector<std::string> statements;
    statements.reserve(lines.size());
    for (const QByteArray& l : lines) {
        const QString line = QString::fromUtf8(l);
        if (!line.isEmpty() && !ProgramText::isCommentLine(line)) // as the double click skips them
            statements.push_back(l.toStdString());
    }
    std::vector<double> perLine;
    size_t composedBytes = 0;
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        composedBytes = 0;
        failures = 0;
        const double ms = millisecondsOf([&] {
            for (const std::string& s : statements) {
                StatementFields f;
                if (ParseStatement(s, f))
                    ++failures;
                composedBytes += ComposeStatement(f).size();
            }
        });
        perLine.push_back(ms * 1e6 / static_cast<double>(statements.size()));
    }
    std::printf("ParseStatement + ComposeStatement over %zu statement lines (%d do not parse, %zu bytes composed)\n",
                statements.size(), failures, composedBytes);
    std::printf("  per line          %8.0f ns  (median of %d rounds)\n", median(perLine), rounds);

    // (d) first, each side from the same starting point, then (c) on the open program.
    const double before = residentMb();
    double bareMb = 0;
    double bareKey = 0;
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QPlainTextEdit edit;
        edit.setPlainText(QString::fromUtf8(f.readAll()));
        bareMb = residentMb() - before;
        bareKey = keystrokeMs(&edit);
    }
    const double between = residentMb();
    CDocument* doc = programs.openDocumentFile(path, false);
    auto* program = static_cast<CEditorDoc*>(doc);
    program->highlighter()->checkNow();
    const double editorMb = residentMb() - between;
    const double editorKey = keystrokeMs(static_cast<CEditorFrame*>(doc->frames().front())->view());
    std::printf("one keystroke in the middle, event to repaint, median of 41\n");
    std::printf("  program view      %8.3f ms\n", editorKey);
    std::printf("  bare QPlainTextEdit %6.3f ms\n", bareKey);
    std::printf("  ratio             %8.2fx  (goal <= 1.5x)\n", editorKey / bareKey);
    const double checkMs = millisecondsOf([&] { program->highlighter()->checkNow(); });
    std::printf("  live check after the pause %.3f ms\n", checkMs);
    std::printf("resident memory of the open program\n");
    std::printf("  program document  %8.1f MB\n", editorMb);
    std::printf("  bare QPlainTextEdit %6.1f MB\n", bareMb);
    std::printf("  ratio             %8.2fx  (goal <= 1.5x)\n", editorMb / bareMb);
    for (CChildFrame* f : doc->frames())
        delete f;
    programs.closeDocument(doc);
    return 0;
}
