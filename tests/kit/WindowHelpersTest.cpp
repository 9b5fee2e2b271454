#include "kit/KRAException.h"
#include "kit/KRARetainedWindowController.h"
#include "kit/QKPleaseWaitDialog.h"
#include "kit/QKWindowCancellable.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace {

void ProcessPending()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, 0);
        QCoreApplication::processEvents();
    }
}

void PressEscape(QWidget* target)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

class CancelCounter : public QObject, public QKCancelOperation {
public:
    int count = 0;
    QObject* sender = nullptr;
    bool responds = true;
    bool respondsToCancelOperation() override { return responds; }
    void cancelOperation(QObject* from) override
    {
        ++count;
        sender = from;
    }
};

TEST(QKWindowCancellableTest, EscapeReachesTheDelegateOnceAlsoFromAChild)
{
    QKWindowCancellable window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit(&window);
    layout->addWidget(edit);
    CancelCounter delegate;
    window.setDelegate(&delegate);
    window.show();

    PressEscape(&window);
    EXPECT_EQ(delegate.count, 1);
    EXPECT_EQ(delegate.sender, &window);

    // A line edit does not use Escape; it travels up to the window.
    PressEscape(edit);
    EXPECT_EQ(delegate.count, 2);

    // Other keys, and Escape with a modifier, are not a cancel.
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&window, &other);
    QKeyEvent shifted(QEvent::KeyPress, Qt::Key_Escape, Qt::ShiftModifier);
    QApplication::sendEvent(&window, &shifted);
    EXPECT_EQ(delegate.count, 2);
}

TEST(QKWindowCancellableTest, WithoutAWillingDelegateTheKeyTakesItsOrdinaryCourse)
{
    QKWindowCancellable window;
    CancelCounter delegate;
    delegate.responds = false;
    window.setDelegate(&delegate);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &press);
    EXPECT_EQ(delegate.count, 0);
    EXPECT_FALSE(press.isAccepted()); // left to whoever comes next

    QObject plain; // does not implement cancelOperation at all
    window.setDelegate(&plain);
    QKeyEvent again(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&window, &again);
    EXPECT_FALSE(again.isAccepted());
}

class Retained : public KRARetainedWindowController {
public:
    explicit Retained(bool* destroyed) : m_destroyed(destroyed) {}
    ~Retained() override { *m_destroyed = true; }

private:
    bool* m_destroyed;
};

TEST(KRARetainedWindowControllerTest, LivesWithoutOwnerUntilItsWindowCloses)
{
    bool destroyed = false;
    std::weak_ptr<Retained> weak;
    {
        auto controller = std::make_shared<Retained>(&destroyed);
        weak = controller;
        controller->showWindow();
    }
    ProcessPending();
    ASSERT_FALSE(destroyed);
    auto alive = weak.lock();
    ASSERT_TRUE(alive);
    EXPECT_EQ(alive->retainMe().get(), alive.get());
    QWidget* window = alive->window();
    EXPECT_TRUE(window->isVisible());
    alive.reset();

    window->close();
    EXPECT_FALSE(destroyed); // not inside the window's own close
    ProcessPending();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(weak.expired());
}

TEST(KRARetainedWindowControllerTest, ARefusedCloseKeepsItAlive)
{
    class Stubborn : public QObject {
    public:
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Close) {
                event->ignore();
                return true;
            }
            return false;
        }
    } stubborn;
    bool destroyed = false;
    auto controller = std::make_shared<Retained>(&destroyed);
    std::weak_ptr<Retained> weak = controller;
    controller->showWindow();
    QWidget* window = controller->window();
    controller.reset();
    window->installEventFilter(&stubborn);
    window->close();
    ProcessPending();
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(window->isVisible());
    window->removeEventFilter(&stubborn);
    window->close();
    ProcessPending();
    EXPECT_TRUE(destroyed);
}

class CountingWait : public QKPleaseWaitDialog {
public:
    explicit CountingWait(bool cancellable) : m_cancellable(cancellable) {}
    bool showCancel() override { return m_cancellable; }
    void onCancel() override { ++cancels; }
    int cancels = 0;

private:
    bool m_cancellable;
};

TEST(QKPleaseWaitDialogTest, TheBaseShowsNoCancelAndEscapeDoesNothing)
{
    QKPleaseWaitDialog plain;
    QWidget* view = plain.panelView();
    ASSERT_NE(view, nullptr);
    ASSERT_NE(plain.btnCancel(), nullptr);
    EXPECT_TRUE(plain.btnCancel()->isHidden());
    ASSERT_NE(plain.progress(), nullptr);
    EXPECT_EQ(plain.progress()->maximum(), 0); // running without a known end
    EXPECT_EQ(plain.panelMinSize(), QSize(200, 40));
    EXPECT_TRUE(plain.panelSizeToHost());

    CountingWait quiet(false);
    QKWindowCancellable window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(quiet.panelView());
    window.setDelegate(&quiet);
    window.show();
    PressEscape(&window);
    EXPECT_EQ(quiet.cancels, 0);
    layout->removeWidget(quiet.panelView());
    quiet.panelView()->setParent(nullptr);
}

TEST(QKPleaseWaitDialogTest, EscapeAndTheButtonCancelAPanelThatOffersCancel)
{
    CountingWait wait(true);
    QKWindowCancellable window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(wait.panelView());
    window.setDelegate(&wait);
    window.show();
    ASSERT_FALSE(wait.btnCancel()->isHidden());

    // Escape with the focus on the button itself: the button does not use it.
    wait.btnCancel()->setFocus();
    PressEscape(wait.btnCancel());
    EXPECT_EQ(wait.cancels, 1);
    wait.btnCancel()->click();
    EXPECT_EQ(wait.cancels, 2);

    // A subclass that has disabled its button (cancelling already) is not cancelled again.
    wait.btnCancel()->setEnabled(false);
    PressEscape(&window);
    EXPECT_EQ(wait.cancels, 2);
    layout->removeWidget(wait.panelView());
    wait.panelView()->setParent(nullptr);
}

TEST(KRAExceptionTest, KeepsItsTextsAndTheStackOfItsThrow)
{
    try {
        throw KRAException(QStringLiteral("NSInvalidArgumentException"), QStringLiteral("bad index 7"),
                           QVariantMap{{QStringLiteral("index"), 7}});
    } catch (const std::exception& caught) {
        auto* own = dynamic_cast<const KRAException*>(&caught);
        ASSERT_NE(own, nullptr);
        EXPECT_STREQ(caught.what(), "bad index 7");
        EXPECT_EQ(own->name(), QStringLiteral("NSInvalidArgumentException"));
        EXPECT_EQ(own->userInfo().value(QStringLiteral("index")).toInt(), 7);
        ASSERT_FALSE(own->callStackSymbols().isEmpty());
        // The innermost frame is the test body, not the exception's own constructor.
        EXPECT_FALSE(own->callStackSymbols().first().contains(QStringLiteral("KRAException::")));
    }
}

} // namespace
