#include "naming/ui/KRAOutputLocationPickerV2.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QPalette>

#include "kit/KRARichComboBox.h"
#include "kit/SheetFallback.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"

namespace {

const char kDisabledText[] = "not required for encoder";

// The red of the commands: the platform's "system red" is not a palette colour here.
QColor CommandRed()
{
    return QColor(0xc0, 0x1c, 0x28);
}

bool DestinationsEqual(const KRALocationDescriptorRef& a, const KRALocationDescriptorRef& b)
{
    if (!a || !b)
        return !a && !b;
    return a->isEqualTo(b.get());
}

} // namespace

// ---- Entries ---------------------------------------------------------------------------------

KRAOutputLocationPickerEntry KRAOutputLocationPickerEntry::entryNamed(const QString& name,
                                                                      const KRAFileNamingRef& naming)
{
    KRAOutputLocationPickerEntry entry;
    entry.displayValue = name;
    entry.naming = naming;
    return entry;
}

KRAOutputLocationPickerEntry KRAOutputLocationPickerEntry::entryNamed(const QString& name, Action action)
{
    KRAOutputLocationPickerEntry entry;
    entry.displayValue = name;
    entry.action = action;
    return entry;
}

KRAOutputLocationPickerEntry KRAOutputLocationPickerEntry::entryNamed(const QString& name)
{
    return entryNamed(name, Action::None);
}

KRAOutputLocationPickerEntry KRAOutputLocationPickerEntry::entryWithNaming(const KRAFileNamingRef& naming)
{
    return entryNamed(QString(), naming);
}

KRAOutputLocationPickerEntry KRAOutputLocationPickerEntry::separator()
{
    return entryNamed(QStringLiteral("---"));
}

QKAttributedText KRAOutputLocationPickerEntry::attributedDescription() const
{
    QKAttributedText text;
    if (!displayValue.isEmpty())
        text.append(displayValue, CommandRed());
    else if (naming)
        text = naming->attributedDescription();
    return text;
}

// ---- The picker ------------------------------------------------------------------------------

KRAOutputLocationPickerV2::KRAOutputLocationPickerV2(QObject* parent) : QKViewController(parent) {}

// An open naming dialog belongs to the window it is shown on; its end checks that the
// picker is still there.
KRAOutputLocationPickerV2::~KRAOutputLocationPickerV2() = default;

void KRAOutputLocationPickerV2::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QHBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    m_combo = new KRARichComboBox(view);
    m_combo->setObjectName(QStringLiteral("outputLocation"));
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_combo->setMinimumContentsLength(30);
    m_combo->setAccessibleName(QStringLiteral("Output location"));
    layout->addWidget(m_combo, 1);
    connect(m_combo, &QComboBox::activated, this, &KRAOutputLocationPickerV2::onComboActivated);
    setView(view);

    m_didLoadView = true;
    m_recent = KRAFileNaming::loadRecentList();
    buildFixedValues();
    updateCombo();
}

void KRAOutputLocationPickerV2::buildFixedValues()
{
    using Entry = KRAOutputLocationPickerEntry;
    m_fixedValues.clear();
    m_fixedValues.append(Entry::entryNamed(QStringLiteral("Edit Dynamic Naming"), Entry::Action::EditDynamicNaming));
    const bool allowSameFolder = !m_context || m_context->allowSameFolder();
    if (allowSameFolder)
        m_fixedValues.append(
            Entry::entryNamed(QStringLiteral("Existing Source Folder(s)"), KRAFileNaming::namingSameFolder()));
    m_fixedValues.append(Entry::entryNamed(QStringLiteral("Single Folder"), Entry::Action::SingleFolder));
    if (allowSameFolder)
        m_fixedValues.append(Entry::entryNamed(QStringLiteral("Preserve Source Path"), Entry::Action::PreservePath));
    m_fixedValues.append(Entry::separator());
}

void KRAOutputLocationPickerV2::setEncoder(const QKEncoderDescRef& encoder)
{
    m_encoder = encoder;
    const bool enabled = !(encoder && encoder->disableConvertToFolder);
    if (enabled != m_enabled) {
        m_enabled = enabled;
        updateCombo();
    }
}

void KRAOutputLocationPickerV2::setFileNaming(const KRAFileNamingRef& naming)
{
    if (naming)
        naming->convertToR16Dynamic();
    m_fileNaming = naming;
    if (m_didLoadView)
        updateCombo();
}

void KRAOutputLocationPickerV2::applyNaming(const KRAFileNaming& naming)
{
    if (!m_fileNaming)
        return;
    m_fileNaming->setFileNamingType(naming.fileNamingType());
    m_fileNaming->setDestination(naming.destination() ? naming.destination()->copy() : nullptr);
    m_fileNaming->setDynamicFormat(naming.dynamicFormat());
    onChanged();
}

void KRAOutputLocationPickerV2::onChanged()
{
    if (m_onChange)
        m_onChange();
}

bool KRAOutputLocationPickerV2::namingEquals(const KRAFileNaming& a, const KRAFileNaming& b)
{
    return a.fileNamingType() == b.fileNamingType() && DestinationsEqual(a.destination(), b.destination()) &&
           a.dynamicFormat() == b.dynamicFormat();
}

void KRAOutputLocationPickerV2::updateCombo()
{
    if (!m_didLoadView)
        return;
    m_rows.clear();
    m_selected = -1;
    if (!m_enabled) {
        fillCombo();
        return;
    }
    m_rows = m_fixedValues;
    const int commandCount = static_cast<int>(m_rows.size());
    for (const KRAFileNamingRef& naming : m_recent)
        m_rows.append(KRAOutputLocationPickerEntry::entryWithNaming(naming));

    const KRAFileNamingRef defaultNaming =
        KRAFileNaming::namingSingleFolderLoc(KRALocationDescriptor::withDefaultFolder());
    bool haveDefault = false;
    for (const KRAOutputLocationPickerEntry& row : m_rows)
        if (row.naming && defaultNaming->isEqualTo(row.naming.get()))
            haveDefault = true;
    if (!haveDefault)
        m_rows.append(KRAOutputLocationPickerEntry::entryWithNaming(defaultNaming));

    if (m_fileNaming) {
        for (int i = 0; i < m_rows.size(); ++i)
            if (m_rows[i].naming && m_fileNaming->isEqualTo(m_rows[i].naming.get())) {
                m_selected = i;
                break;
            }
        if (m_selected < 0) {
            m_rows.insert(commandCount, KRAOutputLocationPickerEntry::entryWithNaming(m_fileNaming->copy()));
            m_selected = commandCount;
        }
    }
    fillCombo();
}

void KRAOutputLocationPickerV2::fillCombo()
{
    if (!m_combo)
        return;
    m_filling = true;
    m_combo->clear();
    auto* rich = static_cast<KRARichComboBox*>(m_combo.data());
    if (!m_enabled) {
        m_combo->addItem(QString::fromLatin1(kDisabledText));
        m_combo->setCurrentIndex(0);
        m_combo->setEnabled(false);
        m_filling = false;
        return;
    }
    m_combo->setEnabled(true);
    for (const KRAOutputLocationPickerEntry& row : m_rows) {
        if (row.isSeparator())
            m_combo->insertSeparator(m_combo->count());
        else
            rich->addRichItem(row.attributedDescription());
    }
    m_combo->setCurrentIndex(m_selected);
    m_filling = false;
}

void KRAOutputLocationPickerV2::reselectCurrent()
{
    if (m_fileNaming)
        for (int i = 0; i < m_rows.size(); ++i)
            if (m_rows[i].naming && m_fileNaming->isEqualTo(m_rows[i].naming.get())) {
                m_selected = i;
                break;
            }
    if (m_combo && m_enabled)
        m_combo->setCurrentIndex(m_selected);
}

void KRAOutputLocationPickerV2::onComboActivated(int index)
{
    if (!m_filling)
        selectRow(index);
}

void KRAOutputLocationPickerV2::selectRow(int row)
{
    if (!m_enabled || row < 0 || row >= m_rows.size())
        return;
    const KRAOutputLocationPickerEntry entry = m_rows[row];
    if (entry.naming) {
        m_selected = row;
        if (m_combo)
            m_combo->setCurrentIndex(row);
        applyNaming(*entry.naming);
        return;
    }
    switch (entry.action) {
    case KRAOutputLocationPickerEntry::Action::EditDynamicNaming:
        editDynamicNaming();
        break;
    case KRAOutputLocationPickerEntry::Action::SingleFolder:
        onSingleFolder();
        break;
    case KRAOutputLocationPickerEntry::Action::PreservePath:
        onPreserveSourcePath();
        break;
    case KRAOutputLocationPickerEntry::Action::None:
        reselectCurrent();
        break;
    }
}

// ---- The commands ----------------------------------------------------------------------------

QWidget* KRAOutputLocationPickerV2::sheetParent() const
{
    return m_combo ? m_combo->window() : nullptr;
}

namespace {

QFileDialog* MakeFolderChooser(const KRAFileNamingRef& naming, QWidget* parent)
{
    auto* dialog = new QFileDialog(parent, QStringLiteral("Choose Destination Folder"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    if (naming && naming->destination()) {
        naming->destination()->resolve();
        const XStr path = naming->destination()->path();
        if (!path.IsEmpty())
            dialog->setDirectory(XStrToQString(path));
    }
    return dialog;
}

} // namespace

void KRAOutputLocationPickerV2::onSingleFolder()
{
    QPointer<KRAOutputLocationPickerV2> self(this);
    SheetFallback::beginFileSheet(MakeFolderChooser(m_fileNaming, sheetParent()), sheetParent(),
                                  [self](const QString& path) {
                                      if (self)
                                          self->singleFolderChosen(path);
                                  });
}

void KRAOutputLocationPickerV2::onPreserveSourcePath()
{
    QPointer<KRAOutputLocationPickerV2> self(this);
    SheetFallback::beginFileSheet(MakeFolderChooser(m_fileNaming, sheetParent()), sheetParent(),
                                  [self](const QString& path) {
                                      if (self)
                                          self->preservePathChosen(path);
                                  });
}

void KRAOutputLocationPickerV2::singleFolderChosen(const QString& folder)
{
    if (folder.isEmpty()) {
        reselectCurrent();
        return;
    }
    applyNaming(*KRAFileNaming::namingSingleFolder(QUrl::fromLocalFile(folder)));
    updateCombo();
}

void KRAOutputLocationPickerV2::preservePathChosen(const QString& folder)
{
    if (folder.isEmpty()) {
        reselectCurrent();
        return;
    }
    applyNaming(*KRAFileNaming::namingPreservePath(QUrl::fromLocalFile(folder)));
    updateCombo();
}

// ---- Recent locations ------------------------------------------------------------------------

void KRAOutputLocationPickerV2::saveToRecentList()
{
    if (!m_fileNaming || m_fileNaming->isSameFolder())
        return;
    QList<KRAFileNamingRef> recent = m_recent;
    for (qsizetype i = recent.size() - 1; i >= 0; --i)
        if (recent[i] && namingEquals(*recent[i], *m_fileNaming))
            recent.removeAt(i);
    recent.insert(0, m_fileNaming->copy());
    m_recent = recent;
    KRAFileNaming::saveRecentList(m_recent);
}
