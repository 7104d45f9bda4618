// The editor's knowledge of the kernel's names, with the simulator's server on its own thread (as the
// kernel runs in its own process):
//  (a) typing "{" in a program on a model of 10,000 generated blocks until the completion list is
//      shown, cold (nothing known of the kernel yet) and warm (the block list cached);
//  (b) the live check of a 100,000-line program logged on (every tag checked against the cached
//      names) against the same check logged off (no tag checking).

#include "app/CKelmDeskApp.h"
#include "app/CMainFrame.h"
#include "bench/KernelThread.h"
#include "editor/CEditorDoc.h"
#include "editor/CEditorView.h"
#include "editor/CProgramHighlighter.h"
#include "editor/CTagAssist.h"
#include "framework/DocTemplate.h"
#include "kernel/KernelConnection.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int bigModel = 10000;
constexpr int rounds = 9;
constexpr int programLines = 100000;

double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Runs the event loop until done() holds; false after 20 s.
bool pumpUntil(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// Milliseconds from typing "{" on a new line to the list shown with at least one name.
double openList(CEditorView* view)
{
    QAbstractItemView* popup = view->completer()->popup();
    if (popup->isVisible())
        QTest::keyClick(popup, Qt::Key_Escape);
    QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_Return);
    QElapsedTimer t;
    t.start();
    QTest::keyClick(view, Qt::Key_BraceLeft, Qt::NoModifier);
    if (!pumpUntil([&] { return popup->isVisible() && view->completer()->completionModel()->rowCount() > 0; }))
        return -1;
    return double(t.nsecsElapsed()) / 1e6;
}

QString program()
{
    const char* lines[] = {"at (5) {T101:LEVEL} = 2", "when {P101:SPEED} > 3 ramp {FV101:POS} to 40 in 10",
                           "* a comment", "after (10) {T201:LEVEL} = 1", "when {LC101:SP} < 5 stop"};
    QString text;
    for (int i = 0; i < programLines; ++i)
        text += QLatin1String(lines[i % 5]) + QLatin1Char('\n');
    return text;
}

double checkMs(CEditorDoc* doc)
{
    CProgramHighlighter* h = doc->highlighter();
    h->recheckAll();
    QElapsedTimer t;
    t.start();
    h->checkNow();
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    SimOptions options;
    options.blocks = bigModel;
    KernelThread kernel(options);
    ::setenv("NORVEX_PORT_BASE", std::to_string(kernel.port()).c_str(), 1);

    CKelmDeskApp app;
    if (!app.initInstance({QStringLiteral("kelmdesk")})) {
        std::fprintf(stderr, "no start\n");
        return 1;
    }
    app.mainFrame()->show();
    DocTemplate* programs = app.findTemplate(QStringLiteral("KELM Program File"));
    auto* doc = qobject_cast<CEditorDoc*>(programs->openDocumentFile(QString()));
    CEditorView* view = doc->currentView();
    view->setFocus();
    if (!LogOnKernel(QStringLiteral("127.0.0.1"), 0, false)) {
        std::fprintf(stderr, "no log-on\n");
        return 1;
    }
    CTagAssist& assist = CTagAssist::instance();
    assist.sync();

    std::vector<double> cold, warm;
    for (int r = 0; r < rounds; ++r) {
        assist.knowledge().invalidate();
        cold.push_back(openList(view));
        warm.push_back(openList(view));
    }
    std::printf("completion list on a model of %d generated blocks, medians of %d:\n", bigModel, rounds);
    std::printf("  cold (block list asked) %8.1f ms  (goal <= 300)\n", median(cold));
    std::printf("  warm (block list cached) %7.1f ms  (goal <= 50)\n", median(warm));

    auto* big = qobject_cast<CEditorDoc*>(programs->openDocumentFile(QString()));
    big->textDocument()->setPlainText(program());
    const int handle = app.kernelHandle;
    const auto settled = [&] {
        for (const char* name : {"T101:LEVEL", "P101:SPEED", "FV101:POS", "T201:LEVEL", "LC101:SP"}) {
            if (assist.knowledge().known(QLatin1String(name)) == TagKnowledge::Known::Pending)
                return false;
        }
        return true;
    };
    // Rounds alternate, so that a busy machine weighs on both alike. Logged on, the cache is warmed
    // first: a check asks, the answers come, and the timed check finds them.
    std::vector<double> on, off;
    int warnings = 0;
    for (int r = 0; r < rounds; ++r) {
        app.kernelHandle = handle;
        assist.sync();
        big->highlighter()->checkNow();
        if (!pumpUntil(settled)) {
            std::fprintf(stderr, "no answers\n");
            return 1;
        }
        on.push_back(checkMs(big));
        warnings = 0;
        for (const CProgramHighlighter::Problem& p : big->highlighter()->problems())
            warnings += p.warning;
        app.kernelHandle = 0; // logged off: no tag is checked
        assist.sync();
        off.push_back(checkMs(big));
    }
    app.kernelHandle = handle;
    std::printf("live check of %d lines, medians of %d:\n", programLines, rounds);
    std::printf("  with tag checking %9.1f ms (%d warnings)\n", median(on), warnings);
    std::printf("  without           %9.1f ms\n", median(off));
    std::printf("  ratio %.2fx (goal <= 1.3x)\n", median(on) / median(off));
    return 0;
}
