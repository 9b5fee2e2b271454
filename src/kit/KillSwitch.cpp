#include "kit/KillSwitch.h"

KillSwitchHolder::KillSwitchHolder() : m_killSwitch(std::make_shared<KillSwitch>()) {}

KillSwitchHolder::~KillSwitchHolder()
{
    m_killSwitch->setDie(true);
}
