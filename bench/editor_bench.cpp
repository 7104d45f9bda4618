// Program editor figures, measured in the same run:
//  (a) opening a 100,000-line program as a program document (read, decode, shared text document,
//      frame and view) against the fastest way a bare QPlainTextEdit loads the same file's text (of its
//      setPlainText, a plain-text document filled before the view is given it, and one insertText
//      without undo). Each open runs in a fresh process (this program started again with --open), so
//      that no run inherits another's warm caches or memory: wall and processor time of the open, and
//      the peak memory it added;
//  (b) ParseStatement followed by ComposeStatement on every statement line of that program, per line;
//  (c) one keystroke in the middle of that program, from the key event to the repainted view, in a
//      program view (highlighting, gutter, live check armed) against a bare QPlainTextEdit (and, to
//      read the ratio, a bare one in the program view's font and one that keeps its shaped glyphs);
//  (d) the resident memory the open program takes, against a bare QPlainTextEdit with its text.

#include "bench/BenchSupport.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorFrame.h"
#include "editor/CEditorView.h"
#include "editor/CProgramHighlighter.h"
#include "editor/ProgramText.h"
#include "framework/CChildFrame.h"
#include "framework/DocTemplate.h"
#include "res/Fonts.h"
#include "lang/StatementSyntax.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTextDocument>

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

// One open in this process; prints "wall-ms cpu-ms added-peak-KiB blocks".
int openOnce(const QString& how, const QString& path)
{
    DocTemplate programs(
        129, QStringLiteral("\nProgram\nKELM Program File\nKELM Files (*.kelm)\n.kelm\nKELM.Document\nKELM Document"),
        [] { return std::make_unique<CEditorDoc>(); }, [](CDocument* d) { return new CEditorFrame(d); });
    QPlainTextEdit edit; // created before the measurement: the editor's frame and view are part of it
    const long peakBefore = bench::peakResidentKiB();
    const double cpu = bench::processCpuMicros();
    int blocks = 0;
    const double ms = millisecondsOf([&] {
        if (how == QLatin1String("editor")) {
            CDocument* doc = programs.openDocumentFile(path, DocTemplate::Show::Never);
            blocks = doc ? static_cast<CEditorDoc*>(doc)->textDocument()->blockCount() : 0;
            return;
        }
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        const QString text = QString::fromUtf8(f.readAll());
        if (how == QLatin1String("setPlainText")) {
            edit.setPlainText(text);
        } else if (how == QLatin1String("insertText")) {
            edit.document()->setUndoRedoEnabled(false);
            QTextCursor(edit.document()).insertText(text);
            edit.document()->setUndoRedoEnabled(true);
        } else {
            // The document filled while no view watches it, without undo steps, then shown in the view.
            auto* document = new QTextDocument(&edit);
            document->setDocumentLayout(new QPlainTextDocumentLayout(document));
            document->setUndoRedoEnabled(false);
            document->setPlainText(text);
            document->setUndoRedoEnabled(true);
            edit.setDocument(document);
        }
        blocks = edit.blockCount();
    });
    const double cpuMs = (bench::processCpuMicros() - cpu) / 1000;
    std::printf("%.3f %.3f %ld %d\n", ms, cpuMs, bench::peakResidentKiB() - peakBefore, blocks);
    return blocks > 0 ? 0 : 1;
}

struct Opens
{
    std::vector<double> ms, cpuMs, peakKiB;
    int blocks = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true); // the recent-file list must not touch the user's settings
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 4 && QLatin1String(argv[1]) == QLatin1String("--open"))
        return openOnce(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

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

    const char* ways[] = {"editor", "setPlainText", "document", "insertText"};
    constexpr int wayCount = 4;
    Opens opens[wayCount];
    for (int round = 0; round < rounds; ++round) {
        for (int w = 0; w < wayCount; ++w) {
            bench::Child child({"--open", ways[w], path.toStdString()});
            double ms = 0, cpuMs = 0;
            long peak = 0;
            int blocks = 0;
            if (std::sscanf(child.readLine().c_str(), "%lf %lf %ld %d", &ms, &cpuMs, &peak, &blocks) != 4) {
                std::fprintf(stderr, "the %s open failed\n", ways[w]);
                return 1;
            }
            opens[w].ms.push_back(ms);
            opens[w].cpuMs.push_back(cpuMs);
            opens[w].peakKiB.push_back(double(peak));
            opens[w].blocks = blocks;
        }
    }
    std::printf("open %d-line program (%.1f MB), a fresh process each, medians of %d rounds:\n", lineCount,
                bytes.size() / 1e6, rounds);
    const char* labels[] = {"program document", "QPlainTextEdit::setPlainText", "plain-text document, then view",
                            "one insertText, no undo"};
    for (int w = 0; w < wayCount; ++w) {
        std::printf("  %-31s %7.1f ms wall, %7.1f ms processor, peak memory +%6.1f MiB  (%d blocks)\n", labels[w],
                    median(opens[w].ms), median(opens[w].cpuMs), median(opens[w].peakKiB) / 1024, opens[w].blocks);
    }
    int fastest = 1;
    for (int w = 2; w < wayCount; ++w) {
        if (median(opens[w].ms) < median(opens[fastest].ms))
            fastest = w;
    }
    std::printf("  ratio to the fastest bare load (%s): %.2fx wall, %.2fx processor, %.2fx peak memory "
                "(goal <= 1.3x)\n",
                labels[fastest], median(opens[0].ms) / median(opens[fastest].ms),
                median(opens[0].cpuMs) / median(opens[fastest].cpuMs),
                median(opens[0].peakKiB) / median(opens[fastest].peakKiB));
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
    CDocument* doc = programs.openDocumentFile(path, DocTemplate::Show::Never);
    auto* program = static_cast<CEditorDoc*>(doc);
    program->highlighter()->checkNow();
    const double editorMb = residentMb() - between;
    const double editorKey = keystrokeMs(static_cast<CEditorFrame*>(doc->frames().front())->view());
    // Not the baseline, for the reading of the ratio: how much of it is the program view's font alone.
    double bareProgramFontKey = 0;
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QPlainTextEdit edit;
        edit.setFont(Fonts::programFont(edit.font()));
        edit.setPlainText(QString::fromUtf8(f.readAll()));
        bareProgramFontKey = keystrokeMs(&edit);
    }
    // Nor this: a bare QPlainTextEdit whose lines around the keystroke keep their shaped glyphs, as the
    // program view's shown lines do; the program view's ratio to it is its cost without that help.
    double bareShapedKey = 0;
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QPlainTextEdit edit;
        edit.setPlainText(QString::fromUtf8(f.readAll()));
        QTextBlock block = edit.document()->findBlockByNumber(edit.document()->blockCount() / 2 - 500);
        for (int i = 0; i < 1000 && block.isValid(); ++i, block = block.next())
            block.layout()->setCacheEnabled(true);
        bareShapedKey = keystrokeMs(&edit);
    }
    std::printf("one keystroke in the middle, event to repaint, median of 41\n");
    std::printf("  program view      %8.3f ms\n", editorKey);
    std::printf("  bare QPlainTextEdit %6.3f ms\n", bareKey);
    std::printf("  ratio             %8.2fx  (goal <= 1.5x)\n", editorKey / bareKey);
    std::printf("  (a bare QPlainTextEdit in the program view's fixed-pitch font: %.3f ms, %.2fx of the bare one)\n",
                bareProgramFontKey, bareProgramFontKey / bareKey);
    std::printf(
        "  (a bare QPlainTextEdit keeping its glyphs as the program view does: %.3f ms; program view %.2fx of it)\n",
        bareShapedKey, editorKey / bareShapedKey);
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
