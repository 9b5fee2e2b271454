// The program's launcher: the Video Converter and Batch Converter tiles, Help, the link to
// the advanced settings and the note about ffmpeg.
#pragma once

#include "app/QKConverterLauncherBase.h"

class KRELauncher : public QKConverterLauncherBase {
    Q_OBJECT
public:
    KRELauncher();

    void appSelected(uint64_t index) override;
    void showConfig() override;

protected:
    void viewDidLoad() override;

private:
    bool m_filled = false;
};
