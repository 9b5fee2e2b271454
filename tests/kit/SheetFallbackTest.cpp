#include "kit/SheetFallback.h"
#include "kit/QKWindowController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>

#include <memory>
#include <vector>

namespace {

struct Parent {
    Parent()
    {
        window.resize(300, 200);
        window.show();
    }
    QWidget window;
};

TEST(SheetFallbackTest, HandlerGetsTheCodeOnceHoweverOftenTheSheetIsEnded)
{
    Parent parent;
    QPointer<QDialog> sheet = new QDialog;
    std::vector<int64_t> codes;
    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t code) { codes.push_back(code); }));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), &parent.window);
    EXPECT_TRUE(codes.empty());

    EXPECT_TRUE(SheetFallback::endSheet(sheet, 1));
    EXPECT_FALSE(sheet->isVisible());
    // Already ended: neither a second end nor the dialog's own finishing reaches the handler.
    EXPECT_FALSE(SheetFallback::endSheet(sheet, 0));
    sheet->done(0);
    EXPECT_EQ(codes, (std::vector<int64_t>{1}));

    // Begun again, it has the new handler only.
    std::vector<int64_t> second;
    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t code) { second.push_back(code); }));
    EXPECT_TRUE(SheetFallback::endSheet(sheet, 0));
    EXPECT_EQ(codes.size(), 1u);
    EXPECT_EQ(second, (std::vector<int64_t>{0}));
}

TEST(SheetFallbackTest, EscapeAndTheCloseButtonCancelOnce)
{
    Parent parent;
    QPointer<QDialog> sheet = new QDialog;
    int calls = 0;
    int64_t last = -1;
    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t code) {
        ++calls;
        last = code;
    }));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sheet, &escape);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(last, 0);

    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t code) {
        ++calls;
        last = code;
    }));
    sheet->close();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(last, 0);
}

TEST(SheetFallbackTest, MissingWindowsBeginAndEndNothing)
{
    Parent parent;
    bool called = false;
    auto handler = [&](int64_t) { called = true; };
    QDialog loose;
    EXPECT_FALSE(SheetFallback::beginSheet(nullptr, &parent.window, handler));
    EXPECT_FALSE(SheetFallback::beginSheet(&loose, nullptr, handler));
    EXPECT_FALSE(loose.isVisible());
    EXPECT_FALSE(SheetFallback::endSheet(nullptr, 1));
    EXPECT_FALSE(SheetFallback::endSheet(&loose, 1)); // never begun
    EXPECT_FALSE(called);

    // A sheet that is already showing is not begun a second time.
    QPointer<QDialog> sheet = new QDialog;
    int calls = 0;
    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t) { ++calls; }));
    EXPECT_FALSE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t) { calls += 10; }));
    SheetFallback::endSheet(sheet, 1);
    EXPECT_EQ(calls, 1);
}

TEST(SheetFallbackTest, EndingCloseDeletesASelfDeletingSheet)
{
    Parent parent;
    QPointer<QDialog> sheet = new QDialog;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    int calls = 0;
    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t) { ++calls; }));
    SheetFallback::endSheet(sheet, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull());
    EXPECT_EQ(calls, 1);
}

TEST(SheetFallbackTest, AHandlerMayDeleteTheSheetItEnds)
{
    Parent parent;
    QPointer<QDialog> sheet = new QDialog;
    int calls = 0;
    ASSERT_TRUE(SheetFallback::beginSheet(sheet, &parent.window, [&](int64_t) {
        ++calls;
        delete sheet.data(); // a controller that owns the sheet goes with it
    }));
    EXPECT_TRUE(SheetFallback::endSheet(sheet, 1));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(sheet.isNull());
}

// A dialog controller with one line edit.
class EditDialog : public QKWindowController {
public:
    QPointer<QLineEdit> edit;

protected:
    QWidget* loadWindow() override
    {
        auto* dialog = new QDialog;
        auto* layout = new QVBoxLayout(dialog);
        edit = new QLineEdit(dialog);
        layout->addWidget(edit);
        return dialog;
    }
};

TEST(SheetFallbackTest, EndDialogWithOkCommitsTheEditInProgressFirst)
{
    Parent parent;
    EditDialog controller;
    bool finishedBeforeHandler = false;
    int editingFinished = 0;
    int64_t code = -1;
    controller.window(); // loads
    QObject::connect(controller.edit, &QLineEdit::editingFinished, [&] { ++editingFinished; });
    ASSERT_TRUE(controller.beginDialogIn(&parent.window, [&](int64_t c) {
        code = c;
        finishedBeforeHandler = editingFinished == 1;
    }));
    controller.edit->setFocus();
    controller.edit->setText(QStringLiteral("typed"));
    controller.endDialog(1);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(finishedBeforeHandler);
}

TEST(SheetFallbackTest, EndDialogWithAnyOtherCodeLeavesTheEditAlone)
{
    Parent parent;
    EditDialog controller;
    controller.window();
    int editingFinished = 0;
    QObject::connect(controller.edit, &QLineEdit::editingFinished, [&] { ++editingFinished; });
    int64_t code = -1;
    ASSERT_TRUE(controller.beginDialogIn(&parent.window, [&](int64_t c) { code = c; }));
    controller.edit->setFocus();
    controller.edit->setText(QStringLiteral("typed"));
    controller.endDialog(0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(editingFinished, 0);
    // Ended, not closed: the window is off the screen but still there to read from.
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_EQ(controller.edit->text(), QStringLiteral("typed"));
}

} // namespace
