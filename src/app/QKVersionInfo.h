// The version check: which version of a product the maker's version list names.
//
// The list ("prog_versions.txt") is plain text in groups of three lines: product name,
// version text, address of that version. Lines end in LF, CR or CR LF; a UTF-8 byte-order
// mark at the start is skipped; the list ends at the first group that is not whole. Names
// match ignoring the case of A-Z only.
//
// One QKVersionInfoGlobals per process answers the launchers: it fetches the list on the
// caller's (background) thread and keeps the answer for ten minutes, so that several
// launcher windows cause one request.
#pragma once

#include "app/QKLauncherBase.h"
#include "xclass/XStr.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct QKVersionInfo {
    XStr URL;
    XStr Version;
};

struct QKVersionRecord {
    XStr Name;
    XStr Version;
    XStr URL;
};

// Every whole group of the list, in order.
std::vector<QKVersionRecord> QKReadVersionList(const uint8_t* data, size_t size);
// The first group whose name matches; none when no whole group does.
std::optional<QKVersionRecord> QKFindVersionEntry(const uint8_t* data, size_t size, const XStr& name);

class QKVersionInfoGlobals {
public:
    static constexpr const wchar_t* kListPath = L"/prog_versions.txt";
    static constexpr const wchar_t* kBetaListPath = L"/beta/prog_versions.txt";
    static constexpr std::chrono::milliseconds kCacheTime{600000};
    // A version list is a few lines; anything much larger is not one.
    static constexpr int kMaxListBytes = 256 * 1024;

    static std::shared_ptr<QKVersionInfoGlobals> createWithAppName(const XStr& name);
    // The process-wide object, made with the name on first use.
    static std::shared_ptr<QKVersionInfoGlobals> shared(const XStr& name);

    // The cached answer while it is younger than ten minutes, else a new fetch whose answer
    // (none included) is kept. Callers on several threads at once fetch once.
    std::optional<QKVersionInfo> getVersionInfo();
    // Fetches the list (the beta list first when "CheckBetaUpdates" is set); false with the
    // reason when neither arrives or "NoInternetForQK" forbids asking.
    static bool fetchList(std::vector<uint8_t>& list, XStr* error = nullptr);

    // The launcher's look-up: the listed version of the name, when its address is http or
    // https (no other kind of address is ever opened from the list). Asks the process-wide
    // object unless given another.
    static QKLauncherBase::VersionLookup launcherLookup(std::shared_ptr<QKVersionInfoGlobals> globals = nullptr);

private:
    explicit QKVersionInfoGlobals(const XStr& name) : m_appName(name) {}

    std::mutex m_lock;
    XStr m_appName;
    std::optional<QKVersionInfo> m_info;
    std::optional<std::chrono::steady_clock::time_point> m_lastCheck;
};
