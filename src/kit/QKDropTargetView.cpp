#include "kit/QKDropTargetView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

QKDropTarget::~QKDropTarget() = default;

QKDropTarget* QKDropTargetView::dropTarget() const
{
    if (m_targetIsObject && !m_targetObject)
        return nullptr;
    return m_target;
}

void QKDropTargetView::setDropTarget(QKDropTarget* target)
{
    m_target = target;
    auto* object = dynamic_cast<QObject*>(target);
    m_targetObject = object;
    m_targetIsObject = object != nullptr;
    m_entered = Qt::IgnoreAction;
}

void QKDropTargetView::registerForDraggedTypes(const QStringList& mimeTypes)
{
    m_types = mimeTypes;
    setAcceptDrops(!m_types.isEmpty());
}

bool QKDropTargetView::offers(const QDropEvent* event) const
{
    const QMimeData* data = event->mimeData();
    if (!data || !dropTarget())
        return false;
    for (const QString& type : m_types) {
        if (data->hasFormat(type))
            return true;
    }
    return false;
}

void QKDropTargetView::dragEnterEvent(QDragEnterEvent* event)
{
    m_entered = Qt::IgnoreAction;
    if (offers(event)) {
        const Qt::DropAction action = dropTarget()->draggingEntered(event, this);
        // The source performs only what it offered.
        if (action != Qt::IgnoreAction && (event->possibleActions() & action))
            m_entered = action;
    }
    if (m_entered == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(m_entered);
    event->accept();
}

void QKDropTargetView::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_entered == Qt::IgnoreAction || !offers(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(m_entered);
    event->accept();
}

void QKDropTargetView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_entered = Qt::IgnoreAction;
    QWidget::dragLeaveEvent(event);
}

void QKDropTargetView::dropEvent(QDropEvent* event)
{
    const Qt::DropAction entered = m_entered;
    m_entered = Qt::IgnoreAction;
    if (!offers(event) || !dropTarget()->performDragOperation(event, this)) {
        event->ignore();
        return;
    }
    if (entered != Qt::IgnoreAction && (event->possibleActions() & entered))
        event->setDropAction(entered);
    event->accept();
}
