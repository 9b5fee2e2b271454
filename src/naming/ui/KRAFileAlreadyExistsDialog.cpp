#include "naming/ui/KRAFileAlreadyExistsDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHash>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <syslog.h>

#include <mutex>
#include <thread>

#include "kit/KRAItemRoles.h"
#include "kit/SheetFallback.h"
#include "naming/KRAFileNaming.h"
#include "naming/KRALocationDescriptor.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XFileName.h"

namespace {

enum Column { ColumnCheck = 0, ColumnDestination = 1, ColumnStatus = 2 };

bool Exists(const QUrl& url)
{
    struct stat st = {};
    const std::string path = XPathFromFileURL(url).ToUTF8String();
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

} // namespace

// Existence answers already known, shared with the workers.
struct KRAFileAlreadyExistsDialog::Cache {
    std::mutex lock;
    QHash<QUrl, bool> known;
};

KRAFileAlreadyExistsDialog::KRAFileAlreadyExistsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Files Already Exist"));
    resize(720, 420);
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("Some of the files to be written exist already. Untick the ones to "
                                            "skip, or double-click a name to rename it."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_model = new QStandardItemModel(0, 3, this);
    m_model->setHorizontalHeaderLabels({QString(), QStringLiteral("Destination"), QStringLiteral("Note")});
    m_model->setHeaderData(ColumnCheck, Qt::Horizontal, QStringLiteral("checkboxes"), KRAColumnIdentifierRole);
    m_table = new KRATableView(this);
    m_table->setModel(m_model);
    m_table->setTableDelegate(this);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnCheck, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnDestination, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnStatus, QHeaderView::ResizeToContents);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    layout->addWidget(m_table, 1);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #c01c28;"));
    m_message->hide();
    layout->addWidget(m_message);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("Overwrite"), QDialogButtonBox::AcceptRole);
    m_ok->setDefault(true);
    QPushButton* skip = buttons->addButton(QStringLiteral("&Skip All"), QDialogButtonBox::DestructiveRole);
    skip->setToolTip(QStringLiteral("Untick every file listed here and convert the rest"));
    QPushButton* more = buttons->addButton(QStringLiteral("&More \u25BE"), QDialogButtonBox::ActionRole);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    auto* menu = new QMenu(more);
    menu->addAction(QStringLiteral("Check All"), this, [this] { toggleAll(true); });
    menu->addAction(QStringLiteral("Uncheck All"), this, [this] { toggleAll(false); });
    menu->addAction(QStringLiteral("Append Date to All"), this, &KRAFileAlreadyExistsDialog::onMenuAppendDate);
    more->setMenu(menu);
    layout->addWidget(buttons);
    connect(m_ok, &QPushButton::clicked, this, &KRAFileAlreadyExistsDialog::onButtonOverwrite);
    connect(skip, &QPushButton::clicked, this, &KRAFileAlreadyExistsDialog::onButtonNoToAll);
    connect(cancel, &QPushButton::clicked, this, &KRAFileAlreadyExistsDialog::onButtonCancel);
    connect(m_model, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (m_filling)
            return;
        const int row = item->row();
        if (item->column() == ColumnCheck && row < m_items.size()) {
            // Space ticks every selected row in turn: one refresh of the notes serves them all.
            m_items[row]->checked = item->checkState() == Qt::Checked;
            refreshAllRowsLater();
            checkOverwrite();
        } else if (item->column() == ColumnDestination && !setDisplayPath(item->text(), row))
            refreshAllRows();
    });
}

KRAFileAlreadyExistsDialog::~KRAFileAlreadyExistsDialog()
{
    m_shuttingDown = true;
    if (m_table)
        m_table->setTableDelegate(nullptr);
}

std::optional<QString> KRAFileAlreadyExistsDialog::checkboxColumnIdentifier(KRATableView*)
{
    return QStringLiteral("checkboxes");
}

std::optional<bool> KRAFileAlreadyExistsDialog::editEnterToNextRow(KRATableView*)
{
    // A refused name is still on screen in its alert: the user fixes that row first.
    return m_lastRefusal.isEmpty();
}

void KRAFileAlreadyExistsDialog::setState(const KRACheckFilenamesStateRef& state)
{
    m_state = state;
    m_items = state ? state->entriesToShow() : QList<KRACheckFileNamesEntryRef>();
    m_display.clear();
    m_cache = std::make_shared<Cache>();
    if (state)
        for (const QUrl& url : state->alreadyExists)
            m_cache->known.insert(url, true);
    reloadTable();
    checkOverwrite();
}

QString KRAFileAlreadyExistsDialog::okButtonText() const
{
    return m_overwrite ? QStringLiteral("Overwrite") : QStringLiteral("Continue");
}

bool KRAFileAlreadyExistsDialog::canGoOn() const
{
    return m_state && !m_state->hasBlockingProblems();
}

QString KRAFileAlreadyExistsDialog::statusOf(const KRACheckFileNamesEntry& entry) const
{
    if (!m_state)
        return QString();
    switch (KRACheckFilenamesState::problemOf(entry, m_clashes)) {
    case KRACheckFilenamesState::Problem::NoDestination:
        return QStringLiteral("No name could be made");
    case KRACheckFilenamesState::Problem::SameAsSource:
        return QStringLiteral("This is the source file itself");
    case KRACheckFilenamesState::Problem::OtherSource:
        return QStringLiteral("This is the source of another file of this batch");
    case KRACheckFilenamesState::Problem::Conflict:
        return QStringLiteral("Another file of this batch gets this name");
    case KRACheckFilenamesState::Problem::None:
        break;
    }
    if (!entry.checked)
        return QStringLiteral("Skipped");
    // What is known of the name now: a row renamed to a free name is no longer "Exists".
    bool exists = entry.destinationId.exists;
    if (m_cache) {
        std::lock_guard<std::mutex> guard(m_cache->lock);
        exists = m_cache->known.value(entry.destination, exists);
    }
    return exists ? QStringLiteral("Exists") : QStringLiteral("New name");
}

// Which other file the row's note is about, for its tool tip.
QString KRAFileAlreadyExistsDialog::statusDetailOf(const KRACheckFileNamesEntry& entry) const
{
    if (const KRACheckFileNamesEntry* hit = m_clashes.sourceHit(entry))
        return QStringLiteral("%1 is the same file as the source %2")
            .arg(entry.destination.toLocalFile(), hit->namingURL.toLocalFile());
    if (const KRACheckFileNamesEntry* other = m_clashes.otherDestination(entry))
        return QStringLiteral("%1 is the same file as %2, the output of %3")
            .arg(entry.destination.toLocalFile(), other->destination.toLocalFile(), other->namingURL.toLocalFile());
    return QString();
}

QString KRAFileAlreadyExistsDialog::displayPathAt(int index)
{
    if (m_display.isEmpty())
        for (const KRACheckFileNamesEntryRef& item : m_items)
            m_display.append(UrlProps::friendlyNameExt(item->destination));
    return m_display.value(index);
}

void KRAFileAlreadyExistsDialog::reloadTable()
{
    m_filling = true;
    m_model->setRowCount(static_cast<int>(m_items.size()));
    for (int row = 0; row < m_items.size(); ++row) {
        auto* check = new QStandardItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        m_model->setItem(row, ColumnCheck, check);
        m_model->setItem(row, ColumnDestination, new QStandardItem);
        auto* status = new QStandardItem;
        status->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        m_model->setItem(row, ColumnStatus, status);
    }
    m_filling = false;
    refreshAllRows();
}

void KRAFileAlreadyExistsDialog::refreshAllRows()
{
    m_clashes = m_state ? m_state->clashes() : KRACheckClashes();
    for (int row = 0; row < m_items.size(); ++row)
        refreshRow(row);
    refreshButtons();
}

void KRAFileAlreadyExistsDialog::refreshAllRowsLater()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshPending = false;
        refreshAllRows();
    });
}

void KRAFileAlreadyExistsDialog::refreshRow(int row)
{
    if (row < 0 || row >= m_items.size())
        return;
    m_filling = true;
    const KRACheckFileNamesEntry& entry = *m_items[row];
    m_model->item(row, ColumnCheck)->setCheckState(entry.checked ? Qt::Checked : Qt::Unchecked);
    m_model->item(row, ColumnDestination)->setText(displayPathAt(row));
    m_model->item(row, ColumnDestination)->setToolTip(entry.destination.toLocalFile());
    m_model->item(row, ColumnStatus)->setText(statusOf(entry));
    m_model->item(row, ColumnStatus)->setToolTip(statusDetailOf(entry));
    m_filling = false;
}

void KRAFileAlreadyExistsDialog::refreshButtons()
{
    const int problems = m_state ? m_state->countProblems() : 0;
    m_ok->setText(okButtonText());
    m_ok->setEnabled(problems == 0);
    if (problems > 0) {
        m_message->setText(
            problems == 1 ? QStringLiteral("1 file cannot be written as it is named: rename it or untick it.")
                          : QStringLiteral("%1 files cannot be written as they are named: rename them or untick them.")
                                .arg(problems));
        m_message->show();
    } else {
        m_message->hide();
    }
}

void KRAFileAlreadyExistsDialog::setChecked(int index, bool checked)
{
    if (index < 0 || index >= m_items.size())
        return;
    m_items[index]->checked = checked;
    // A tick changes which names clash: every row's note may change.
    refreshAllRows();
    checkOverwrite();
}

void KRAFileAlreadyExistsDialog::toggleAll(bool checked)
{
    for (const KRACheckFileNamesEntryRef& item : m_items)
        item->checked = checked;
    refreshAllRows();
    checkOverwrite();
}

bool KRAFileAlreadyExistsDialog::setDisplayPath(const QString& typed, int index)
{
    if (index < 0 || index >= m_items.size())
        return false;
    QString text = typed.trimmed();
    m_lastRefusal.clear();
    // A name alone would be taken below the home folder: a new name must say where it goes.
    if (text.isEmpty())
        m_lastRefusal = QStringLiteral("Please type a name for the file.");
    else if (!text.startsWith(QLatin1Char('/')) && !text.startsWith(QLatin1Char('~')))
        m_lastRefusal = QStringLiteral("Please type the whole path of the file, beginning with \"/\" or \"~/\".");
    const KRACheckFileNamesEntryRef& item = m_items[index];
    // The row shows the extension the encoder writes; typed again or not, the output keeps it.
    const QString extension = XStrToQString(XFileName(XPathFromFileURL(item->destination)).GetExtension());
    if (extension.size() > 1 && text.size() > extension.size() && text.endsWith(extension, Qt::CaseInsensitive))
        text.chop(extension.size());
    const QUrl destination =
        m_lastRefusal.isEmpty() ? UrlProps::fileURLFromFriendlyNameTakeExtensionFrom(text, item->destination) : QUrl();
    if (m_lastRefusal.isEmpty() && destination.isEmpty())
        m_lastRefusal = QStringLiteral("\"%1\" cannot name a file.").arg(text);
    if (!m_lastRefusal.isEmpty()) {
        auto* alert = new QMessageBox(QMessageBox::Warning, windowTitle(), m_lastRefusal, QMessageBox::Ok, this);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::WindowModal);
        alert->open();
        return false;
    }
    displayPathAt(index);
    item->destination = destination;
    // The row shows the name the file gets, as made valid.
    m_display[index] = UrlProps::friendlyNameExt(destination);
    KRACheckFilenames::updateSameAsSource(*item, &m_keys);
    {
        std::lock_guard<std::mutex> guard(m_cache->lock);
        m_cache->known.insert(destination, item->destinationId.exists);
    }
    if (!m_batching) {
        refreshAllRows();
        checkOverwrite();
    }
    return true;
}

void KRAFileAlreadyExistsDialog::appendToAll(const QString& suffix)
{
    m_batching = true;
    // Behind the name, before the extension.
    for (int row = 0; row < m_items.size(); ++row)
        setDisplayPath(UrlProps::friendlyName(m_items[row]->destination) + suffix, row);
    m_batching = false;
    refreshAllRows();
    checkOverwrite();
}

void KRAFileAlreadyExistsDialog::onMenuAppendDate()
{
    QString date = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    date.replace(QLatin1Char('/'), QLatin1Char('-'));
    // The time's ":" and whatever else the user's replacements change in every other name.
    appendToAll(KRAFileNaming().validNameText(QStringLiteral(" - %1").arg(date)));
}

// ---- The existence check -----------------------------------------------------------------------

void KRAFileAlreadyExistsDialog::checkOverwrite()
{
    if (m_shuttingDown || m_checkPending)
        return;
    m_checkPending = true;
    // Several changes in a row make one check.
    QTimer::singleShot(0, this, &KRAFileAlreadyExistsDialog::checkOverwrite2);
}

void KRAFileAlreadyExistsDialog::checkOverwrite2()
{
    // A trace for whoever follows the checks in the journal, not a problem: debug priority.
    syslog(LOG_DEBUG, "%s", "checkOverwrite2");
    m_checkPending = false;
    if (m_shuttingDown)
        return;
    m_killSwitch = std::make_unique<KillSwitchHolder>();
    const KillSwitchRef cookie = m_killSwitch->killSwitch();
    QList<QUrl> destinations;
    for (const KRACheckFileNamesEntryRef& item : m_items)
        if (item->checked && !item->destination.isEmpty())
            destinations.append(item->destination);
    m_checkRunning = true;
    const std::shared_ptr<Cache> cache = m_cache;
    QPointer<KRAFileAlreadyExistsDialog> self(this);
    std::thread([self, cookie, destinations, cache] {
        bool exists = false;
        for (const QUrl& url : destinations) {
            if (cookie->die())
                return;
            bool known = false, answer = false;
            {
                std::lock_guard<std::mutex> guard(cache->lock);
                const auto it = cache->known.constFind(url);
                known = it != cache->known.constEnd();
                answer = known && it.value();
            }
            if (!known) {
                answer = Exists(url);
                std::lock_guard<std::mutex> guard(cache->lock);
                cache->known.insert(url, answer);
            }
            if (answer) {
                exists = true;
                break;
            }
        }
        if (cookie->die())
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, cookie, exists] {
                if (self)
                    self->checkOverwriteDone(cookie, exists);
            },
            Qt::QueuedConnection);
    }).detach();
}

void KRAFileAlreadyExistsDialog::checkOverwriteDone(const KillSwitchRef& cookie, bool exists)
{
    if (m_shuttingDown || !m_killSwitch || !m_killSwitch->isCurrent(cookie) || cookie->die())
        return;
    m_checkRunning = false;
    m_overwrite = exists;
    refreshButtons();
    emit checked();
}

// ---- Ending ------------------------------------------------------------------------------------

void KRAFileAlreadyExistsDialog::endDelayed(int code)
{
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    QPointer<KRAFileAlreadyExistsDialog> self(this);
    QTimer::singleShot(0, this, [self, code] {
        if (self && !SheetFallback::endSheet(self, code))
            self->done(code);
    });
}

void KRAFileAlreadyExistsDialog::onButtonOverwrite()
{
    if (canGoOn())
        endDelayed(1);
}

void KRAFileAlreadyExistsDialog::onButtonNoToAll()
{
    for (const KRACheckFileNamesEntryRef& item : m_items)
        item->checked = false;
    reloadTable();
    endDelayed(m_state && m_state->numItemsChecked() > 0 && canGoOn() ? 1 : 0);
}

void KRAFileAlreadyExistsDialog::onButtonCancel()
{
    endDelayed(0);
}

void KRAFileAlreadyExistsDialog::closeEvent(QCloseEvent* event)
{
    m_shuttingDown = true;
    m_killSwitch.reset();
    QDialog::closeEvent(event);
}
