#include "setup/QKConcatenateOrderDialog.h"

#include <QAction>
#include <QDataStream>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

#include <unistd.h>

#include <atomic>

#include "kit/KitListMove.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "progress/KRAConversionHost.h"
#include "xclass/XFile.h"

namespace {

const char kTypeID[] = "com.marvoni.video.concat.id";
const char kTypeIndexes[] = "com.marvoni.video.concat.indexes";

std::atomic<unsigned> g_viewCounter{0};

} // namespace

// The list: drags carry the dialog's identity, drops go between rows.
class QKConcatenateOrderList : public QListWidget {
public:
    explicit QKConcatenateOrderList(QKConcatenateOrderDialog* owner) : m_owner(owner)
    {
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setDragEnabled(true);
        setAcceptDrops(true);
        setDropIndicatorShown(true);
        setDragDropMode(QAbstractItemView::DragDrop);
    }

protected:
    QStringList mimeTypes() const override { return {QString::fromLatin1(kTypeID), QString::fromLatin1(kTypeIndexes)}; }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override
    {
        QList<int> rows;
        for (QListWidgetItem* item : items)
            rows.append(row(item));
        return m_owner ? m_owner->mimeDataForRows(rows) : nullptr;
    }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    // The gap a drop at pos falls into, and whether it is a gap at all (not onto a row's middle).
    int dropRow(const QPoint& pos, bool* between) const
    {
        const QModelIndex index = indexAt(pos);
        *between = true;
        if (!index.isValid())
            return count();
        const QRect rect = visualRect(index);
        const int margin = std::max(2, rect.height() / 4);
        if (pos.y() < rect.top() + margin)
            return index.row();
        if (pos.y() >= rect.bottom() - margin)
            return index.row() + 1;
        *between = false;
        return index.row();
    }
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (m_owner && event->mimeData()->hasFormat(QString::fromLatin1(kTypeID)))
            event->acceptProposedAction();
        else
            event->ignore();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        QListWidget::dragMoveEvent(event);
        bool between = false;
        const int row = dropRow(event->position().toPoint(), &between);
        if (m_owner && m_owner->validateDrop(event->mimeData(), row, between))
            event->acceptProposedAction();
        else
            event->ignore();
    }
    void dropEvent(QDropEvent* event) override
    {
        bool between = false;
        const int row = dropRow(event->position().toPoint(), &between);
        if (!m_owner || !m_owner->validateDrop(event->mimeData(), row, between)) {
            event->ignore();
            return;
        }
        // The rows are rebuilt once the drag has ended, not under the drag's feet.
        auto data = std::make_shared<QMimeData>();
        for (const QString& format : event->mimeData()->formats())
            data->setData(format, event->mimeData()->data(format));
        QTimer::singleShot(0, m_owner, [owner = m_owner, data, row] {
            if (owner)
                owner->acceptDrop(data.get(), row);
        });
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (m_owner && (event->modifiers() & Qt::AltModifier) &&
            (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
            m_owner->moveSelection(event->key() == Qt::Key_Up ? -1 : 1);
            return;
        }
        QListWidget::keyPressEvent(event);
    }

private:
    QPointer<QKConcatenateOrderDialog> m_owner;
};

QKConcatenateOrderDialog::QKConcatenateOrderDialog()
{
    setTitle(QStringLiteral("Concatenate Setup"));
    m_viewID = QStringLiteral("viewID-%1-%2").arg(getpid()).arg(++g_viewCounter);
}

QKConcatenateOrderDialog::~QKConcatenateOrderDialog() = default;

void QKConcatenateOrderDialog::setSources(const QList<QUrl>& sources)
{
    m_sources = sources;
    reloadTable();
}

void QKConcatenateOrderDialog::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    auto* label = new QLabel(QStringLiteral("The files are joined in this &order; drag them (or press Alt+Up and "
                                            "Alt+Down) to change it:"),
                             view);
    label->setWordWrap(true);
    m_table = new QKConcatenateOrderList(this);
    m_table->setParent(view);
    label->setBuddy(m_table);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* reveal = new QAction(QStringLiteral("Reveal in File Manager"), m_table);
    m_table->addAction(reveal);
    connect(reveal, &QAction::triggered, this, &QKConcatenateOrderDialog::onRevealInFileManager);
    connect(m_table, &QListWidget::itemSelectionChanged, this,
            [this, reveal] { reveal->setEnabled(!m_table->selectedItems().isEmpty()); });
    reveal->setEnabled(false);
    layout->addWidget(label);
    layout->addWidget(m_table, 1);

    auto* buttons = new QHBoxLayout;
    auto* back = new QPushButton(QStringLiteral("&Back"), view);
    m_proceed = new QPushButton(QStringLiteral("&Proceed"), view);
    m_proceed->setDefault(true);
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(m_proceed);
    layout->addLayout(buttons);
    connect(back, &QPushButton::clicked, this, &QKConcatenateOrderDialog::onGoBack);
    connect(m_proceed, &QPushButton::clicked, this, &QKConcatenateOrderDialog::onProceed);
    setView(view);
    reloadTable();
}

void QKConcatenateOrderDialog::reloadTable(const QList<int>& select)
{
    if (!m_table)
        return;
    m_table->clear();
    for (const QUrl& url : m_sources) {
        auto* item = new QListWidgetItem(url.fileName(), m_table);
        item->setToolTip(url.toLocalFile());
    }
    for (int row : select)
        if (QListWidgetItem* item = m_table->item(row))
            item->setSelected(true);
    if (!select.isEmpty())
        m_table->setCurrentRow(select.first(), QItemSelectionModel::NoUpdate);
    if (m_proceed)
        m_proceed->setEnabled(m_sources.size() > 1);
}

QMimeData* QKConcatenateOrderDialog::mimeDataForRows(const QList<int>& rows) const
{
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kTypeID), m_viewID.toUtf8());
    QByteArray indexes;
    QDataStream stream(&indexes, QIODevice::WriteOnly);
    stream << rows;
    data->setData(QString::fromLatin1(kTypeIndexes), indexes);
    return data;
}

bool QKConcatenateOrderDialog::validateDrop(const QMimeData* data, int row, bool between) const
{
    (void)row;
    return data && between && QString::fromUtf8(data->data(QString::fromLatin1(kTypeID))) == m_viewID;
}

bool QKConcatenateOrderDialog::acceptDrop(const QMimeData* data, int row)
{
    if (!validateDrop(data, row, true))
        return false;
    QList<int> rows;
    QDataStream stream(data->data(QString::fromLatin1(kTypeIndexes)));
    stream >> rows;
    if (stream.status() != QDataStream::Ok || rows.isEmpty())
        return false;
    const QList<int> now = KitMoveBlock(m_sources, rows, row);
    if (now.isEmpty())
        return false;
    reloadTable(now);
    return true;
}

void QKConcatenateOrderDialog::moveSelection(int by)
{
    QList<int> rows;
    for (QListWidgetItem* item : m_table->selectedItems())
        rows.append(m_table->row(item));
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    // The block moves one gap up or down, counted before the move.
    const int target = by < 0 ? rows.first() - 1 : rows.last() + 2;
    if (target < 0 || target > m_sources.size())
        return;
    reloadTable(KitMoveBlock(m_sources, rows, target));
}

void QKConcatenateOrderDialog::onGoBack()
{
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    const std::shared_ptr<KRAPanel> back = m_returnTo.lock();
    if (host && back)
        host->setCurrentPanel(back);
    else if (host)
        host->returnToRootOrClose();
}

void QKConcatenateOrderDialog::onProceed()
{
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    auto* conversion = dynamic_cast<KRAConversionHost*>(host.get());
    if (!conversion || m_sources.size() < 2)
        return;
    auto concat = std::make_shared<QKConvertSourceConcat>();
    concat->setConcatURLs(m_sources);
    conversion->preConvertFrom({concat}, m_returnTo.lock());
}

void QKConcatenateOrderDialog::onRevealInFileManager()
{
    QList<QUrl> selected;
    for (QListWidgetItem* item : m_table->selectedItems())
        selected.append(m_sources.value(m_table->row(item)));
    if (!selected.isEmpty())
        XRevealInFileManager(selected);
}

bool QKConcatenateOrderDialog::writeConcatList(const QString& path, const QList<QUrl>& sources, QString* error)
{
    std::string list;
    for (const QUrl& url : sources) {
        const XStr file = XPathFromFileURL(url);
        if (file.IsEmpty()) {
            if (error)
                *error = QStringLiteral("'%1' is not a local file.").arg(url.toDisplayString());
            return false;
        }
        if (file.FindChar(L'\n') > 0 || file.FindChar(L'\r') > 0) {
            if (error)
                *error = QStringLiteral("The name of \"%1\" holds a line break: files with such names cannot be "
                                        "joined. Please rename the file first.")
                             .arg(XStrToQString(file).simplified());
            return false;
        }
        XStr escaped = file;
        escaped.Replace(L"'", L"'\\''");
        if (!list.empty())
            list += '\n';
        list += "file '" + escaped.ToUTF8String() + "'";
    }
    if (!XFileWriteDirect(XStrFromQString(path), list.data(), list.size())) {
        if (error)
            *error = QStringLiteral("The list of files to join could not be written to \"%1\".").arg(path);
        return false;
    }
    return true;
}

std::shared_ptr<QKConvertSourceTemp> QKConcatenateOrderDialog::makeConcatSource()
{
    if (m_sources.isEmpty())
        return nullptr;
    std::shared_ptr<QKConvertSourceTemp> source =
        QKConvertSourceTemp::withURL(m_sources.first(), QStringLiteral("-f concat -safe 0"));
    QString error;
    if (source && writeConcatList(XStrToQString(source->tempPath()), m_sources, &error)) {
        source->setSpecialActionDesc(QStringLiteral("concatenating"));
        return source;
    }
    if (error.isEmpty())
        error = QStringLiteral("No temporary file could be made for the list of files to join.");
    const std::shared_ptr<KRAPanelHostInterface> host = m_host.lock();
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Concatenate Setup"), error, QMessageBox::Ok,
                                  host ? host->mainWindow() : nullptr);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    return nullptr;
}
