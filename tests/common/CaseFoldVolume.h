// A folder on a volume that compares names without case, made for a test where the machine
// allows it (as root): a FAT image through a loop device, a tmpfs mounted with casefold, or
// an ext4 image made with the casefold feature and a folder with the casefold attribute. Where
// none can be made, ok() is false and why() says what was tried, for the test's skip message.
// Declare it after the temporary folder it lives in: it unmounts before that is removed.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"

class CaseFoldVolume {
public:
    explicit CaseFoldVolume(const std::string& base)
        : m_mount(base + "/casefold-mount"), m_image(base + "/casefold.img")
    {
        if (geteuid() != 0) {
            m_why = "making a volume needs root";
            return;
        }
        if (mkdir(m_mount.c_str(), 0700) != 0) {
            m_why = "no mount folder";
            return;
        }
        for (const char* mkfs : {"mkfs.vfat", "mkfs.fat"})
            if (!ProgramOnPath(mkfs).empty() && makeImage() && RunProgramQuietly({mkfs, m_image}) &&
                mountAndCheck({"mount", "-o", "loop", m_image, m_mount}, m_mount))
                return;
        if (mountAndCheck({"mount", "-t", "tmpfs", "-o", "casefold,size=8m", "tmpfs", m_mount}, m_mount + "/f"))
            return;
        if (makeImage() && RunProgramQuietly({"mkfs.ext4", "-q", "-F", "-O", "casefold", m_image}) &&
            mountAndCheck({"mount", "-o", "loop", m_image, m_mount}, m_mount + "/f"))
            return;
        m_why = "this machine makes no volume that folds case: no FAT support (mkfs.vfat and the vfat "
                "module), and ext4 and tmpfs casefold need a kernel built with CONFIG_UNICODE";
    }
    ~CaseFoldVolume()
    {
        if (m_mounted)
            RunProgramQuietly({"umount", m_mount});
    }
    CaseFoldVolume(const CaseFoldVolume&) = delete;
    CaseFoldVolume& operator=(const CaseFoldVolume&) = delete;

    bool ok() const { return !m_folder.empty(); }
    // A folder whose names fold case.
    const std::string& folder() const { return m_folder; }
    const std::string& why() const { return m_why; }

private:
    bool makeImage()
    {
        WriteTextFile(m_image, "");
        return truncate(m_image.c_str(), 32 << 20) == 0;
    }
    // Mounts, makes the folder (with the casefold attribute where it is not the top), and
    // checks that a name is found under the other case.
    bool mountAndCheck(const std::vector<std::string>& mount, const std::string& folder)
    {
        if (!RunProgramQuietly(mount))
            return false;
        m_mounted = true;
        if (folder != m_mount && (mkdir(folder.c_str(), 0700) != 0 || !RunProgramQuietly({"chattr", "+F", folder}))) {
            unmount();
            return false;
        }
        WriteTextFile(folder + "/Probe.txt", "x");
        struct stat st;
        const bool folds = stat((folder + "/pROBE.TXT").c_str(), &st) == 0;
        unlink((folder + "/Probe.txt").c_str());
        if (!folds) {
            unmount();
            return false;
        }
        m_folder = folder;
        return true;
    }
    void unmount()
    {
        RunProgramQuietly({"umount", m_mount});
        m_mounted = false;
    }

    std::string m_mount, m_image, m_folder, m_why;
    bool m_mounted = false;
};
