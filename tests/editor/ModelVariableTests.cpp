#include "tests/editor/EditorFixture.h"

#include "framework/CommandIds.h"
#include "res/Resource.h"

#include <QTest>

namespace {

class InsertModelVariable : public EditorFixture
{
protected:
    void TearDown() override
    {
        CEditorDoc::setModelVariablePicker({});
        EditorFixture::TearDown();
    }
};

TEST_F(InsertModelVariable, TheBracedNameReplacesTheSelectionAsOneUndoStep)
{
    CEditorDoc* doc = withText("at (0) {} = 1\nwhen (x > 2) stop\n");
    CEditorView* view = viewOf(doc);
    EXPECT_TRUE(enabled(doc, Cmd::InsertModelVariable)) << "the application installs its picker";
    CEditorDoc::setModelVariablePicker({});
    EXPECT_FALSE(enabled(doc, Cmd::InsertModelVariable)) << "no picker installed";

    QWidget* parent = nullptr;
    CEditorDoc::setModelVariablePicker([&](QWidget* p) {
        parent = p;
        return std::optional<QString>(QStringLiteral("P101:OUT.v[3]"));
    });
    EXPECT_TRUE(enabled(doc, Cmd::InsertModelVariable));
    QTextCursor selection = view->textCursor();
    selection.setPosition(20);
    selection.setPosition(21, QTextCursor::KeepAnchor); // the x
    view->setTextCursor(selection);
    ASSERT_TRUE(run(doc, Cmd::InsertModelVariable));
    EXPECT_EQ(parent, view);
    EXPECT_EQ(doc->text(), "at (0) {} = 1\nwhen ({P101:OUT.v[3]} > 2) stop\n");
    EXPECT_EQ(view->textCursor().position(), 35);
    EXPECT_TRUE(doc->isModified());

    setCaret(view, 8);
    ASSERT_TRUE(run(doc, Cmd::InsertModelVariable));
    EXPECT_EQ(doc->text().section('\n', 0, 0), "at (0) {{P101:OUT.v[3]}} = 1");

    // Each insertion goes with one Ctrl+Z, the replaced selection coming back.
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(doc->text(), "at (0) {} = 1\nwhen ({P101:OUT.v[3]} > 2) stop\n");
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(doc->text(), "at (0) {} = 1\nwhen (x > 2) stop\n");
    EXPECT_FALSE(doc->isModified());
}

TEST_F(InsertModelVariable, NothingChosenChangesNothing)
{
    CEditorDoc* doc = withText("at (0) {} = 1\n");
    int asked = 0;
    CEditorDoc::setModelVariablePicker([&](QWidget*) {
        ++asked;
        return std::optional<QString>();
    });
    ASSERT_TRUE(run(doc, Cmd::InsertModelVariable));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(doc->text(), "at (0) {} = 1\n");
    EXPECT_FALSE(doc->isModified());
}

} // namespace
