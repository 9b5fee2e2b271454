#include "kit/JQTintView.h"
#include "kit/KRAClickableTextField.h"
#include "kit/KitMenus.h"
#include "kit/QKAttributedText.h"
#include "kit/QKDropTargetView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>

namespace {

// ---- The clickable text field ----

void Release(QWidget* widget, const QPoint& at, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), button, button, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void PressKey(QWidget* widget, int key, bool autoRepeat = false)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(widget, &press);
}

TEST(KRAClickableTextField, ClicksAndCursorFollowTheEnabledState)
{
    QWidget parent;
    auto* field = new KRAClickableTextField(QStringLiteral("Update available"), &parent);
    field->resize(120, 20);
    int clicks = 0;
    QObject::connect(field, &KRAClickableTextField::clicked, [&] { ++clicks; });

    EXPECT_EQ(field->cursor().shape(), Qt::PointingHandCursor);
    Release(field, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    Release(field, QPoint(5, 5), Qt::RightButton);
    Release(field, QPoint(500, 5)); // let go outside: taken back
    EXPECT_EQ(clicks, 1);

    field->setEnabled(false);
    EXPECT_FALSE(field->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(field->cursor().shape(), Qt::ArrowCursor);
    Release(field, QPoint(5, 5));
    PressKey(field, Qt::Key_Space);
    EXPECT_EQ(clicks, 1);

    field->setEnabled(true);
    EXPECT_EQ(field->cursor().shape(), Qt::PointingHandCursor);
    Release(field, QPoint(5, 5));
    EXPECT_EQ(clicks, 2);

    // Disabled through its parent counts the same.
    parent.setEnabled(false);
    EXPECT_EQ(field->cursor().shape(), Qt::ArrowCursor);
    parent.setEnabled(true);
    EXPECT_EQ(field->cursor().shape(), Qt::PointingHandCursor);
}

TEST(KRAClickableTextField, KeyboardReachesAndActivatesIt)
{
    KRAClickableTextField field(QStringLiteral("link"));
    EXPECT_TRUE(field.focusPolicy() & Qt::TabFocus);
    int clicks = 0;
    QObject::connect(&field, &KRAClickableTextField::clicked, [&] { ++clicks; });
    for (const int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter})
        PressKey(&field, key);
    PressKey(&field, Qt::Key_Return, true); // a held key does not click again
    PressKey(&field, Qt::Key_A);
    EXPECT_EQ(clicks, 3);
}

// ---- The tint view ----

QColor CentrePixel(QWidget& view)
{
    const QImage image = view.grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

TEST(JQTintView, DrawsTheBaseAndTheTintOverIt)
{
    JQTintView view;
    view.resize(40, 30);
    view.setAutoFillBackground(true);
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    view.setPalette(palette);
    EXPECT_FALSE(view.tint().isValid());
    EXPECT_EQ(CentrePixel(view), QColor(10, 200, 30));

    view.setTint(QColor(200, 0, 0));
    EXPECT_EQ(view.tint(), QColor(200, 0, 0));
    EXPECT_EQ(CentrePixel(view), QColor(200, 0, 0));

    view.setTint(QColor());
    EXPECT_EQ(CentrePixel(view), QColor(10, 200, 30));
}

// ---- The drop target view ----

class RecordingTarget : public QObject, public QKDropTarget {
public:
    Qt::DropAction answer = Qt::CopyAction;
    bool accept = true;
    int entered = 0;
    int dropped = 0;
    QKDropTargetView* seenView = nullptr;
    QString seenText;

    Qt::DropAction draggingEntered(QDragEnterEvent* event, QKDropTargetView* view) override
    {
        ++entered;
        seenView = view;
        seenText = event->mimeData()->text();
        return answer;
    }
    bool performDragOperation(QDropEvent* event, QKDropTargetView* view) override
    {
        ++dropped;
        seenView = view;
        seenText = event->mimeData()->text();
        return accept;
    }
};

struct DragResult {
    bool enterAccepted;
    Qt::DropAction enterAction;
    bool dropAccepted;
};

DragResult DragOnto(QKDropTargetView& view, const QMimeData& data,
                    Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
{
    QDragEnterEvent enter(QPoint(5, 5), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &enter);
    QDropEvent drop(QPointF(5, 5), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drop);
    return {enter.isAccepted(), enter.dropAction(), drop.isAccepted()};
}

TEST(QKDropTargetView, HandsRegisteredDragsToItsTarget)
{
    QKDropTargetView view;
    RecordingTarget target;
    view.setDropTarget(&target);
    view.registerForDraggedTypes({QStringLiteral("text/uri-list"), QStringLiteral("text/plain")});
    EXPECT_TRUE(view.acceptDrops());

    QMimeData text;
    text.setText(QStringLiteral("/movies/a.mkv"));
    DragResult result = DragOnto(view, text);
    EXPECT_TRUE(result.enterAccepted);
    EXPECT_EQ(result.enterAction, Qt::CopyAction);
    EXPECT_TRUE(result.dropAccepted);
    EXPECT_EQ(target.entered, 1);
    EXPECT_EQ(target.dropped, 1);
    EXPECT_EQ(target.seenView, &view);
    EXPECT_EQ(target.seenText, QStringLiteral("/movies/a.mkv"));

    // The target's refusals reach the drag.
    target.accept = false;
    EXPECT_FALSE(DragOnto(view, text).dropAccepted);
    target.answer = Qt::IgnoreAction;
    EXPECT_FALSE(DragOnto(view, text).enterAccepted);
    // An action the source does not offer is no answer it can use.
    target.answer = Qt::LinkAction;
    EXPECT_FALSE(DragOnto(view, text, Qt::CopyAction).enterAccepted);

    // A drag carrying none of the registered types never reaches the target.
    const int before = target.entered + target.dropped;
    QMimeData image;
    image.setData(QStringLiteral("image/png"), QByteArray("x"));
    result = DragOnto(view, image);
    EXPECT_FALSE(result.enterAccepted);
    EXPECT_FALSE(result.dropAccepted);
    EXPECT_EQ(target.entered + target.dropped, before);
}

TEST(QKDropTargetView, WithoutATargetEverythingIsRefused)
{
    QKDropTargetView view;
    view.registerForDraggedTypes({QStringLiteral("text/plain")});
    QMimeData text;
    text.setText(QStringLiteral("x"));
    DragResult result = DragOnto(view, text);
    EXPECT_FALSE(result.enterAccepted);
    EXPECT_FALSE(result.dropAccepted);

    // A target that is destroyed is forgotten, not called.
    auto target = std::make_unique<RecordingTarget>();
    view.setDropTarget(target.get());
    EXPECT_TRUE(DragOnto(view, text).dropAccepted);
    target.reset();
    EXPECT_EQ(view.dropTarget(), nullptr);
    result = DragOnto(view, text);
    EXPECT_FALSE(result.enterAccepted);
    EXPECT_FALSE(result.dropAccepted);

    view.registerForDraggedTypes({});
    EXPECT_FALSE(view.acceptDrops());
}

// ---- Menus and check marks ----

TEST(KitMenus, ItemsSubmenusAndSeparators)
{
    QMenu menu;
    QObject receiver;
    int fromReceiver = 0;
    int fromFunction = 0;
    QAction* first = addItemWithTitle(&menu, QStringLiteral("Tom & Jerry.mkv"), &receiver, [&] { ++fromReceiver; });
    QAction* separator = addSeparator(&menu);
    QAction* second = addItemWithTitle(&menu, QStringLiteral("Reveal"), [&] { ++fromFunction; });
    auto* submenu = new QMenu;
    addItemWithTitle(submenu, QStringLiteral("Inner"));
    QAction* sub = addSubMenu(&menu, submenu, QStringLiteral("Recent"));

    ASSERT_EQ(menu.actions().size(), 4);
    EXPECT_EQ(menu.actions(), (QList<QAction*>{first, separator, second, sub}));
    EXPECT_TRUE(separator->isSeparator());
    // What the user reads is the title itself, with no mnemonic taken out of it.
    EXPECT_EQ(first->iconText(), QStringLiteral("Tom & Jerry.mkv"));
    EXPECT_TRUE(first->shortcut().isEmpty());
    EXPECT_EQ(sub->menu(), submenu);
    EXPECT_EQ(sub->iconText(), QStringLiteral("Recent"));
    EXPECT_EQ(submenu->parent(), &menu);
    EXPECT_TRUE(submenu->windowFlags() & Qt::Popup);

    first->trigger();
    second->trigger();
    EXPECT_EQ(fromReceiver, 1);
    EXPECT_EQ(fromFunction, 1);
}

TEST(KitMenus, CheckedReadsAndSetsTheOnState)
{
    QAction action(QStringLiteral("Show Log"));
    EXPECT_FALSE(checked(&action));
    setChecked(&action, true);
    EXPECT_TRUE(checked(&action));

    QPushButton button;
    setChecked(&button, true);
    EXPECT_TRUE(checked(&button));

    QCheckBox box;
    box.setTristate(true);
    box.setCheckState(Qt::PartiallyChecked);
    EXPECT_FALSE(checked(&box));
    setChecked(&box, true);
    EXPECT_EQ(box.checkState(), Qt::Checked);
    EXPECT_TRUE(checked(&box));
    setChecked(&box, false);
    EXPECT_EQ(box.checkState(), Qt::Unchecked);
}

// ---- Hyperlink text ----

TEST(QKAttributedTextLink, LinkRunsBecomeAnchors)
{
    const QUrl url(QStringLiteral("https://example.org/get it?v=2"));
    const QKAttributedText link = QKAttributedText::hyperlinkFromString(QStringLiteral("Download"), url);
    ASSERT_EQ(link.runs().size(), 1);
    EXPECT_EQ(link.runs()[0].link, url);
    EXPECT_EQ(link.runs()[0].color, QColor(Qt::blue));
    EXPECT_EQ(link.plainText(), QStringLiteral("Download"));

    // Plain text on either side of the link stays plain, even written right behind it.
    QTextDocument document;
    QTextCursor cursor(&document);
    QKAttributedText before;
    before.append(QStringLiteral("New: "));
    before.insertInto(cursor);
    link.insertInto(cursor);
    QKAttributedText after;
    after.append(QStringLiteral(" now"));
    after.insertInto(cursor);
    EXPECT_EQ(document.toPlainText(), QStringLiteral("New: Download now"));

    QList<QTextFragment> fragments;
    for (auto it = document.begin().begin(); !it.atEnd(); ++it)
        fragments.append(it.fragment());
    ASSERT_EQ(fragments.size(), 3);
    const QTextCharFormat anchor = fragments[1].charFormat();
    EXPECT_TRUE(anchor.isAnchor());
    EXPECT_EQ(QUrl(anchor.anchorHref()), url);
    EXPECT_EQ(anchor.underlineStyle(), QTextCharFormat::SingleUnderline);
    EXPECT_EQ(anchor.foreground().color(), QColor(Qt::blue));
    EXPECT_FALSE(fragments[0].charFormat().isAnchor());
    EXPECT_FALSE(fragments[2].charFormat().isAnchor());
    EXPECT_TRUE(document.toHtml().contains(QStringLiteral("<a href=\"https://example.org/get%20it?v=2\"")));

    // Appending to a link never stretches it.
    QKAttributedText extended = link;
    extended.append(QStringLiteral("!"), QColor(Qt::blue));
    ASSERT_EQ(extended.runs().size(), 2);
    EXPECT_TRUE(extended.runs()[1].link.isEmpty());
}

TEST(QKAttributedTextLink, ALinkWithoutAUsableUrlIsPlainText)
{
    for (const QUrl& url : {QUrl(), QUrl(QStringLiteral("http://[broken"))}) {
        const QKAttributedText text = QKAttributedText::hyperlinkFromString(QStringLiteral("Help"), url);
        ASSERT_EQ(text.runs().size(), 1);
        EXPECT_TRUE(text.runs()[0].link.isEmpty());
        EXPECT_FALSE(text.runs()[0].color.isValid());
    }
    EXPECT_TRUE(QKAttributedText::hyperlinkFromString(QString(), QUrl(QStringLiteral("https://x.org"))).isEmpty());
}

} // namespace
