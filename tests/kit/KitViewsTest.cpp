#include "kit/KitViews.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>

namespace {

void RunDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Shows the container at the size and lets its layout place the views.
void LayOut(QWidget& container, const QSize& size)
{
    container.resize(size);
    container.show();
    if (container.layout())
        container.layout()->activate();
    QCoreApplication::processEvents();
}

TEST(KitViewsStack, OneViewFillsAllFourEdgesAndFollowsTheContainer)
{
    QWidget container;
    auto* view = new QWidget;
    makeVerticalStack(&container, {view}, 7);
    EXPECT_EQ(view->parentWidget(), &container);
    LayOut(container, QSize(300, 200));
    EXPECT_EQ(view->geometry(), QRect(0, 0, 300, 200));
    LayOut(container, QSize(410, 90));
    EXPECT_EQ(view->geometry(), QRect(0, 0, 410, 90));

    QWidget row;
    auto* only = new QWidget;
    makeHorizontalStack(&row, {only}, 3);
    LayOut(row, QSize(120, 40));
    EXPECT_EQ(only->geometry(), QRect(0, 0, 120, 40));
}

TEST(KitViewsStack, ViewsFollowEachOtherWithTheSpacingAndSpanTheContainer)
{
    QWidget container;
    auto* top = new QLabel(QStringLiteral("top"));
    auto* bottom = new QLabel(QStringLiteral("bottom"));
    makeVerticalStack(&container, {top, bottom}, 6);
    LayOut(container, QSize(200, 150));
    EXPECT_EQ(top->y(), 0);
    EXPECT_EQ(bottom->y(), top->geometry().bottom() + 1 + 6);
    EXPECT_EQ(bottom->geometry().bottom(), 149);
    EXPECT_EQ(bottom->width(), 200);

    // A negative spacing puts neighbours side by side; it is not the style's spacing.
    QWidget row;
    auto* left = new QLabel(QStringLiteral("left"));
    auto* right = new QLabel(QStringLiteral("right"));
    makeHorizontalStack(&row, {left, right}, -5);
    LayOut(row, QSize(200, 30));
    EXPECT_EQ(left->x(), 0);
    EXPECT_EQ(right->x(), left->geometry().right() + 1);
    EXPECT_EQ(right->geometry().right(), 199);
    EXPECT_EQ(left->height(), 30);
}

TEST(KitViewsStack, RestackingKeepsListedViewsAndDeletesTheOthers)
{
    QWidget container;
    QPointer<QWidget> kept = new QWidget;
    QPointer<QWidget> dropped = new QWidget;
    auto* dialog = new QDialog(&container); // a window of its own, not a view inside it
    makeVerticalStack(&container, {kept, dropped}, 0);

    QPointer<QWidget> added = new QWidget;
    makeVerticalStack(&container, {added, nullptr, kept, added}, 0);
    RunDeferredDeletes();
    EXPECT_TRUE(kept);
    EXPECT_TRUE(added);
    EXPECT_FALSE(dropped);
    ASSERT_NE(container.layout(), nullptr);
    EXPECT_EQ(container.layout()->count(), 2);
    EXPECT_EQ(container.layout()->indexOf(added), 0);
    EXPECT_EQ(container.layout()->indexOf(kept), 1);
    EXPECT_EQ(dialog->parent(), &container);

    // Taken out and put back in the same turn: it is wanted after all.
    makeVerticalStack(&container, {}, 0);
    EXPECT_EQ(container.layout(), nullptr);
    EXPECT_EQ(findSubViewOfClass(&container), nullptr);
    makeHorizontalStack(&container, {kept}, 0);
    RunDeferredDeletes();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->parentWidget(), &container);
    LayOut(container, QSize(50, 50));
    EXPECT_TRUE(kept->isVisible());
    EXPECT_FALSE(added);

    clearStack(&container);
    RunDeferredDeletes();
    EXPECT_FALSE(kept);
    EXPECT_EQ(container.layout(), nullptr);
    EXPECT_EQ(dialog->parent(), &container);

    // A button may replace the stack it stands in from its own click.
    QPointer<QPushButton> button = new QPushButton(QStringLiteral("Next"));
    auto* next = new QLabel(QStringLiteral("page 2"));
    makeVerticalStack(&container, {button}, 0);
    QObject::connect(button, &QPushButton::clicked, [&] { makeVerticalStack(&container, {next}, 0); });
    button->click();
    RunDeferredDeletes();
    EXPECT_FALSE(button);
    EXPECT_EQ(findSubViewOfClass(&container), next);
}

TEST(KitViewsStack, EmbeddedViewFillsItsParentAndReplacesItsLayout)
{
    QWidget parent;
    auto* old = new QLabel(QStringLiteral("old"), &parent);
    auto* oldLayout = new QVBoxLayout(&parent);
    oldLayout->addWidget(old);
    auto* view = new QWidget;
    embedInView(view, &parent);
    EXPECT_EQ(view->parentWidget(), &parent);
    EXPECT_EQ(old->parentWidget(), &parent);
    ASSERT_NE(parent.layout(), nullptr);
    EXPECT_EQ(parent.layout()->count(), 1);
    EXPECT_EQ(parent.layout()->indexOf(view), 0);
    LayOut(parent, QSize(250, 130));
    EXPECT_EQ(view->geometry(), QRect(0, 0, 250, 130));

    QWidget alone;
    alone.resize(40, 40);
    embedInView(&alone, nullptr);
    EXPECT_TRUE(alone.geometry().isEmpty());
}

TEST(KitViewsFind, DirectChildrenByTypeAndName)
{
    QWidget empty;
    EXPECT_EQ(findSubViewOfClass(&empty), nullptr);
    EXPECT_EQ(findSubViewOfClass<QLabel>(nullptr), nullptr);
    EXPECT_EQ(findButton(&empty), nullptr);

    QWidget parent;
    new QDialog(&parent); // a child window is no view of it
    auto* label = new QLabel(&parent);
    auto* named = new QLabel(&parent);
    named->setObjectName(QStringLiteral("status"));
    auto* box = new QCheckBox(&parent);
    auto* browser = new QTextBrowser(&parent);
    auto* deep = new QPushButton(label); // a grandchild is not a direct child

    EXPECT_EQ(findSubViewOfClass(&parent), label);
    EXPECT_EQ(findSubViewOfClass<QLabel>(&parent, QStringLiteral("status")), named);
    EXPECT_EQ(findSubViewOfClass(&parent, QStringLiteral("status")), named);
    EXPECT_EQ(findSubViewOfClass<QCheckBox>(&parent, QStringLiteral("status")), nullptr);
    EXPECT_EQ(findSubViewOfClass<QPushButton>(&parent), nullptr);
    EXPECT_EQ(findButton(&parent), box);
    EXPECT_EQ(findTextView(&parent), browser);

    // Raising a view moves it to the end of the child order.
    label->raise();
    EXPECT_EQ(findSubViewOfClass<QLabel>(&parent), named);

    QWidget plain;
    new QLabel(&plain);
    auto* edit = new QPlainTextEdit(&plain);
    EXPECT_EQ(findTextView(&plain), edit);
    EXPECT_EQ(recurFindSubViewOfClass<QPushButton>(&parent), deep);
}

TEST(KitViewsFind, BreadthFirstSearchReachesPastHundredsOfSiblingsAndPrefersTheShallowest)
{
    QWidget root;
    // 500 non-matching views, each with a child of its own, then a branch whose grandchild
    // matches: the queue is trimmed many times on the way.
    for (int i = 0; i < 500; ++i)
        new QLabel(new QWidget(&root));
    auto* branch = new QWidget(&root);
    auto* middle = new QWidget(branch);
    auto* wanted = new QCheckBox(middle);
    wanted->setObjectName(QStringLiteral("wanted"));
    EXPECT_EQ(recurFindSubViewOfClass<QCheckBox>(&root), wanted);
    EXPECT_EQ(recurFindSubViewOfClass(&root, QStringLiteral("wanted")), wanted);
    EXPECT_EQ(recurFindSubViewOfClass<QCheckBox>(&root, QStringLiteral("other")), nullptr);

    // A match one level up, added later in child order, still comes first.
    auto* shallow = new QCheckBox(new QWidget(&root));
    shallow->setObjectName(QStringLiteral("wanted"));
    EXPECT_EQ(recurFindSubViewOfClass<QCheckBox>(&root, QStringLiteral("wanted")), shallow);

    // The receiver itself is not tested.
    EXPECT_EQ(recurFindSubViewOfClass<QCheckBox>(wanted), nullptr);
}

} // namespace
