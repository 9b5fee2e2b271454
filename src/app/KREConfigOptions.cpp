#include "app/KREConfigOptions.h"

#include "engine/QKDebugLog.h"
#include "naming/ui/QKOptionsFileName.h"
#include "xclass/XRegistry.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QCheckBox* StoredOption(const QString& text, const QString& name, const wchar_t* valueName, QObject* context)
{
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    QObject::connect(box, &QCheckBox::toggled, context,
                     [valueName](bool on) { XRegistry::SetDWORD(on ? 1 : 0, valueName); });
    return box;
}

} // namespace

KREConfigOptions::KREConfigOptions()
{
    setTitle(QStringLiteral("Options"));
}

void KREConfigOptions::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    m_enableProfiles =
        StoredOption(QStringLiteral("Enable user profiles"), QStringLiteral("enableProfiles"), kAllowProfiles, this);
    m_showAudioOnly = StoredOption(QStringLiteral("Show audio-only formats in the batch converter's filter"),
                                   QStringLiteral("showAudioOnly"), kShowAudioOnly, this);
    m_checkForBetaUpdates = StoredOption(QStringLiteral("Check for beta versions too"),
                                         QStringLiteral("checkForBetaUpdates"), kCheckBetaUpdates, this);
    m_converterDebug = new QCheckBox(QStringLiteral("Keep a debug log of every conversion (until the program quits)"));
    m_converterDebug->setObjectName(QStringLiteral("converterDebug"));
    connect(m_converterDebug, &QCheckBox::toggled, this, [](bool on) { setDebugEnv(on); });
    layout->addWidget(m_enableProfiles);
    layout->addWidget(m_showAudioOnly);
    m_showAudioOnly->setVisible(!suppressShowAudioOnly());
    layout->addWidget(m_checkForBetaUpdates);
    m_checkForBetaUpdates->setVisible(!suppressCheckForBetaUpdates());
    layout->addWidget(m_converterDebug);

    auto* row = new QHBoxLayout;
    m_restricted = new QPushButton(QStringLiteral("Characters in File Names\u2026"));
    m_restricted->setObjectName(QStringLiteral("restrictedCharacters"));
    m_restricted->setToolTip(QStringLiteral("Which characters of output file names are replaced, and by what"));
    connect(m_restricted, &QPushButton::clicked, this, &KREConfigOptions::onSetRestrictedCharacters);
    row->addWidget(m_restricted);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    setView(view);
}

void KREConfigOptions::viewDidLoad()
{
    // Shown as stored (missing: off), without writing them back.
    const struct {
        QCheckBox* box;
        bool on;
    } states[] = {
        {m_enableProfiles, XRegistry::GetDWORD(kAllowProfiles) != 0},
        {m_showAudioOnly, XRegistry::GetDWORD(kShowAudioOnly) != 0},
        {m_checkForBetaUpdates, XRegistry::GetDWORD(kCheckBetaUpdates) != 0},
        {m_converterDebug, isDebugEnv()},
    };
    for (const auto& state : states) {
        const QSignalBlocker quiet(state.box);
        state.box->setChecked(state.on);
    }
}

void KREConfigOptions::onSetRestrictedCharacters()
{
    QKOptionsFileName::runForKRA(isViewLoaded() ? view()->window() : nullptr);
}
