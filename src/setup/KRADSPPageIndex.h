// Which page edits which effect: a new page object for an effect name of the catalogue.
#pragma once

#include <QString>

#include <memory>

class KRADSPPage;

class KRADSPPageIndex {
public:
    // The page of any of the catalogue's effects; none for a name outside it.
    static std::unique_ptr<KRADSPPage> createFor(const QString& name);
    // The page of one of the 18 effects every converter of the family shares; none otherwise.
    static std::unique_ptr<KRADSPPage> createCommonPageFor(const QString& name);
};
