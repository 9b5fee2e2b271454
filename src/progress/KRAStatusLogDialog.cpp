#include "progress/KRAStatusLogDialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QVBoxLayout>

#include <tuple>

#include "kit/KRAItemRoles.h"
#include "kit/KRATableHelpers.h"
#include "kit/KitKeyEvents.h"
#include "kit/QKNamedImages.h"
#include "progress/KRAConversionHost.h"

namespace {

// Items of an outline: an entry row points at its entry by index, a line row also at its line.
constexpr int kEntryRole = Qt::UserRole + 1;
constexpr int kLineRole = Qt::UserRole + 2;

} // namespace

KRAStatusLogDialog::KRAStatusLogDialog(KRAStatusLogContext context, QObject* parent)
    : QKPanelViewController(parent), m_context(std::move(context))
{
}

KRAStatusLogDialog::~KRAStatusLogDialog()
{
    // The outlines must not call a panel that is going.
    if (m_tableErrors)
        m_tableErrors->setOutlineDelegate(nullptr);
    if (m_tableInformation)
        m_tableInformation->setOutlineDelegate(nullptr);
}

std::shared_ptr<KRAStatusLogDialog> KRAStatusLogDialog::create(KRAStatusLogContext context)
{
    return std::make_shared<KRAStatusLogDialog>(std::move(context));
}

QString KRAStatusLogDialog::formatHeaderFor(const KRAStatusLogEntry& entry, bool errors)
{
    const QString kind = !errors                         ? QStringLiteral("Information")
                         : entry.convertedWithWarnings() ? QStringLiteral("Warning")
                                                         : QStringLiteral("Error");
    const QString name = entry.source2 ? entry.source2->strPerceivedFilename() : QString();
    if (!entry.fnTo.isEmpty() && !entry.fnTo.toLower().endsWith(QLatin1String(".ignore")))
        return QStringLiteral("%1 converting to %2, '%3' to '%4'").arg(kind, entry.encoderName, name, entry.fnTo);
    return QStringLiteral("%1 converting to %2, '%3'").arg(kind, entry.encoderName, name);
}

QString KRAStatusLogDialog::panelName()
{
    const QString action =
        m_context.titleActionOverride.isEmpty() ? QStringLiteral("Conversion") : m_context.titleActionOverride;
    return m_context.errors.isEmpty() ? QStringLiteral("%1 Status Information").arg(action)
                                      : QStringLiteral("%1 Errors & Status Information").arg(action);
}

KRAOutlineView* KRAStatusLogDialog::makeOutline(const QList<KRAStatusLogEntryRef>& entries, bool errors)
{
    auto* outline = new KRAOutlineView;
    auto* model = new QStandardItemModel(outline);
    for (int i = 0; i < entries.size(); ++i) {
        const KRAStatusLogEntry& entry = *entries.at(i);
        auto* row = new QStandardItem(formatHeaderFor(entry, errors));
        row->setEditable(false);
        row->setData(i, kEntryRole);
        row->setData(QSize(-1, 30), Qt::SizeHintRole);
        const QImage image = entry.statusImgName.isEmpty() ? QImage() : QKNamedImages::imageNamed(entry.statusImgName);
        if (!image.isNull()) {
            row->setData(image.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation), Qt::DecorationRole);
            row->setData(QStringLiteral("QKTableCellImageText"), KRACellKindRole);
        } else {
            row->setData(QStringLiteral("QKTableCellPlain"), KRACellKindRole);
        }
        for (int l = 0; l < entry.entries.size(); ++l) {
            auto* line = new QStandardItem(entry.entries.at(l));
            line->setEditable(false);
            line->setData(i, kEntryRole);
            line->setData(l, kLineRole);
            line->setData(QSize(-1, 20), Qt::SizeHintRole);
            line->setData(QStringLiteral("QKTableCellPlain"), KRACellKindRole);
            row->appendRow(line);
        }
        model->appendRow(row);
    }
    outline->setModel(model);
    outline->setHeaderHidden(true);
    outline->setSelectionMode(QAbstractItemView::ExtendedSelection);
    outline->setUniformRowHeights(false);
    registerNibSimple(outline, QStringLiteral("QKTableCellPlain"));
    registerNibSimple(outline, QStringLiteral("QKTableCellImageText"));
    outline->expandAll();
    outline->setOutlineDelegate(this);
    return outline;
}

void KRAStatusLogDialog::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    m_tabs = new QTabWidget(view);
    m_tableErrors = makeOutline(m_context.errors, true);
    m_tableInformation = makeOutline(m_context.infos, false);
    // A log with only one kind of message shows only that tab; the other outline stays, hidden.
    const bool showErrors = !m_context.errors.isEmpty();
    const bool showInfos = !m_context.infos.isEmpty() || !showErrors;
    for (auto [outline, shown, title] :
         {std::tuple{m_tableErrors.data(), showErrors, QStringLiteral("Errors")},
          std::tuple{m_tableInformation.data(), showInfos, QStringLiteral("Information")}}) {
        if (shown) {
            m_tabs->addTab(outline, title);
        } else {
            outline->setParent(view);
            outline->hide();
        }
    }
    layout->addWidget(m_tabs, 1);

    auto* buttons = new QHBoxLayout;
    m_buttonCopy = new QPushButton(view);
    m_buttonReConvert = new QPushButton(QStringLiteral("&Re-convert"), view);
    m_buttonReConvert->setToolTip(QStringLiteral("Open the converter setup with the files that failed"));
    m_buttonReConvert->setVisible(!m_context.errors.isEmpty() && m_context.canReconvert());
    auto* ok = new QPushButton(QStringLiteral("OK"), view);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    buttons->addWidget(m_buttonCopy);
    buttons->addWidget(m_buttonReConvert);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    layout->addLayout(buttons);

    connect(m_buttonCopy, &QPushButton::clicked, this, &KRAStatusLogDialog::onCopy);
    connect(m_buttonReConvert, &QPushButton::clicked, this, &KRAStatusLogDialog::onReConvert);
    connect(ok, &QPushButton::clicked, this, &KRAStatusLogDialog::onOK);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { refreshCopyButton(); });
    setView(view);
    QWidget::setTabOrder(m_tabs, m_buttonCopy);
    QWidget::setTabOrder(m_buttonCopy, m_buttonReConvert);
    QWidget::setTabOrder(m_buttonReConvert, ok);
    refreshCopyButton();
}

bool KRAStatusLogDialog::errorsTabShown() const
{
    return m_tabs && m_tabs->currentIndex() >= 0 && m_tabs->tabText(m_tabs->currentIndex()) == QLatin1String("Errors");
}

void KRAStatusLogDialog::refreshCopyButton()
{
    if (!m_buttonCopy)
        return;
    const bool errors = errorsTabShown();
    m_buttonCopy->setText(errors ? QStringLiteral("Copy Errors to Clipboard")
                                 : QStringLiteral("Copy Info to Clipboard"));
    m_buttonCopy->setEnabled(!(errors ? m_context.errors : m_context.infos).isEmpty());
}

QString KRAStatusLogDialog::tabText(bool errors) const
{
    QStringList lines;
    for (const KRAStatusLogEntryRef& entry : errors ? m_context.errors : m_context.infos) {
        lines.append(formatHeaderFor(*entry, errors));
        for (const QString& line : entry->entries)
            lines.append(QStringLiteral("   %1").arg(line));
    }
    return lines.join(QLatin1Char('\n'));
}

QString KRAStatusLogDialog::selectionText(KRAOutlineView* outline) const
{
    const bool errors = outline == m_tableErrors;
    const QList<QModelIndex> selected = outline->selectedItems();
    if (selected.isEmpty())
        return tabText(errors);
    const QList<KRAStatusLogEntryRef>& entries = errors ? m_context.errors : m_context.infos;
    QStringList lines;
    for (const QModelIndex& index : selected) {
        const int entry = index.data(kEntryRole).toInt();
        if (entry < 0 || entry >= entries.size())
            continue;
        const QVariant line = index.data(kLineRole);
        if (line.isValid())
            lines.append(QStringLiteral("   %1").arg(entries.at(entry)->entries.value(line.toInt())));
        else
            lines.append(formatHeaderFor(*entries.at(entry), errors));
    }
    return lines.join(QLatin1Char('\n'));
}

void KRAStatusLogDialog::onCopy()
{
    QGuiApplication::clipboard()->setText(tabText(errorsTabShown()));
}

bool KRAStatusLogDialog::performKeyEquivalent(QKeyEvent* event, QAbstractItemView* view)
{
    auto* outline = qobject_cast<KRAOutlineView*>(view);
    if (!outline || !isCmdKeyDown(event) || event->key() != Qt::Key_C)
        return false;
    QGuiApplication::clipboard()->setText(selectionText(outline));
    return true;
}

void KRAStatusLogDialog::done()
{
    if (auto host = std::dynamic_pointer_cast<KRAConversionHost>(m_context.host.lock()))
        host->conversionAllDone();
}

void KRAStatusLogDialog::onOK()
{
    done();
}

void KRAStatusLogDialog::cancelOperation(QObject*)
{
    done();
}

void KRAStatusLogDialog::onCloseAndEject()
{
    m_context.ejectDisc();
    done();
}

void KRAStatusLogDialog::onReConvert()
{
    if (!m_context.canReconvert())
        return;
    std::shared_ptr<KRAStatusLogDialog> self;
    try {
        self = shared_from_this();
    } catch (const std::bad_weak_ptr&) {
        return; // not owned by a host: there is nothing to come back to
    }
    m_context.doReconvertFrom(self);
}
