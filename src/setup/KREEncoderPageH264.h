// The pages of the libx264 encoders ("MP4 (H264)", "Matroska (H264)", "MOV (Quicktime Movie)")
// and the libx265 ones ("MP4 (H265)", "Matroska (H265)"), and their Advanced sheets: the
// encoder preset and, for H.264, the tune and a maximum-compatibility switch (baseline
// profile, level 3.0).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

#include "setup/KREEncoderPageCodec.h"

// The sheet of both pages; the tune and the compatibility switch are shown for H.264 only.
class KREEncoderPageAdvanced : public QDialog {
    Q_OBJECT
public:
    using Entry = std::pair<const char*, const char*>; // value word, label

    KREEncoderPageAdvanced(bool withTune, QWidget* parent);

    static const std::vector<Entry>& tuneEntries();
    static const std::vector<Entry>& presetEntries();
    QStringList lstTuneForEntries() const;
    QStringList lstQualityPresetEntries() const;

    // The value word of the selected entry; none for an index beyond the table.
    std::optional<QString> strTuneFor() const;
    std::optional<QString> strQualityPreset() const;
    // Selects the first entry of that value, else the default entry ("" / "medium").
    void setStrTuneFor(const QString& value);
    void setStrQualityPreset(const QString& value);
    bool bMaximumCompatibility() const { return m_compat && m_compat->isChecked(); }
    void setBMaximumCompatibility(bool on);

    uint64_t idxTuneFor() const { return m_tune ? static_cast<uint64_t>(m_tune->currentIndex()) : 0; }
    uint64_t idxQualityPreset() const { return static_cast<uint64_t>(m_preset->currentIndex()); }

    // Ends field edits, then accepts (code 1); cancel rejects (code 0).
    void onOK();
    void cancel() { reject(); }

private:
    QPointer<QComboBox> m_preset;
    QPointer<QComboBox> m_tune;
    QPointer<QCheckBox> m_compat;
};

class KREEncoderPageMP4H264Advanced : public KREEncoderPageAdvanced {
    Q_OBJECT
public:
    explicit KREEncoderPageMP4H264Advanced(QWidget* parent = nullptr) : KREEncoderPageAdvanced(true, parent) {}
};

class KREEncoderPageMP4H265Advanced : public KREEncoderPageAdvanced {
    Q_OBJECT
public:
    explicit KREEncoderPageMP4H265Advanced(QWidget* parent = nullptr) : KREEncoderPageAdvanced(false, parent) {}
};

class KREEncoderPageX26x : public KREEncoderPageCodec {
    Q_OBJECT
public:
    // Rate-control pop-up: 0 ABR, 1 CBR, 2 CRF, 3 Lossless.
    KREEncoderPageX26x(KRAEncoderPageHost* host, const QString& format, bool h264, QObject* parent = nullptr);

    bool isH264() const { return m_h264; }
    bool showQT() const { return outputContainerFormat().toLower() == QLatin1String("mov"); }

    QString encoderArgs() const override;
    void setEncoderArgs(const QString& args) override;
    void fillDefaultArgs() override { setDefCRF(); }
    bool acceptsFractionalCRF() const override { return true; }

    QString strQualityPreset() const { return m_preset; }
    QString strTuneFor() const { return m_tune; }
    bool bMaximumCompatiblility() const { return m_compat; }

    // Opens the Advanced sheet, window-modal on the host's window; on OK its values are taken.
    // Whatever the answer, the arguments are sent again.
    void onAdvanced();
    // The open sheet, while there is one.
    KREEncoderPageAdvanced* advancedSheet() const { return m_sheet; }

protected:
    void addControlsBelow(QVBoxLayout* layout) override;
    QString cbrItem(const QString& rate) const override { return x26xCBRItem(m_h264, rate); }
    QString losslessItem() const override { return x26xLosslessItem(m_h264); }

private:
    bool m_h264;
    QString m_preset;
    QString m_tune;
    bool m_compat = false;
    QPointer<KREEncoderPageAdvanced> m_sheet;
};

class KREEncoderPageH264 : public KREEncoderPageX26x {
    Q_OBJECT
public:
    KREEncoderPageH264(KRAEncoderPageHost* host, const QString& format, QObject* parent = nullptr)
        : KREEncoderPageX26x(host, format, true, parent)
    {
    }
};

class KREEncoderPageH265 : public KREEncoderPageX26x {
    Q_OBJECT
public:
    KREEncoderPageH265(KRAEncoderPageHost* host, const QString& format, QObject* parent = nullptr)
        : KREEncoderPageX26x(host, format, false, parent)
    {
    }
};
