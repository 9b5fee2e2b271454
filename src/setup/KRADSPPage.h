// An effect settings page: a view controller that edits one effect of a chain and turns its
// settings into the effect's argument text and back.
//
// The settings live in the page's own members, not in its controls: dspArgs and setDspArgs
// work whether or not the view was ever made, so tools and tests read and write pages without
// a window. The controls are bound to the members when the view is built (the add* helpers
// below): a control changes its member at once, and setDspArgs refreshes every control.
#pragma once

#include <QComboBox>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

#include <functional>
#include <optional>
#include <vector>

#include "kit/QKViewController.h"

class QCheckBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QSlider;
class QSpinBox;
class KRADynamicNamingDialogV2_Context;

class KRADSPPage : public QKViewController {
    Q_OBJECT
public:
    explicit KRADSPPage(const QString& effectName, QObject* parent = nullptr);
    ~KRADSPPage() override;

    QString effectName() const { return m_effectName; }
    QWidget* pageView() { return view(); }

    // The argument text the settings stand for.
    virtual QString dspArgs() const = 0;
    // Sets the settings from a stored text (empty for an effect just added) and refreshes the
    // controls of a loaded view.
    void setDspArgs(const QString& args);

    // Asked before the settings are taken: false keeps the dialog open; the page has told the
    // user why. Pages without checks accept.
    virtual bool dspValidate() { return true; }
    // The height the page needs, when it needs more than its layout asks for.
    virtual std::optional<int> requiredHeight() const { return std::nullopt; }
    // Pages that show output names take the naming context the dialogs share.
    virtual bool acceptsNamingDialogContext() const { return false; }
    virtual void setNamingDialogContext(const std::shared_ptr<KRADynamicNamingDialogV2_Context>&) {}

    // The window sheets of the page are shown on (the page's own view when it has no window).
    QWidget* sheetParent();

signals:
    // A control changed the settings.
    void changed();

protected:
    virtual void readArgs(const QString& args) = 0;
    // Lays out the page's controls in the form; the base makes the view around it.
    virtual void buildForm(QFormLayout* form) = 0;
    // Texts beside controls that depend on the settings; run after every change.
    virtual void updateLabels() {}

    void loadView() override;
    // Every bound control shows its member again.
    void refreshControls();
    // The members changed by something other than a bound control (a button, a file panel).
    void settingsChanged();

    // Controls bound to members; each is added to the form with the label (none when empty;
    // not at all without a form) and returned for further setting up.
    QSpinBox* addInt(QFormLayout* form, const QString& label, int* value, int minimum, int maximum,
                     const QString& suffix = QString());
    QDoubleSpinBox* addReal(QFormLayout* form, const QString& label, double* value, double minimum, double maximum,
                            int decimals, double step);
    // A slider over an integer member, with a label beside it that updateLabels may fill.
    QSlider* addSlider(QFormLayout* form, const QString& label, int* value, int minimum, int maximum,
                       QLabel** valueLabel = nullptr);
    // A slider that moves a real member in steps of 1 / scale.
    QSlider* addRealSlider(QFormLayout* form, const QString& label, double* value, double minimum, double maximum,
                           int scale, QLabel** valueLabel = nullptr);
    // Seconds with milliseconds over a member that counts milliseconds.
    QDoubleSpinBox* addSeconds(QFormLayout* form, const QString& label, int* milliseconds, double maximumSeconds);
    QCheckBox* addFlag(QFormLayout* form, const QString& text, bool* value);
    QComboBox* addChoice(QFormLayout* form, const QString& label, int* index, const QStringList& items);
    QLineEdit* addText(QFormLayout* form, const QString& label, QString* value);
    // An editable pick list over a text member: the items are offered, any text is taken.
    QComboBox* addTextChoice(QFormLayout* form, const QString& label, QString* value, const QStringList& items);
    // A control the page refreshes itself.
    void addRefresher(std::function<void()> refresh);

private:
    void afterControlChange();

    QString m_effectName;
    std::vector<std::function<void()>> m_refreshers;
    bool m_refreshing = false;
};

// The pages of the two common kinds follow the data helpers below.

// The nine positions of a picture inside a frame, as the canvas and watermark pages offer them.
struct KRADSPPosition {
    QString label;
    QString canvasValue;
    QString watermarkValue;
};
const std::vector<KRADSPPosition>& dspPositions();
QStringList dspPositionLabels();
int dspCenteredPosition();    // "Centered"
int dspRightBottomPosition(); // "Right Bottom"

// A choice list of the resources' data files: labels and the argument text of each.
struct KRADSPChoices {
    QStringList labels;
    QStringList values;
};
// "NAME.txt" of the resources folder as label / value line pairs (a last unpaired line is
// ignored); empty lists when the file is missing or unreadable.
KRADSPChoices loadDSPChoices(const QString& resourceName);
// The pairs of a text, as loadDSPChoices reads a file.
KRADSPChoices dspChoicesFromText(const QString& text);
// The lines of "NAME.txt" of the resources folder, blank lines left out.
QStringList loadDSPLines(const QString& resourceName);

// Effects without settings: the page says what they do.
class KREDSPPageFixed : public KRADSPPage {
    Q_OBJECT
public:
    KREDSPPageFixed(const QString& name, const QString& args, const QString& explanation, QObject* parent = nullptr);
    QString dspArgs() const override { return m_args; }

protected:
    void readArgs(const QString&) override {}
    void buildForm(QFormLayout* form) override;

private:
    QString m_args;
    QString m_explanation;
};

// A choice among the lines of one of the resources' data files; the value is written as it
// stands and a stored text selects the value it equals.
class KREDSPPageDataChoice : public KRADSPPage {
    Q_OBJECT
public:
    // fallbackLabel: the label selected when a stored text matches no value (empty: the
    // selection stays).
    KREDSPPageDataChoice(const QString& name, const QString& resource, const QString& label,
                         const QString& fallbackLabel, QObject* parent = nullptr);
    QString dspArgs() const override;
    const KRADSPChoices& choices() const { return m_choices; }
    int index() const { return m_index; }
    void setIndex(int index);
    QComboBox* choiceBox() const { return m_box; }

protected:
    void readArgs(const QString& args) override;
    void buildForm(QFormLayout* form) override;

private:
    KRADSPChoices m_choices;
    QString m_label;
    QString m_fallbackLabel;
    int m_index = 0;
    QPointer<QComboBox> m_box;
};
