#include "setup/KRADSPListPane.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStringDecoder>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "job/QKConversionSpec.h"
#include "job/QKDSPDesc.h"
#include "kit/KitListMove.h"
#include "kit/KitMenus.h"
#include "kit/SheetFallback.h"
#include "media/QKExternalFFmpeg.h"
#include "platform/XStrQString.h"
#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"
#include "setup/QKDSPLogos.h"
#include "xclass/XFileRewrite.h"

namespace {

const char* const kIndexesType = "com.marvoni.dsp.indexes";
const char* const kViewIdType = "com.marvoni.dsp.viewid";
constexpr qint64 kMaxChainFile = 1024 * 1024;

std::function<void(QWidget*)>& InstallHandler()
{
    static std::function<void(QWidget*)> handler;
    return handler;
}

QString NextViewIdentifier()
{
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("viewID-%1-%2").arg(static_cast<unsigned>(::getpid())).arg(++counter);
}

// The table of the chain: drags of its rows carry the pane's identifier, drops go to the
// pane, and the keyboard reaches every action of a row.
class KRADSPTable : public QListWidget {
public:
    explicit KRADSPTable(KRADSPListPane* pane) : m_pane(pane)
    {
        setDragEnabled(true);
        setAcceptDrops(true);
        setDropIndicatorShown(true);
        setDragDropMode(QAbstractItemView::DragDrop);
        setDefaultDropAction(Qt::MoveAction);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setAlternatingRowColors(true);
    }

protected:
    QStringList mimeTypes() const override
    {
        return {QString::fromLatin1(kIndexesType), QString::fromLatin1(kViewIdType)};
    }
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override
    {
        if (!m_pane || !m_pane->isEnabled())
            return nullptr;
        QList<int> rows;
        for (QListWidgetItem* item : items)
            rows.append(row(item));
        return m_pane->mimeDataForRows(rows);
    }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

    // The row a drop at pos goes above: the upper half of a row is above it, the lower half
    // above the next one, the empty space below the rows is the end.
    int dropRow(const QPoint& pos) const
    {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid())
            return count();
        const QRect rect = visualRect(index);
        return pos.y() < rect.center().y() ? index.row() : index.row() + 1;
    }
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (m_pane && m_pane->validateDrop(event->mimeData(), dropRow(event->position().toPoint()), true))
            event->acceptProposedAction();
        else
            event->ignore();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        QListWidget::dragMoveEvent(event);
        if (m_pane && m_pane->validateDrop(event->mimeData(), dropRow(event->position().toPoint()), true))
            event->acceptProposedAction();
        else
            event->ignore();
    }
    void dropEvent(QDropEvent* event) override
    {
        // The pane moves the rows itself: the view must not remove the dragged ones again.
        const int row = dropRow(event->position().toPoint());
        if (!m_pane || !m_pane->validateDrop(event->mimeData(), row, true)) {
            event->ignore();
            return;
        }
        // The rows are rebuilt once the drag has ended, not under the drag's feet.
        auto data = std::make_shared<QMimeData>();
        for (const QString& format : event->mimeData()->formats())
            data->setData(format, event->mimeData()->data(format));
        QTimer::singleShot(0, m_pane, [pane = m_pane, data, row] {
            if (pane)
                pane->acceptDrop(data.get(), row);
        });
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!m_pane || !m_pane->isEnabled()) {
            QListWidget::keyPressEvent(event);
            return;
        }
        const int current = currentRow();
        switch (event->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            m_pane->onDSPRemoveSelected();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            m_pane->onDSPSettingsRow(current);
            return;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (event->modifiers() & Qt::AltModifier) {
                moveCurrent(current, event->key() == Qt::Key_Up ? -1 : 1);
                return;
            }
            break;
        default:
            break;
        }
        QListWidget::keyPressEvent(event);
    }

private:
    void moveCurrent(int current, int by)
    {
        const int target = current + by;
        if (current < 0 || target < 0 || target >= count())
            return;
        std::unique_ptr<QMimeData> data(m_pane->mimeDataForRows({current}));
        // Counted before the move: one further down is two rows on.
        m_pane->acceptDrop(data.get(), by > 0 ? target + 1 : target);
    }

    QPointer<KRADSPListPane> m_pane;
};

// Whether every surrogate of the text is half of a pair: the decoder lets lone ones through.
bool PairedSurrogates(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return false;
    }
    return true;
}

QList<int> RowsFromData(const QMimeData* data)
{
    QList<int> rows;
    const QString text = QString::fromUtf8(data->data(QString::fromLatin1(kIndexesType)));
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int row = part.trimmed().toInt(&ok);
        if (ok)
            rows.append(row);
    }
    return rows;
}

} // namespace

KRADSPListPane::KRADSPListPane(QObject* parent) : QKViewController(parent), m_effects(std::make_shared<QKDSPChain>()) {}

KRADSPListPane::~KRADSPListPane() = default;

void KRADSPListPane::setDspEffects(std::shared_ptr<QKDSPChain> effects)
{
    m_effects = effects ? std::move(effects) : std::make_shared<QKDSPChain>();
    reloadTable();
}

QString KRADSPListPane::dspEffectsString() const
{
    return QKConversionSpec::mergeDSPString(*m_effects);
}

void KRADSPListPane::setDspEffectsString(const QString& text)
{
    setDspEffects(std::make_shared<QKDSPChain>(QKConversionSpec::splitDSPString(text)));
}

void KRADSPListPane::setEnabled(bool enabled)
{
    m_enabled = enabled;
    reloadTable();
}

void KRADSPListPane::onHostEncoder(const QKEncoderDescRef& encoder)
{
    const bool multi = encoder && encoder->isMultiEncoder();
    m_disabledMessage = multi ? QStringLiteral("set effects on each multi-encoder settings page") : QString();
    setEnabled(!multi);
}

void KRADSPListPane::setInstallFFmpegHandler(std::function<void(QWidget*)> handler)
{
    InstallHandler() = std::move(handler);
}

void KRADSPListPane::loadView()
{
    m_viewIdentifier = NextViewIdentifier();
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    m_table = new KRADSPTable(this);
    m_table->setMinimumHeight(160);
    m_table->setToolTip(tr("Enter: settings, Delete: remove, Alt+Up/Down: move; drag rows to reorder"));
    layout->addWidget(m_table, 1);

    auto* footer = new QHBoxLayout;
    m_add = new QPushButton(tr("A&dd Effect"));
    m_clear = new QPushButton(tr("Clear A&ll"));
    m_save = new QPushButton(tr("Save…"));
    m_load = new QPushButton(tr("Load…"));
    footer->addWidget(m_add);
    footer->addStretch(1);
    footer->addWidget(m_clear);
    footer->addWidget(m_save);
    footer->addWidget(m_load);
    layout->addLayout(footer);

    connect(m_add, &QPushButton::clicked, this, [this] { onAddDSP(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { onDSPClear(); });
    connect(m_save, &QPushButton::clicked, this, [this] { onDSPSave(); });
    connect(m_load, &QPushButton::clicked, this, [this] { onDSPLoad(); });
    connect(m_table, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { onDSPSettingsRow(m_table->row(item)); });
    setView(view);
    reloadTable();
}

void KRADSPListPane::reloadTable()
{
    if (!m_table)
        return;
    m_table->clear();
    if (!m_enabled) {
        auto* item = new QListWidgetItem(m_disabledMessage, m_table);
        item->setFlags(Qt::NoItemFlags);
        item->setData(Qt::UserRole, QStringLiteral("Message"));
    } else {
        for (const QKDSPSpec& spec : *m_effects) {
            auto* item = new QListWidgetItem(m_table);
            item->setData(Qt::UserRole, QStringLiteral("Entry"));
            item->setData(Qt::AccessibleTextRole, spec.name);
            item->setToolTip(spec.args.isEmpty() ? spec.name : spec.name + QStringLiteral(": ") + spec.args);
            auto* entry = new KRADSPListEntry(this, spec);
            item->setSizeHint(entry->sizeHint());
            m_table->setItemWidget(item, entry);
        }
    }
    m_table->setEnabled(m_enabled);
    refreshButtons();
}

void KRADSPListPane::refreshButtons()
{
    const bool any = m_enabled && !m_effects->isEmpty();
    if (m_add)
        m_add->setEnabled(m_enabled);
    if (m_clear)
        m_clear->setEnabled(any);
    if (m_save)
        m_save->setEnabled(any);
    if (m_load)
        m_load->setEnabled(m_enabled);
}

void KRADSPListPane::onChanged()
{
    emit chainChanged();
}

QWidget* KRADSPListPane::sheetParent()
{
    QWidget* page = view();
    return page->window() ? page->window() : page;
}

void KRADSPListPane::showError(const QString& title, const QString& text)
{
    QWidget* parent = sheetParent();
    auto* alert = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
}

QMenu* KRADSPListPane::makeAddMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    const QStringList chainNames = [this] {
        QStringList names;
        for (const QKDSPSpec& spec : *m_effects)
            names.append(spec.name);
        return names;
    }();
    for (const QKDSPDescRef& desc : QKDSPDesc::listDSPs()) {
        if (!desc || desc->hidden)
            continue;
        if (m_ownedByTracklift ? !desc->allowedInTracklift() : !desc->allowedOutsideTracklift())
            continue;
        QAction* action =
            menu->addAction(QIcon(QPixmap::fromImage(QKDSPLogos::get(desc->name))), mnemonicFree(desc->name));
        action->setEnabled(QKDSPDesc::canAddDSP(*desc, *m_effects));
        const QString name = desc->name;
        connect(action, &QAction::triggered, this, [this, name] { onAddThisDSP(name); });
    }
    if (!QKExternalFFmpeg::haveExternalFFmpeg()) {
        menu->addSeparator();
        QAction* install = menu->addAction(tr("Install missing effects"));
        connect(install, &QAction::triggered, this, [this] { onInstallFFmpeg(); });
    }
    return menu;
}

void KRADSPListPane::onAddDSP()
{
    if (!m_enabled || !m_add)
        return;
    QMenu* menu = makeAddMenu(m_add);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_add->mapToGlobal(QPoint(0, m_add->height())));
}

void KRADSPListPane::onAddThisDSP(const QString& name)
{
    if (!m_enabled || name.isEmpty())
        return;
    m_effects->append(QKDSPSpec(name, QString()));
    reloadTable();
    onChanged();
    configureThisDSP(static_cast<int>(m_effects->size()) - 1, true);
}

void KRADSPListPane::onDSPSettingsRow(int row)
{
    if (m_enabled)
        configureThisDSP(row, false);
}

void KRADSPListPane::configureThisDSP(int row, bool isNew)
{
    if (row < 0 || row >= m_effects->size() || (m_settings && m_settings->isVisible()))
        return;
    QWidget* parent = sheetParent();
    auto* dialog = new KRADSPSettingsDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setNamingDialogContext(m_namingContext);
    dialog->setSpec((*m_effects)[row]);
    m_settings = dialog;
    const QKDSPSpec original = (*m_effects)[row];
    const QPointer<KRADSPSettingsDialog> guard(dialog);
    // The dialog belongs to the window and may outlive the pane.
    const QPointer<KRADSPListPane> self(this);
    auto done = [self, guard, row, isNew, original](int64_t code) {
        if (!self)
            return;
        self->settingsDialogEnded(guard, code, row, isNew, original);
    };
    if (!SheetFallback::beginSheet(dialog, parent, done)) {
        connect(dialog, &QDialog::finished, this, [done](int code) { done(code); });
        dialog->open();
    }
}

void KRADSPListPane::settingsDialogEnded(KRADSPSettingsDialog* dialog, int64_t code, int row, bool isNew,
                                         const QKDSPSpec& original)
{
    // The chain may only have changed through this dialog; a spec no longer where it was is
    // left alone.
    const bool inPlace = row < m_effects->size() && (*m_effects)[row] == original;
    if (code == 1 && dialog && inPlace) {
        (*m_effects)[row].args = dialog->spec().args;
        reloadTable();
        onChanged();
    } else if (code != 1 && isNew && inPlace) {
        m_effects->removeAt(row);
        reloadTable();
        onChanged();
    }
}

int KRADSPListPane::rowOfEntry(const QWidget* entry) const
{
    if (!m_table)
        return -1;
    for (int row = 0; row < m_table->count(); ++row) {
        if (m_table->itemWidget(m_table->item(row)) == entry)
            return row;
    }
    return -1;
}

void KRADSPListPane::onDSPRemoveRow(int row)
{
    if (!m_enabled || row < 0 || row >= m_effects->size())
        return;
    m_effects->removeAt(row);
    reloadTable();
    if (m_table && m_table->count() > 0)
        m_table->setCurrentRow(std::min(row, m_table->count() - 1));
    onChanged();
}

void KRADSPListPane::onDSPRemoveSelected()
{
    if (!m_table)
        return;
    QList<int> rows;
    for (QListWidgetItem* item : m_table->selectedItems())
        rows.append(m_table->row(item));
    if (rows.isEmpty() && m_table->currentRow() >= 0)
        rows.append(m_table->currentRow());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    const int first = rows.isEmpty() ? -1 : rows.last();
    bool removed = false;
    for (int row : rows) {
        if (row >= 0 && row < m_effects->size()) {
            m_effects->removeAt(row);
            removed = true;
        }
    }
    if (!removed)
        return;
    reloadTable();
    if (m_table->count() > 0)
        m_table->setCurrentRow(std::min(first, m_table->count() - 1));
    onChanged();
}

void KRADSPListPane::onDSPClear()
{
    if (!m_enabled || m_effects->isEmpty())
        return;
    QWidget* parent = sheetParent();
    auto* ask = new QMessageBox(QMessageBox::Question, tr("Clear All"), QStringLiteral("Clear All Effects?"),
                                QMessageBox::Yes | QMessageBox::No, parent);
    ask->setDefaultButton(QMessageBox::No);
    ask->setEscapeButton(QMessageBox::No);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setWindowModality(Qt::WindowModal);
    connect(ask, &QMessageBox::finished, this, [this](int result) {
        if (result != QMessageBox::Yes || m_effects->isEmpty())
            return;
        m_effects->clear();
        reloadTable();
        onChanged();
    });
    ask->open();
}

bool KRADSPListPane::writeChainFile(const QString& path, const QString& chainString, QString* error)
{
    QByteArray bytes;
    bytes.reserve(chainString.size() * 2);
    for (const QChar c : chainString) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    errno = 0;
    if (XFileWriteAll(XStrFromQString(path).p, bytes.constData(), static_cast<size_t>(bytes.size())))
        return true;
    if (error) {
        const int code = errno;
        *error = code ? QString::fromLocal8Bit(strerror(code)) : QStringLiteral("The file could not be written.");
    }
    return false;
}

std::optional<QString> KRADSPListPane::readChainFile(const QString& path, QString* error)
{
    auto refuse = [error](const QString& reason) -> std::optional<QString> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    const std::string bytesPath = XStrFromQString(path).ToUTF8String();
    // Looked at before it is opened: opening a pipe waits for a writer, and opening some
    // devices does something.
    struct stat st {};
    if (::stat(bytesPath.c_str(), &st) != 0)
        return refuse(QString::fromLocal8Bit(strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("It is no plain file (a folder, a pipe or a device): it is no effect chain."));
    const int fd = ::open(bytesPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return refuse(QString::fromLocal8Bit(strerror(errno)));
    QByteArray bytes;
    bool failed = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode); // swapped meanwhile
    // Reading one byte more than allowed tells a file over the limit without trusting its size.
    char buffer[65536];
    while (!failed && bytes.size() <= kMaxChainFile) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failed = true;
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<qsizetype>(got));
    }
    const int readError = errno;
    ::close(fd);
    if (failed)
        return refuse(S_ISREG(st.st_mode) ? QString::fromLocal8Bit(strerror(readError))
                                          : QStringLiteral("It is no plain file: it is no effect chain."));
    return decodeChainFile(bytes, error);
}

std::optional<QString> KRADSPListPane::decodeChainFile(const QByteArray& bytes, QString* error)
{
    auto refuse = [error](const QString& reason) -> std::optional<QString> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    if (bytes.size() > kMaxChainFile)
        return refuse(QStringLiteral("The file is larger than 1 MB: it is no effect chain."));
    QStringDecoder::Encoding encoding = QStringDecoder::Utf16LE;
    QByteArray body = bytes;
    if (bytes.startsWith("\xef\xbb\xbf")) {
        encoding = QStringDecoder::Utf8;
        body.remove(0, 3);
    } else if (bytes.startsWith("\xfe\xff")) {
        encoding = QStringDecoder::Utf16BE;
        body.remove(0, 2);
    } else if (bytes.startsWith("\xff\xfe")) {
        body.remove(0, 2);
    } else if (!bytes.contains('\0')) {
        encoding = QStringDecoder::Utf8; // a chain written by hand or by another program
    }
    const bool utf16 = encoding != QStringDecoder::Utf8;
    if (utf16 && body.size() % 2 != 0)
        return refuse(QStringLiteral("The file is not UTF-16 text: it is no effect chain."));
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(body);
    if (decoder.hasError() || text.contains(QChar(0)) || !PairedSurrogates(text))
        return refuse(utf16 ? QStringLiteral("The file is not UTF-16 text: it is no effect chain.")
                            : QStringLiteral("The file is not UTF-8 text: it is no effect chain."));
    return text;
}

std::optional<QKDSPChain> KRADSPListPane::chainFromText(const QString& text, QString* error)
{
    std::optional<QKDSPChain> chain = QKConversionSpec::readWholeDSPString(text, error);
    if (!chain)
        return std::nullopt;
    for (qsizetype i = 0; i < chain->size(); ++i) {
        const QKDSPSpec& spec = chain->at(i);
        std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(spec.name);
        if (!page) {
            if (error)
                *error = QStringLiteral("Effect %1 names no known effect: \u201c%2\u201d.").arg(i + 1).arg(spec.name);
            return std::nullopt;
        }
        page->setDspArgs(spec.args);
        if (page->dspArgs() != spec.args) {
            if (error)
                *error = QStringLiteral("The settings of effect %1 (\u201c%2\u201d) are not whole: \u201c%3\u201d.")
                             .arg(i + 1)
                             .arg(spec.name, spec.args);
            return std::nullopt;
        }
    }
    return chain;
}

std::optional<QKDSPChain> KRADSPListPane::readChain(const QString& path, QString* error)
{
    const std::optional<QString> text = readChainFile(path, error);
    if (!text)
        return std::nullopt;
    return chainFromText(*text, error);
}

bool KRADSPListPane::loadFrom(const QString& path, QString* error)
{
    std::optional<QKDSPChain> chain = readChain(path, error);
    if (!chain)
        return false;
    *m_effects = std::move(*chain);
    reloadTable();
    onChanged();
    return true;
}

void KRADSPListPane::onDSPSave()
{
    if (!m_enabled || m_effects->isEmpty())
        return;
    auto* dialog = new QFileDialog(sheetParent(), QStringLiteral("Marvoni: Save Effect Selections"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(tr("Effect selections (*.dspeffect)"));
    dialog->setDefaultSuffix(QStringLiteral("dspeffect"));
    SheetFallback::beginFileSheet(dialog, sheetParent(), [self = QPointer<KRADSPListPane>(this)](const QString& path) {
        if (!self)
            return;
        QString error;
        if (!writeChainFile(path, self->dspEffectsString(), &error))
            self->showError(tr("Save Effects"),
                            tr("The effects could not be saved as \u201c%1\u201d: %2").arg(path, error));
    });
}

void KRADSPListPane::onDSPLoad()
{
    if (!m_enabled)
        return;
    auto* dialog = new QFileDialog(sheetParent(), QStringLiteral("Marvoni: Load Effect Selections"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(tr("Effect selections (*.dspeffect)"));
    SheetFallback::beginFileSheet(dialog, sheetParent(), [self = QPointer<KRADSPListPane>(this)](const QString& path) {
        if (!self)
            return;
        QString error;
        if (!self->loadFrom(path, &error))
            self->showError(tr("Load Effects"),
                            tr("The effects could not be loaded from \u201c%1\u201d: %2").arg(path, error));
    });
}

void KRADSPListPane::onInstallFFmpeg()
{
    if (InstallHandler()) {
        InstallHandler()(sheetParent());
        return;
    }
    QWidget* parent = sheetParent();
    auto* note = new QMessageBox(
        QMessageBox::Information, tr("Install missing effects"),
        tr("\u201cDenoiser (Wavelet)\u201d, \u201cDenoiser (High Precision 3D)\u201d and \u201cBrightness & "
           "Contrast\u201d need a full ffmpeg build. Install one from the program's settings (FFmpeg)."),
        QMessageBox::Ok, parent);
    note->setAttribute(Qt::WA_DeleteOnClose);
    note->setWindowModality(Qt::WindowModal);
    note->open();
}

QMimeData* KRADSPListPane::mimeDataForRows(const QList<int>& rows) const
{
    auto* data = new QMimeData;
    QStringList numbers;
    for (int row : rows)
        numbers.append(QString::number(row));
    data->setData(QString::fromLatin1(kIndexesType), numbers.join(QLatin1Char(',')).toUtf8());
    data->setData(QString::fromLatin1(kViewIdType), m_viewIdentifier.toUtf8());
    return data;
}

bool KRADSPListPane::validateDrop(const QMimeData* data, int row, bool above) const
{
    if (!m_enabled || !data || !above || m_viewIdentifier.isEmpty())
        return false;
    if (QString::fromUtf8(data->data(QString::fromLatin1(kViewIdType))) != m_viewIdentifier)
        return false;
    return row >= 0 && row <= m_effects->size();
}

bool KRADSPListPane::acceptDrop(const QMimeData* data, int row)
{
    if (!validateDrop(data, row, true))
        return false;
    QList<int> rows;
    for (int r : RowsFromData(data)) {
        if (r >= 0 && r < m_effects->size() && !rows.contains(r))
            rows.append(r);
    }
    if (rows.isEmpty())
        return false;
    const QList<int> moved = moveRows(*m_effects, rows, row);
    reloadTable();
    if (m_table) {
        for (int r : moved)
            m_table->item(r)->setSelected(true);
        m_table->setCurrentRow(moved.first(), QItemSelectionModel::NoUpdate);
    }
    onChanged();
    return true;
}

QList<int> KRADSPListPane::moveRows(QKDSPChain& chain, QList<int> rows, int target)
{
    return KitMoveBlock(chain, std::move(rows), target);
}

KRADSPListEntry::KRADSPListEntry(KRADSPListPane* owner, const QKDSPSpec& spec, QWidget* parent)
    : QWidget(parent), m_owner(owner)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 4, 2);
    auto* logo = new QLabel;
    logo->setPixmap(QPixmap::fromImage(QKDSPLogos::get(spec.name)));
    logo->setFixedSize(18, 18);
    auto* name = new QLabel(spec.name);
    m_settings = new QToolButton;
    m_settings->setText(tr("Settings…"));
    m_settings->setToolTip(tr("Settings of \u201c%1\u201d").arg(spec.name));
    m_remove = new QToolButton;
    m_remove->setText(tr("Remove"));
    m_remove->setToolTip(tr("Remove \u201c%1\u201d from the chain").arg(spec.name));
    // The table handles the keyboard; the buttons are for the mouse.
    m_settings->setFocusPolicy(Qt::NoFocus);
    m_remove->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(logo);
    layout->addWidget(name, 1);
    layout->addWidget(m_settings);
    layout->addWidget(m_remove);
    connect(m_settings, &QToolButton::clicked, this, [this] {
        if (m_owner)
            m_owner->onDSPSettingsRow(m_owner->rowOfEntry(this));
    });
    connect(m_remove, &QToolButton::clicked, this, [this] {
        if (m_owner)
            m_owner->onDSPRemoveRow(m_owner->rowOfEntry(this));
    });
}

KRADSPSettingsDialog::KRADSPSettingsDialog(QWidget* parent) : QDialog(parent)
{
    auto* layout = new QVBoxLayout(this);
    m_pageHost = new QWidget;
    auto* hostLayout = new QVBoxLayout(m_pageHost);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pageHost, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &KRADSPSettingsDialog::onOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

KRADSPSettingsDialog::~KRADSPSettingsDialog() = default;

void KRADSPSettingsDialog::setSpec(const QKDSPSpec& spec)
{
    m_spec = spec;
    setWindowTitle(spec.name);
    if (m_page) {
        m_page->pageView()->setParent(nullptr);
        m_page.reset();
    }
    QLayout* hostLayout = m_pageHost->layout();
    while (QLayoutItem* item = hostLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_page = KRADSPPageIndex::createFor(spec.name);
    if (!m_page) {
        auto* note = new QLabel(tr("\u201c%1\u201d is no effect this program knows: its settings stay as "
                                   "stored.")
                                    .arg(spec.name));
        note->setWordWrap(true);
        hostLayout->addWidget(note);
        return;
    }
    if (m_namingContext && m_page->acceptsNamingDialogContext())
        m_page->setNamingDialogContext(m_namingContext);
    m_page->setDspArgs(spec.args);
    hostLayout->addWidget(m_page->pageView());
    adjustSize();
    if (const std::optional<int> height = m_page->requiredHeight())
        resize(width(), *height + 50);
}

void KRADSPSettingsDialog::onOK()
{
    if (m_page) {
        // A field still being typed in hands its text over before the settings are checked.
        if (QWidget* focus = QApplication::focusWidget(); focus && isAncestorOf(focus))
            focus->clearFocus();
        if (!m_page->dspValidate())
            return;
        m_spec.args = m_page->dspArgs();
    }
    if (!SheetFallback::endSheet(this, 1))
        done(1);
}
