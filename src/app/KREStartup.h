// What the program does before anything else: fix the application's internal name, make sure
// its private data folder exists (owner only), point the registry store at the file
// "XRegistry" inside it, and set the store's default root and key that every later registry
// call relies on.
#pragma once

#include "xclass/XStr.h"

#include <string>

class KREStartup {
public:
    static constexpr const wchar_t* kInternalName = L"MarvoniVideo";
    static constexpr const wchar_t* kRegistryRoot = L"HKCU";
    static constexpr const wchar_t* kRegistryKeyPath = L"Software\\Brantok\\MarvoniVideo";
    static constexpr const char* kOrganizationName = "Brantok";
    static constexpr const char* kDisplayName = "Marvoni Video Converter";

    // The start-up steps; returns the data folder (with a trailing "/"). What could not be
    // put right about the folder is described in warning (empty otherwise), once, with what it
    // means; the program goes on regardless: registry writes are then lost, reads give each
    // caller's default, conversions still run. What start-up did on its own (moving the
    // folder of an earlier build) is told in notice.
    static XStr run(std::string* warning = nullptr, std::string* notice = nullptr);

    // The folder ~/Library/MarvoniVideo/ of builds before the XDG place is moved to the XDG
    // place once: only without _APPDATA_OVERRIDE, when it exists and the new place does not
    // (a folder at the new place is never merged into or replaced). When it cannot be moved
    // it stays in use where it is (for this process and the children it starts).
    static void moveOldDataFolder(std::string* warning, std::string* notice);

    // Whether files can be made in folder (tried, so that a read-only mount counts as root
    // too); the reason when not. No reason for a folder that is not there or no folder at all
    // (prepareDataFolder has said so).
    static bool dataFolderWritable(const XStr& folder, std::string* reason);

    // Makes sure folder exists and is readable by its owner only: creates it with mode 0700,
    // or takes the group's and others' rights away from an existing real folder of ours (never
    // through a symbolic link: what a link leads to keeps its rights). False, with a warning,
    // when it is left with wider rights, is not a folder or could not be made (the warning
    // then gives the reason the folder could not be made; the program goes on, the store
    // simply cannot save).
    static bool prepareDataFolder(const XStr& folder, std::string* warning);
};
