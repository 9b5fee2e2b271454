#include "naming/ui/KRADynamicNamingDialogV2.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

#include <algorithm>

#include "kit/KitMenus.h"
#include "kit/SheetFallback.h"
#include "naming/KRADynamicNamingDialogV2_Context.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XFileName.h"

namespace {

using Items = QList<QPair<QString, QString>>;

// By name, comparing character codes (no case folding); each text stays with its name.
void SortByName(Items& items)
{
    std::stable_sort(items.begin(), items.end(),
                     [](const QPair<QString, QString>& a, const QPair<QString, QString>& b) {
                         return QString::compare(a.first, b.first, Qt::CaseSensitive) < 0;
                     });
}

Items Pairs(std::initializer_list<std::pair<const char*, const char*>> list)
{
    Items items;
    for (const auto& [name, text] : list)
        items.append({QString::fromUtf8(name), QString::fromUtf8(text)});
    return items;
}

// The function menu writes no-break spaces where the table shows blanks.
QString NoBreak(const char* text)
{
    QString out = QString::fromUtf8(text);
    out.replace(QLatin1Char(' '), QChar(0x00A0));
    return out;
}

} // namespace

KRADynamicNamingDialogV2::KRADynamicNamingDialogV2(std::shared_ptr<KRADynamicNamingDialogV2_Context> context,
                                                   bool folderPicker, QWidget* parent)
    : QDialog(parent), m_context(context ? std::move(context) : std::make_shared<KRADynamicNamingDialogV2_Context>()),
      m_folderPicker(folderPicker)
{
    setWindowTitle(QStringLiteral("Dynamic Naming"));
    buildWindow();
    makeExamples();
    startReadingExample();
    refreshExample();
}

KRADynamicNamingDialogV2::~KRADynamicNamingDialogV2() = default;

void KRADynamicNamingDialogV2::buildWindow()
{
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    int row = 0;
    if (m_folderPicker) {
        auto* label = new QLabel(QStringLiteral("&Base folder:"), this);
        m_baseField = new QLineEdit(this);
        m_baseField->setObjectName(QStringLiteral("baseLocation"));
        label->setBuddy(m_baseField);
        auto* choose = new QPushButton(QStringLiteral("C&hoose\u2026"), this);
        auto* root = new QPushButton(QStringLiteral("Source &Drive"), this);
        root->setToolTip(QStringLiteral("Names taken from the root of the source's drive (\"/\")"));
        auto* folderRow = new QHBoxLayout;
        folderRow->addWidget(m_baseField, 1);
        folderRow->addWidget(choose);
        folderRow->addWidget(root);
        grid->addWidget(label, row, 0);
        grid->addLayout(folderRow, row++, 1);
        connect(m_baseField, &QLineEdit::textChanged, this, [this](const QString& text) { m_baseLocation = text; });
        // Only the user's typing forgets the chosen folder; setBaseLocation keeps it.
        connect(m_baseField, &QLineEdit::textEdited, this, [this] { m_baseLocationURL = QUrl(); });
        connect(choose, &QPushButton::clicked, this, &KRADynamicNamingDialogV2::onSetBaseLocation);
        connect(root, &QPushButton::clicked, this, &KRADynamicNamingDialogV2::onBaseLocationToSourceDrive);
    }

    auto* patternLabel = new QLabel(QStringLiteral("&Naming pattern:"), this);
    m_pattern = new QLineEdit(this);
    m_pattern->setObjectName(QStringLiteral("pattern"));
    m_pattern->setMinimumWidth(420);
    patternLabel->setBuddy(m_pattern);
    grid->addWidget(patternLabel, row, 0);
    grid->addWidget(m_pattern, row++, 1);
    connect(m_pattern, &QLineEdit::textChanged, this, &KRADynamicNamingDialogV2::refreshExample);

    auto* insertRow = new QHBoxLayout;
    m_tagButton = new QPushButton(QStringLiteral("&Tag \u25BE"), this);
    auto* propertyButton = new QPushButton(QStringLiteral("&Property \u25BE"), this);
    auto* functionButton = new QPushButton(QStringLiteral("&Function \u25BE"), this);
    auto* examplesButton = new QPushButton(QStringLiteral("E&xamples \u25BE"), this);
    for (QPushButton* button : {m_tagButton, propertyButton, functionButton, examplesButton}) {
        button->setAutoDefault(false);
        insertRow->addWidget(button);
    }
    insertRow->addStretch(1);
    grid->addWidget(new QLabel(QStringLiteral("Insert:"), this), row, 0);
    grid->addLayout(insertRow, row++, 1);
    connect(m_tagButton, &QPushButton::clicked, this, [this] { popUpMenu(m_tagButton, tagMenuItems(), false); });
    connect(propertyButton, &QPushButton::clicked, this,
            [this, propertyButton] { popUpMenu(propertyButton, propertyMenuItems(), false); });
    connect(functionButton, &QPushButton::clicked, this,
            [this, functionButton] { popUpMenu(functionButton, functionMenuItems(), false); });
    connect(examplesButton, &QPushButton::clicked, this,
            [this, examplesButton] { popUpMenu(examplesButton, m_examples, true); });
    examplesButton->setEnabled(m_context->allowSameFolder());

    grid->addWidget(new QLabel(QStringLiteral("Example:"), this), row, 0, Qt::AlignLeft | Qt::AlignTop);
    m_exampleLabel = new QLabel(this);
    m_exampleLabel->setObjectName(QStringLiteral("example"));
    // The example carries the example file's tag values, which are anybody's text: never
    // taken for markup.
    m_exampleLabel->setTextFormat(Qt::PlainText);
    m_exampleLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_exampleLabel->setWordWrap(true);
    m_exampleLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_exampleLabel->setMinimumHeight(m_exampleLabel->fontMetrics().lineSpacing() * 2);
    grid->addWidget(m_exampleLabel, row++, 1);

    // The switches change only the example data, so they sit under the example.
    auto* switches = new QHBoxLayout;
    m_useCurrent = new QCheckBox(QStringLiteral("Use the &current file's tags"), this);
    m_useCurrent->setEnabled(false);
    m_compilation = new QCheckBox(QStringLiteral("C&ompilation"), this);
    m_multiDisc = new QCheckBox(QStringLiteral("&Multi-disc"), this);
    switches->addWidget(m_useCurrent);
    switches->addWidget(m_compilation);
    switches->addWidget(m_multiDisc);
    switches->addStretch(1);
    grid->addLayout(switches, row++, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    connect(m_useCurrent, &QCheckBox::toggled, this, &KRADynamicNamingDialogV2::setExUseCurrentMeta);
    connect(m_compilation, &QCheckBox::toggled, this, &KRADynamicNamingDialogV2::setExCompilation);
    connect(m_multiDisc, &QCheckBox::toggled, this, &KRADynamicNamingDialogV2::setExMultiDisc);

    layout->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &KRADynamicNamingDialogV2::onOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &KRADynamicNamingDialogV2::onCancel);
    layout->addWidget(buttons);
    m_pattern->setFocus();
}

// ---- Values ------------------------------------------------------------------------------------

QString KRADynamicNamingDialogV2::curPattern() const
{
    return m_pattern->text();
}

void KRADynamicNamingDialogV2::setCurPattern(const QString& pattern)
{
    m_pattern->setText(pattern);
}

void KRADynamicNamingDialogV2::setWindowTitleText(const QString& title)
{
    m_windowTitle = title;
    if (!title.isEmpty())
        setWindowTitle(title);
}

QString KRADynamicNamingDialogV2::baseLocation() const
{
    return m_baseLocation;
}

void KRADynamicNamingDialogV2::setBaseLocation(const QString& text)
{
    m_baseLocation = text;
    if (m_baseField && m_baseField->text() != text)
        m_baseField->setText(text);
}

void KRADynamicNamingDialogV2::fixBaseLocationURL()
{
    if (!m_baseLocationURL.isEmpty())
        return;
    QString text = m_baseLocation;
    // "~name" is taken below the home folder too: it is not ours to expand, and left as it is
    // it would name a folder relative to wherever the program happened to be started.
    const bool fromHome = text == QStringLiteral("~") || text.startsWith(QStringLiteral("~/"));
    if (!fromHome && !text.startsWith(QLatin1Char('/')))
        text.prepend(QStringLiteral("~/"));
    XFileName path(XStrFromQString(text));
    path.ExpandHome();
    path.AddTrailingSlash();
    m_baseLocationURL = XFileURL(path);
}

void KRADynamicNamingDialogV2::setExUseCurrentMeta(bool on)
{
    if (on && !m_haveCurrentMeta)
        on = false;
    m_exUseCurrentMeta = on;
    if (m_useCurrent && m_useCurrent->isChecked() != on)
        m_useCurrent->setChecked(on);
    refreshExample();
}

void KRADynamicNamingDialogV2::setExCompilation(bool on)
{
    m_exCompilation = on;
    if (m_compilation && m_compilation->isChecked() != on)
        m_compilation->setChecked(on);
    refreshExample();
}

void KRADynamicNamingDialogV2::setExMultiDisc(bool on)
{
    m_exMultiDisc = on;
    if (m_multiDisc && m_multiDisc->isChecked() != on)
        m_multiDisc->setChecked(on);
    refreshExample();
}

void KRADynamicNamingDialogV2::setCurrentTrackMeta(const NTag& tags)
{
    // Given tags win over an example file still being read: its answer is dropped.
    m_reading = false;
    m_currentTrackMeta = tags;
    m_haveCurrentMeta = m_currentTrackMeta.Count() > 0;
    m_useCurrent->setEnabled(m_haveCurrentMeta);
    if (!m_haveCurrentMeta && m_exUseCurrentMeta)
        setExUseCurrentMeta(false);
    refreshExample();
}

// ---- The example file --------------------------------------------------------------------------

// Reading a file's tags runs ffprobe, which on a slow or hung volume takes as long as the
// volume wants: it happens on a worker, and the answer is taken only if the dialog is still
// there when it arrives (checked on the main thread, where the dialog is deleted). The worker
// is given the URL, not the context, whose answers may come live from a window.
void KRADynamicNamingDialogV2::startReadingExample()
{
    if (m_context->exampleMeta()) {
        exampleMetaArrived(m_context->currentExampleMeta());
        return;
    }
    const QUrl url = m_context->exampleURL();
    if (url.isEmpty())
        return;
    m_reading = true;
    const QPointer<KRADynamicNamingDialogV2> guard(this);
    QThreadPool::globalInstance()->start([guard, url] {
        const NTag tags = KRADynamicNamingDialogV2_Context::tagsOfFile(url);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, tags] {
                if (guard && guard->m_reading)
                    guard->exampleMetaArrived(tags);
            },
            Qt::QueuedConnection);
    });
}

void KRADynamicNamingDialogV2::exampleMetaArrived(const NTag& tags)
{
    m_reading = false;
    m_currentTrackMeta = tags;
    if (m_currentTrackMeta.Count() > 0) {
        m_haveCurrentMeta = true;
        m_useCurrent->setEnabled(true);
        setExUseCurrentMeta(true);
    }
    refreshExample();
    emit exampleMetaLoaded();
}

void KRADynamicNamingDialogV2::refreshExample()
{
    if (!m_pattern)
        return;
    m_example = m_context->exampleFor(curPattern(), m_haveCurrentMeta && m_exUseCurrentMeta, m_currentTrackMeta,
                                      m_exCompilation, m_exMultiDisc);
    if (m_exampleLabel)
        m_exampleLabel->setText(m_example);
}

// ---- Menus -------------------------------------------------------------------------------------

QList<QPair<QString, QString>> KRADynamicNamingDialogV2::tagMenuItems() const
{
    Items items = Pairs({{"Artist", "[artist]"},
                         {"Album Artist", "[album artist]"},
                         {"Album Title", "[album]"},
                         {"Composer", "[composer]"},
                         {"Conductor", "[conductor]"},
                         {"Disc number", "[disc]"},
                         {"Disc total", "[disc_total]"},
                         {"Band", "[band]"},
                         {"Compilation", "[compilation]"},
                         {"Genre", "[genre]"},
                         {"ISRC", "[isrc]"},
                         {"Label", "[label]"},
                         {"Mood", "[mood]"},
                         {"Style", "[style]"},
                         {"Tempo", "[tempo]"},
                         {"Title", "[title]"},
                         {"Track number", "[track]"},
                         {"Track number (unpadded)", "[track_unpad]"},
                         {"Total track count", "[track_total]"},
                         {"Total track count (unpadded)", "[track_total_unpad]"},
                         {"Year", "[year]"},
                         {"UPC", "[upc]"}});
    SortByName(items);
    items += Pairs({{"User defined tag", "[tag]tagname[]"}, {"User defined tags", "[tags]tagname,delimiter[]"}});
    return items;
}

QList<QPair<QString, QString>> KRADynamicNamingDialogV2::propertyMenuItems() const
{
    Items items = Pairs({{"Audio Quality", "[audio_quality]"},
                         {"Bitrate", "[bitrate]"},
                         {"Bitrate (Kbps)", "[k_bitrate]"},
                         {"Bits Per Sample", "[bits_per_sample]"},
                         {"Bytes Per Sample", "[bytes_per_sample]"},
                         {"Channels", "[channels]"},
                         {"Channels -1", "[channels_subone]"},
                         {"Encoder", "[encoder]"},
                         {"Encoder Extra", "[encoder+]"},
                         {"Encoder Extension", "[extension]"},
                         {"Frequency", "[frequency]"},
                         {"Gapless", "[gapless]"},
                         {"ID Tag Type", "[id_tag]"},
                         {"Length (seconds)", "[length]"},
                         {"Length (mm:ss)", "[length_mmss]"},
                         {"Length (hh:mm:ss)", "[length_hhmmss]"},
                         {"Protected", "[protected]"},
                         {"Now Time", "[time]"},
                         {"Now Date", "[date]"},
                         {"Now Day of Week", "[day_of_week]"},
                         {"Now Year", "[now_year]"},
                         {"Disc Unique Number", "[discunique]"},
                         {"Track Unique Number", "[unique]"},
                         {"CDDB Disc ID", "[cddb_id]"}});
    if (m_context->allowSameFolder())
        items += Pairs({{"Source Path", "[origpath]"}, {"Source Filename", "[origfilename]"}});
    SortByName(items);
    return items;
}

QList<QPair<QString, QString>> KRADynamicNamingDialogV2::functionMenuItems() const
{
    static const std::pair<const char*, const char*> kAlways[] = {
        {"Compilation", "[IFCOMP]included if compilation[]"},
        {"Not Compilation", "[IF!COMP]included if not a compilation[]"},
        {"Multi-Disc", "[IFMULTI]included if multi-disc[]"},
        {"Not Multi-Disc", "[IF!MULTI]included if not multi-disc[]"},
        {"Uppercase string", "[UPPER]string[]"},
        {"Lowercase string", "[LOWER]string[]"},
        {"Last Characters From String", "[RIGHT]count,string[]"},
        {"Grab Portion From String", "[GRAB]posfrom,posto,string[]"},
        {"Trim Start && Ending Spaces", "[TRIM]string[]"},
        {"Remove Portion of String", "[DEL]posfrom,posto,string[]"},
        {"Set String Length (increase or decrease)", "[SETLEN]count,pre,post,string[]"},
        {"Equals Test", "[IFEQUALS]tag,equals,string[]"},
        {"Not Equals Test", "[IF!EQUALS]tag,equals,string[]"},
        {"If Condition", "[IF]tag,condition,match,stringmatch,stringnomatch[]"},
        {"Tag Value Test", "[IFVALUE]tag,strifvalue,strnovalue[]"},
        {"Maximum Length", "[MAXLENGTH]maxlength,string[]"},
        {"Replace String", "[REPLACE]search,replacement,string[]"},
        {"Limit Word Count", "[WORD]string,wordcount[]"},
        {"Group a-c, d-f...", "[GROUP]group count,string[]"},
        {"Split a string around a character", "[SPLIT]split on,string,return index[]"},
    };
    static const std::pair<const char*, const char*> kFolders[] = {
        {"Remove First Folder", "[TRIMFIRSTFOLDER][origpath][]"},
        {"Remove Last Folder", "[TRIMLASTFOLDER][origpath][]"},
        {"Extract Folder x", "[FRONTFOLDER]pos[]"},
        {"Extract Folder count-x", "[BACKFOLDER]pos[]"},
    };
    Items items;
    for (const auto& [name, text] : kAlways)
        items.append({NoBreak(name), NoBreak(text)});
    if (m_context->allowSameFolder())
        for (const auto& [name, text] : kFolders)
            items.append({NoBreak(name), NoBreak(text)});
    SortByName(items);
    return items;
}

void KRADynamicNamingDialogV2::makeExamples()
{
    m_examples.clear();
    if (!m_context->allowSameFolder())
        return;
    m_examples = Pairs({
        {"Preserve Source Path and Filename", "[origpath]\\[origfilename]"},
        {"Remove First Two Source Folders", "[TRIMFIRSTFOLDER][TRIMFIRSTFOLDER][origpath][][]\\[origfilename]"},
        {"Create Folder with First Character from Artist", "[GRAB]1,1,[artist][]\\[artist]\\[album]\\[origfilename]"},
        {"Group artists into 'a-c' 'd-f' folders", "[GROUP]3,[artist][]\\[origfilename]"},
    });
    for (auto& example : m_examples)
        example.second.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// Menus open under their button, so that they work from the keyboard as well as the mouse.
void KRADynamicNamingDialogV2::popUpMenu(QPushButton* button, const QList<QPair<QString, QString>>& items, bool replace)
{
    if (items.isEmpty())
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto& [name, text] : items) {
        QAction* action = menu->addAction(mnemonicFree(name));
        const QString value = text;
        connect(action, &QAction::triggered, this, [this, value, replace] {
            if (replace)
                applyExample(value);
            else
                insertString(value);
        });
    }
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void KRADynamicNamingDialogV2::insertString(const QString& text)
{
    if (!m_pattern->hasFocus())
        m_pattern->setFocus(Qt::OtherFocusReason);
    if (m_pattern->hasSelectedText()) {
        const int end = m_pattern->selectionEnd();
        m_pattern->deselect();
        m_pattern->setCursorPosition(end);
    }
    m_pattern->insert(text);
    refreshExample();
}

void KRADynamicNamingDialogV2::applyExample(const QString& pattern)
{
    m_pattern->setFocus(Qt::OtherFocusReason);
    m_pattern->selectAll();
    m_pattern->insert(pattern);
    refreshExample();
}

// ---- Ending and the base folder ----------------------------------------------------------------

void KRADynamicNamingDialogV2::done(int code)
{
    if (m_didEndDialog)
        return;
    m_didEndDialog = true;
    QDialog::done(code);
}

void KRADynamicNamingDialogV2::onOK()
{
    if (m_didEndDialog)
        return;
    setFocus(Qt::OtherFocusReason);
    if (!SheetFallback::endSheet(this, 1))
        done(1);
}

void KRADynamicNamingDialogV2::onCancel()
{
    if (m_didEndDialog)
        return;
    if (!SheetFallback::endSheet(this, 0))
        done(0);
}

void KRADynamicNamingDialogV2::onBaseLocationToSourceDrive()
{
    setBaseLocation(QStringLiteral("/"));
    m_baseLocationURL = QUrl::fromLocalFile(QStringLiteral("/"));
}

void KRADynamicNamingDialogV2::onSetBaseLocation()
{
    auto* chooser = new QFileDialog(this, QStringLiteral("Choose Base Folder"));
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly, true);
    chooser->setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    if (!m_baseLocationURL.isEmpty())
        chooser->setDirectory(m_baseLocationURL.toLocalFile());
    QPointer<KRADynamicNamingDialogV2> self(this);
    SheetFallback::beginFileSheet(chooser, this, [self](const QString& path) {
        if (!self || path.isEmpty())
            return;
        self->m_baseLocationURL = QUrl::fromLocalFile(path);
        self->setBaseLocation(path);
    });
}
