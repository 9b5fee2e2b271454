// A view that hands drags and drops to an owner that need not be a view, so that a panel can
// take drops on any area of its window.
//
// The owner implements QKDropTarget, calls setDropTarget and registerForDraggedTypes with
// the MIME types it takes. The view offers the owner only drags that carry one of them; with
// no owner (or none left) it refuses everything.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QDragEnterEvent;
class QDropEvent;
class QKDropTargetView;

class QKDropTarget {
public:
    virtual ~QKDropTarget();
    // The action the drag would have here; Qt::IgnoreAction refuses it.
    virtual Qt::DropAction draggingEntered(QDragEnterEvent* event, QKDropTargetView* view) = 0;
    // Takes the drop; false refuses it.
    virtual bool performDragOperation(QDropEvent* event, QKDropTargetView* view) = 0;
};

class QKDropTargetView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Held weakly. A target that is also a QObject is forgotten when it is destroyed; any
    // other target must be cleared (setDropTarget(nullptr)) by its owner before it goes.
    QKDropTarget* dropTarget() const;
    void setDropTarget(QKDropTarget* target);

    // The MIME types a drag must carry one of to be offered to the target. Turns taking drops
    // on (or off, for an empty list).
    void registerForDraggedTypes(const QStringList& mimeTypes);
    QStringList registeredDraggedTypes() const { return m_types; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool offers(const QDropEvent* event) const;

    QKDropTarget* m_target = nullptr;
    QPointer<QObject> m_targetObject; // set when the target is a QObject
    bool m_targetIsObject = false;
    QStringList m_types;
    // What the target answered when the drag came in; kept while the drag moves over the view.
    Qt::DropAction m_entered = Qt::IgnoreAction;
};
