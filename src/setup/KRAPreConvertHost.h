// What the converter setup asks of the window that shows it (the converter window host of
// the application shell): the profiles, the files, and where to go next. The host is also the
// panel's window host: the setup finds this side of it with std::dynamic_pointer_cast on the
// host it is shown in, as the progress dialog finds its conversion host. The interface names
// the setup's own types (profiles, the setup's result), which is why it lives here and not in
// the kit.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/QKConvertSource.h"
#include "job/QKEncoderDesc.h"
#include "media/QKFileInfoCache.h"
#include "setup/KRAConfig.h"

class KRAPreConvertDialog;

// One file to convert, as the setup and the list-and-rename panel see it.
class KRAPreConvertEntry {
public:
    explicit KRAPreConvertEntry(const QKConvertSourceRef& source)
        : m_namingURL(source ? source->urlPerceived() : QUrl()), m_source(source)
    {
    }

    bool checked = true;
    // A destination the user typed in list and rename; none: the file naming makes it.
    std::optional<QString> destinationUser;

    QUrl namingURL() const { return m_namingURL; }
    QKConvertSourceRef source2() const { return m_source; }

private:
    QUrl m_namingURL;
    QKConvertSourceRef m_source;
};
using KRAPreConvertEntryRef = std::shared_ptr<KRAPreConvertEntry>;

// What Go hands over: the profile to convert with (saved), its encoder, and the files that
// take part.
struct KRAPreConvertSetup {
    KRAProfileRef profile;
    QKEncoderDescRef encoder;
    QList<KRAPreConvertEntryRef> entries;
};

class KRAPreConvertHost {
public:
    virtual ~KRAPreConvertHost();

    virtual KRAConfigRef config() = 0;
    virtual QList<KRAPreConvertEntryRef> conversionEntries() = 0;
    // How many of the entries are ticked.
    virtual uint64_t numToConvert() = 0;
    // Go: the setup is saved and checked; the host goes on with the conversion.
    virtual void preConvertDone(const KRAPreConvertSetup& setup) = 0;
    // "Install missing codecs": the configuration panel's ffmpeg page.
    virtual void showConfigPanel() = 0;
    // The information of the files, read in the background (none: the panels read nothing).
    virtual QKFileInfoCacheRef infoCache() { return nullptr; }
};
