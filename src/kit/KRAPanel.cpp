#include "kit/KRAPanel.h"

KRAPanel::~KRAPanel() = default;

KRAPanelHostInterface::~KRAPanelHostInterface() = default;
