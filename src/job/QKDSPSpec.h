// One configured effect in a chain: the effect's display name (its identity in every stored
// chain) and the argument string its page wrote. A chain is a list of these in order.
#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

class QKDSPSpec {
public:
    QString name;
    QString args;

    QKDSPSpec() = default;
    QKDSPSpec(const QString& name, const QString& args) : name(name), args(args) {}

    // The serial form: the two-item list [name, args].
    QVariantList data() const { return QVariantList{name, args}; }
    // A spec from its serial form; none unless the value is a list of exactly two items.
    static std::optional<QKDSPSpec> initWithData(const QVariant& data);

    bool operator==(const QKDSPSpec& other) const { return name == other.name && args == other.args; }
};

using QKDSPChain = QList<QKDSPSpec>;
