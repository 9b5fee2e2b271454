#include "kit/JQFileListDialog.h"

#include <QAbstractTableModel>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "kit/SheetFallback.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XFileRewrite.h"

namespace {

// One column, one row per URL: the URL's full path. The model keeps its own copy of the list,
// so the table never reaches into the panel.
class FileListModel : public QAbstractTableModel {
public:
    explicit FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

    void setURLs(const QList<QUrl>& urls)
    {
        beginResetModel();
        m_paths.clear();
        m_paths.reserve(urls.size());
        for (const QUrl& url : urls)
            m_paths.append(JQFileListDialog::pathText(url));
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_paths.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 1; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_paths.size())
            return QVariant();
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_paths.at(index.row());
        return QVariant();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
            return JQFileListDialog::tr("Path");
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    QStringList m_paths;
};

} // namespace

JQFileListDialog::JQFileListDialog(QObject* parent) : QKPanelViewController(parent)
{
    m_model = new FileListModel(this);
}

JQFileListDialog::~JQFileListDialog()
{
    // The view outlives this destructor body (the base class deletes it): cut the table off
    // from the model and from this panel first, so nothing it does on the way out reaches a
    // panel that is half gone.
    if (m_table) {
        QItemSelectionModel* selection = m_table->selectionModel();
        QObject::disconnect(m_table, nullptr, this, nullptr);
        if (selection)
            QObject::disconnect(selection, nullptr, this, nullptr);
        m_table->setModel(nullptr);
        if (selection && selection->model() == m_model)
            delete selection;
    }
}

std::shared_ptr<JQFileListDialog> JQFileListDialog::startWithURLs(const QList<QUrl>& urls,
                                                                  const std::shared_ptr<KRAPanelHostInterface>& host,
                                                                  const std::shared_ptr<KRAPanel>& returnTo)
{
    auto panel = std::make_shared<JQFileListDialog>();
    panel->setArrFileURLs(urls);
    panel->setPanelHost(host);
    panel->setPanelReturnTo(returnTo);
    if (host)
        host->setCurrentPanel(panel);
    return panel;
}

void JQFileListDialog::setArrFileURLs(const QList<QUrl>& urls)
{
    m_urls = urls;
    static_cast<FileListModel*>(m_model)->setURLs(urls);
}

QString JQFileListDialog::pathText(const QUrl& url)
{
    // Through the lossless bridge: a name that is not UTF-8 must not show (or be copied and
    // saved) as a replacement character, which could be the name of another file.
    return XStrToQString(XPathFromFileURL(url));
}

QString JQFileListDialog::mergeURLs(const QList<QUrl>& urls)
{
    QString text;
    for (const QUrl& url : urls) {
        const QString path = pathText(url);
        if (path.isEmpty())
            continue;
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += path;
    }
    return text;
}

QList<int> JQFileListDialog::selectedIndexes() const
{
    QList<int> rows;
    if (m_table && m_table->selectionModel()) {
        for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        // Rows beyond the list cannot be selected, but the list is the authority.
        rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int row) { return row >= m_urls.size(); }),
                   rows.end());
    }
    if (rows.isEmpty()) {
        for (int row = 0; row < m_urls.size(); ++row)
            rows.append(row);
    }
    return rows;
}

QList<QUrl> JQFileListDialog::selectedURLs() const
{
    QList<QUrl> urls;
    for (const int row : selectedIndexes())
        urls.append(m_urls.at(row));
    return urls;
}

QString JQFileListDialog::selectedURLsAsText() const
{
    return mergeURLs(selectedURLs());
}

void JQFileListDialog::loadView()
{
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("JQFileListDialog"));
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);

    auto* table = new QTableView(view);
    table->setObjectName(QStringLiteral("table"));
    table->setModel(m_model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the buttons instead of walking its cells.
    table->setTabKeyNavigation(false);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    // Long paths keep their start and their file name.
    table->setTextElideMode(Qt::ElideMiddle);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // One line of text a row: a long list should fit many paths at once.
    table->verticalHeader()->setMinimumSectionSize(table->fontMetrics().height() + 4);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    layout->addWidget(table, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    auto makeButton = [&](const QString& text, const char* name, void (JQFileListDialog::*action)()) {
        auto* button = new QPushButton(text, view);
        button->setObjectName(QLatin1String(name));
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, action);
        buttons->addWidget(button);
        return button;
    };
    QPushButton* save = makeButton(tr("Save List…"), "btnSaveList", &JQFileListDialog::onSaveList);
    QPushButton* reveal = makeButton(tr("Reveal in File Manager"), "btnReveal", &JQFileListDialog::onRevealinFinder);
    QPushButton* copy = makeButton(tr("Copy Path"), "btnCopyPath", &JQFileListDialog::onCopyPath);
    buttons->addStretch(1);
    QPushButton* ok = makeButton(tr("OK"), "btnOK", &JQFileListDialog::onOK);
    ok->setDefault(true);
    ok->setMinimumWidth(80);
    layout->addLayout(buttons);

    QWidget::setTabOrder(table, save);
    QWidget::setTabOrder(save, reveal);
    QWidget::setTabOrder(reveal, copy);
    QWidget::setTabOrder(copy, ok);
    view->setFocusProxy(table);

    // A default button acts on Return only inside a QDialog; the panel lives in a host
    // window, so Return is bound here. Ctrl+C copies every selected path, where the table on
    // its own would copy only the current cell.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, view);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &JQFileListDialog::onOK);
    }
    auto* copyShortcut = new QShortcut(QKeySequence::Copy, view);
    copyShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(copyShortcut, &QShortcut::activated, this, &JQFileListDialog::onCopyPath);

    m_table = table;
    setView(view);
}

void JQFileListDialog::panelDidBecomeVisible()
{
    if (m_table)
        m_table->setFocus(Qt::OtherFocusReason);
}

void JQFileListDialog::onOK()
{
    // The host keeps this panel alive until the current event has been handled, so nothing
    // here is touched after the switch; still, do nothing after it.
    if (auto host = m_host.lock())
        host->setCurrentPanel(m_returnTo);
}

void JQFileListDialog::onRevealinFinder()
{
    // Only local files: with no file manager answering, the folder of the first URL is
    // opened, and that of a web address would open a browser.
    QList<QUrl> urls;
    for (const QUrl& url : selectedURLs()) {
        if (!pathText(url).isEmpty())
            urls.append(url);
    }
    if (!urls.isEmpty())
        XRevealInFileManager(urls);
}

void JQFileListDialog::onCopyPath()
{
    const QString text = selectedURLsAsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void JQFileListDialog::onSaveList()
{
    const QString text = mergeURLs(m_urls);
    if (text.isEmpty())
        return;
    // The dialog may outlive the panel (it belongs to the host's window).
    const QPointer<JQFileListDialog> self(this);
    chooseSaveLocation([self, text](const QString& path) {
        if (self && !path.isEmpty())
            self->saveTo(path, text);
    });
}

QWidget* JQFileListDialog::hostWindow()
{
    if (auto host = m_host.lock()) {
        if (QWidget* window = host->mainWindow())
            return window;
    }
    return isViewLoaded() ? view()->window() : nullptr;
}

void JQFileListDialog::chooseSaveLocation(SaveLocationHandler handler)
{
    if (m_saveDialog && m_saveDialog->isVisible())
        return; // one save dialog at a time
    QWidget* parent = hostWindow();
    auto* dialog = new QFileDialog(parent, tr("Save List"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(tr("Text files (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    m_saveDialog = dialog;
    SheetFallback::beginFileSheet(dialog, parent, [handler = std::move(handler)](const QString& path) {
        if (handler)
            handler(path);
    });
}

void JQFileListDialog::saveTo(const QString& path, const QString& text)
{
    QString reason;
    if (!writeText(path, text, &reason))
        reportSaveFailure(path, reason);
}

bool JQFileListDialog::writeText(const QString& path, const QString& text, QString* reason)
{
    // The lossless bridge gives the bytes of names that are not UTF-8 back unchanged.
    const XStr target = XStrFromQString(path);
    const std::string bytes = XStrFromQString(text).ToUTF8String();
    errno = 0;
    if (XFileWriteAll(target.p, bytes.data(), bytes.size()))
        return true;
    const int error = errno;
    if (reason)
        *reason = error ? QString::fromLocal8Bit(strerror(error)) : tr("The file could not be written.");
    return false;
}

void JQFileListDialog::reportSaveFailure(const QString& path, const QString& reason)
{
    QWidget* parent = hostWindow();
    auto* alert =
        new QMessageBox(QMessageBox::Warning, tr("Save List"),
                        tr("The list could not be saved as \u201c%1\u201d.").arg(path), QMessageBox::Ok, parent);
    alert->setInformativeText(reason);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    alert->open();
}
